#include "protocol/wire/device_replies.h"

#include "protocol/wire/frame.h"

namespace oxlo {

std::optional<DeviceReply> ParseDeviceReply(ByteView datagram) {
  const std::optional<std::uint8_t> code = AcceptDatagram(datagram);
  if (!code) return std::nullopt;
  switch (*code) {
    case code::kNetworkReply:
      return ParseNetworkReply(datagram);
    case code::kOpModeReply:
      return ParseOpModeReply(datagram);
    case code::kUReply:
      return CanUnchangedReply{};
    case code::kCanReply:
      return CanReply{ParseCanSettings(datagram)};
    case code::kApplyAck:
      return ApplyAcknowledgement{};
    default:
      break;
  }
  if (*code < code::kFilterReplyFirst || *code > code::kFilterReplyLast) return std::nullopt;
  FilterGroupReply reply;
  reply.group = *code - code::kFilterReplyFirst;
  if (const std::optional<FilterGroup> decoded = ParseFilterGroup(datagram))
    reply.slots = decoded->slots;
  return reply;
}

}  // namespace oxlo
