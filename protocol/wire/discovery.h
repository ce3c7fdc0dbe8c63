// Discovery query and reply, and the address assignment message 'S'.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "protocol/wire/bytes.h"

namespace oxlo {

// One discovered device, as the list shows it: every field is text.
struct DeviceRecord {
  std::string model;    // up to 20 characters
  std::string mac;      // MAC text
  std::string version;  // up to 8 characters
  std::string name;
  std::string ip;
  std::string mask;
  std::string gateway;
  // The name field's bytes up to its first NUL where they are no UTF-8 text
  // (`name` is then empty), so an assignment can give them back unchanged.
  std::string unreadableName{};

  bool operator==(const DeviceRecord&) const = default;
};

inline constexpr std::size_t kDiscoveryReplyMinSize = 85;
inline constexpr std::size_t kAddressAssignmentSize = 57;

// 0x02 'g' 0x03.
Bytes BuildDiscoveryQuery();

// Reads an accepted 'g' reply. A reply shorter than 85 bytes lacks fields
// and yields nothing.
std::optional<DeviceRecord> ParseDiscoveryReply(ByteView datagram);

// The 57-byte 'S' message from the texts of one list row. Throws
// ConversionError when a MAC group is not hex or an address part not a number.
Bytes BuildAddressAssignment(std::string_view macText, std::string_view ipText,
                             std::string_view maskText, std::string_view gatewayText,
                             std::string_view name);

}  // namespace oxlo
