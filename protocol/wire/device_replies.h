// The device's side of a settings conversation as both front ends see it:
// the read requests with the pause each needs, and every datagram a device
// sends turned into one typed reply.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <variant>

#include "protocol/wire/bytes.h"
#include "protocol/wire/can_messages.h"
#include "protocol/wire/settings_messages.h"

namespace oxlo {

// One read request and how long the device needs before the next one.
struct ReadStep {
  ReadRequestKind kind;
  std::chrono::milliseconds pauseAfter;
};

// The eleven requests that read a device, in the order it takes them.
inline constexpr std::array<ReadStep, kReadRequestKindCount> kReadPlan{{
    {ReadRequestKind::kNetwork, std::chrono::milliseconds(10)},
    {ReadRequestKind::kOperationMode, std::chrono::milliseconds(10)},
    {ReadRequestKind::kCan, std::chrono::milliseconds(0)},
    {FilterGroupRequest(0), std::chrono::milliseconds(20)},
    {FilterGroupRequest(1), std::chrono::milliseconds(20)},
    {FilterGroupRequest(2), std::chrono::milliseconds(20)},
    {FilterGroupRequest(3), std::chrono::milliseconds(20)},
    {FilterGroupRequest(4), std::chrono::milliseconds(20)},
    {FilterGroupRequest(5), std::chrono::milliseconds(20)},
    {FilterGroupRequest(6), std::chrono::milliseconds(20)},
    {FilterGroupRequest(7), std::chrono::milliseconds(20)},
}};

// 'u': the CAN settings were not changed.
struct CanUnchangedReply {};
// 'a': the device took the written settings into use.
struct ApplyAcknowledgement {};
// 'c': nothing when the reply is too short to carry the settings.
struct CanReply {
  std::optional<CanSettings> settings;
};
// 0x11-0x18: the group (0-7) the code names, and its slots when they decoded.
struct FilterGroupReply {
  int group = 0;
  std::optional<std::array<FilterEntry, kSlotsPerGroup>> slots;
};

using DeviceReply = std::variant<NetworkReply, OpModeReply, CanUnchangedReply, CanReply,
                                 ApplyAcknowledgement, FilterGroupReply>;

// A datagram AcceptDatagram takes whose code is one a device answers with,
// decoded as far as it goes; nothing for any other. The MAC is not examined:
// the caller knows which device it talks to (MacOf).
std::optional<DeviceReply> ParseDeviceReply(ByteView datagram);

}  // namespace oxlo
