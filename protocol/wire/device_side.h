// The device's half of the protocol: the replies a device sends and readers for
// the messages it receives. Used by the simulator and by tests, which alter the
// bytes to make broken replies.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "protocol/wire/bytes.h"
#include "protocol/wire/can_messages.h"
#include "protocol/wire/settings_messages.h"

namespace oxlo {

struct DeviceIdentity {
  MacField mac{};
  Ipv4Field ip{};
  Ipv4Field gateway{};
  Ipv4Field mask{};
  Ipv4Field extra{};    // the further address the tool does not use
  std::string name;     // UTF-8
  std::string version;  // up to 8 bytes
  std::string model;    // up to 20 bytes
};

// The 85-byte discovery reply.
Bytes BuildDiscoveryReply(const DeviceIdentity& device);
Bytes BuildNetworkReply(const MacField& mac, const NetworkSettings& settings);
Bytes BuildOpModeReply(const MacField& mac, const PortSettings& settings);
Bytes BuildCanReply(const MacField& mac, const CanSettings& settings);
// `group` is 0-7.
Bytes BuildFilterGroupReply(const MacField& mac, int group,
                            const std::array<FilterEntry, kSlotsPerGroup>& slots);
Bytes BuildApplyAck(const MacField& mac);
Bytes BuildUReply(const MacField& mac);
// Without a status the reply ends after the sequence field.
Bytes BuildFirmwareReply(const MacField& mac, std::uint32_t sequenceEcho,
                         std::optional<std::uint8_t> status);

struct AddressAssignment {
  MacField mac{};
  Ipv4Field ip{};
  Ipv4Field gateway{};
  Ipv4Field mask{};
  std::string name;  // as NameFromField reads it
};
// nullopt unless the datagram is a 57-byte 'S' message.
std::optional<AddressAssignment> ParseAddressAssignment(ByteView datagram);

struct FirmwareMessage {
  MacField mac{};
  std::uint32_t sequence = 0;
  std::uint8_t kind = 0;  // 0 data, 1 end
  std::uint32_t length = 0;
  std::uint32_t checksum = 0;
  Bytes data;  // the chunk of a data message
};
// nullopt unless the datagram is a well-formed 'F' message: numeric fields of
// digits filled with 0x00, and a data message exactly as long as its count says.
std::optional<FirmwareMessage> ParseFirmwareMessage(ByteView datagram);

}  // namespace oxlo
