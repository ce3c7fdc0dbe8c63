#include "protocol/wire/device_side.h"

#include <algorithm>

#include "protocol/wire/discovery.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/firmware_messages.h"
#include "protocol/wire/frame.h"

namespace oxlo {
namespace {

void AppendFixedText(Bytes& message, std::string_view text, std::size_t width) {
  const std::size_t kept = std::min(text.size(), width);
  message.insert(message.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(kept));
  message.insert(message.end(), width - kept, 0x00);
}

Bytes WithCode(Bytes message, std::uint8_t commandCode) {
  message[kCodeOffset] = commandCode;
  return message;
}

Bytes ShortReply(std::uint8_t commandCode, const MacField& mac) {
  Bytes message = BeginMessage(commandCode, &mac);
  message.push_back(kEtx);
  return message;
}

// Digits left-aligned and filled with 0x00; nullopt for anything else.
std::optional<std::uint32_t> ReadNumericText(ByteView field) {
  const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
  if (end == field.begin() ||
      std::any_of(end, field.end(), [](std::uint8_t b) { return b != 0; })) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (auto it = field.begin(); it != end; ++it) {
    if (*it < '0' || *it > '9') return std::nullopt;
    value = value * 10 + (*it - '0');
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace

Bytes BuildDiscoveryReply(const DeviceIdentity& device) {
  Bytes message = BeginMessage(code::kDiscovery, &device.mac);
  for (const Ipv4Field& address : {device.ip, device.gateway, device.mask}) {
    message.insert(message.end(), address.begin(), address.end());
  }
  const NameField name = NameToField(device.name);
  message.insert(message.end(), name.begin(), name.end());
  message.insert(message.end(), device.extra.begin(), device.extra.end());
  AppendFixedText(message, device.version, 8);
  AppendFixedText(message, device.model, 20);
  message.push_back(kEtx);
  return message;
}

Bytes BuildNetworkReply(const MacField& mac, const NetworkSettings& settings) {
  return WithCode(BuildNetworkMessage(mac, settings), code::kNetworkReply);
}

Bytes BuildOpModeReply(const MacField& mac, const PortSettings& settings) {
  return WithCode(BuildOpModeMessage(mac, settings), code::kOpModeReply);
}

Bytes BuildCanReply(const MacField& mac, const CanSettings& settings) {
  return WithCode(
      BuildCanSettings(mac, settings.baudIndex, settings.idFormat, settings.id, settings.mask),
      code::kCanReply);
}

Bytes BuildFilterGroupReply(const MacField& mac, int group,
                            const std::array<FilterEntry, kSlotsPerGroup>& slots) {
  std::array<std::int32_t, kSlotsPerGroup> types{};
  std::array<std::string, kSlotsPerGroup> ids;
  for (std::size_t s = 0; s < slots.size(); ++s) {
    types[s] = slots[s].type;
    ids[s] = slots[s].id;
  }
  return WithCode(BuildFilterGroup(mac, group, types, ids),
                  static_cast<std::uint8_t>(code::kFilterReplyFirst + group));
}

Bytes BuildApplyAck(const MacField& mac) {
  return ShortReply(code::kApplyAck, mac);
}

Bytes BuildUReply(const MacField& mac) {
  return ShortReply(code::kUReply, mac);
}

Bytes BuildFirmwareReply(const MacField& mac, std::uint32_t sequenceEcho,
                         std::optional<std::uint8_t> status) {
  Bytes message = BeginMessage(code::kFirmwareReply, &mac);
  AppendFixedText(message, std::to_string(sequenceEcho), 8);
  if (status) message.push_back(*status);
  message.push_back(kEtx);
  return message;
}

std::optional<AddressAssignment> ParseAddressAssignment(ByteView datagram) {
  if (datagram.size() != kAddressAssignmentSize ||
      AcceptDatagram(datagram) != code::kAddressAssignment) {
    return std::nullopt;
  }
  AddressAssignment assignment;
  assignment.mac = FieldAt<6>(datagram, 2);
  assignment.ip = FieldAt<4>(datagram, 8);
  assignment.gateway = FieldAt<4>(datagram, 12);
  assignment.mask = FieldAt<4>(datagram, 16);
  assignment.name = NameFromField(FieldAt<kNameFieldSize>(datagram, 24));
  return assignment;
}

std::optional<FirmwareMessage> ParseFirmwareMessage(ByteView datagram) {
  if (datagram.size() < kFirmwareEndSize || AcceptDatagram(datagram) != code::kFirmware) {
    return std::nullopt;
  }
  const auto sequence = ReadNumericText(datagram.subspan(8, 8));
  const auto length = ReadNumericText(datagram.subspan(17, 10));
  const auto checksum = ReadNumericText(datagram.subspan(27, 12));
  if (!sequence || !length || !checksum) return std::nullopt;

  FirmwareMessage message;
  message.mac = FieldAt<6>(datagram, 2);
  message.sequence = *sequence;
  message.kind = datagram[16];
  message.length = *length;
  message.checksum = *checksum;
  const std::size_t dataSize = datagram.size() - kFirmwareEndSize;
  if (message.kind == kFirmwareKindData) {
    if (dataSize != message.length || dataSize == 0 || dataSize > kFirmwareChunkSize)
      return std::nullopt;
    const ByteView data = datagram.subspan(39, dataSize);
    message.data.assign(data.begin(), data.end());
  } else if (message.kind != kFirmwareKindEnd || dataSize != 0) {
    return std::nullopt;
  }
  return message;
}

}  // namespace oxlo
