// The datagram frame and the command codes of the protocol.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

#include "protocol/wire/bytes.h"

namespace oxlo {

inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;

// Offsets every framed message shares.
inline constexpr std::size_t kCodeOffset = 1;
inline constexpr std::size_t kMacOffset = 2;
inline constexpr std::size_t kPayloadOffset = 8;

namespace code {
inline constexpr std::uint8_t kDiscovery = 0x67;          // 'g', query and reply
inline constexpr std::uint8_t kAddressAssignment = 0x53;  // 'S'
inline constexpr std::uint8_t kNetwork = 0x4E;            // 'N'
inline constexpr std::uint8_t kOpMode = 0x4F;             // 'O'
inline constexpr std::uint8_t kApply = 0x41;              // 'A'
inline constexpr std::uint8_t kNetworkReply = 0x6E;       // 'n'
inline constexpr std::uint8_t kOpModeReply = 0x6F;        // 'o'
inline constexpr std::uint8_t kApplyAck = 0x61;           // 'a'
inline constexpr std::uint8_t kUReply = 0x75;             // 'u'
inline constexpr std::uint8_t kCan = 0x43;                // 'C'
inline constexpr std::uint8_t kCanReply = 0x63;           // 'c'
inline constexpr std::uint8_t kFilterGroupFirst = 0x01;   // groups 1..8: 0x01..0x08
inline constexpr std::uint8_t kFilterGroupLast = 0x08;
inline constexpr std::uint8_t kFilterReplyFirst = 0x11;  // replies: 0x11..0x18
inline constexpr std::uint8_t kFilterReplyLast = 0x18;
inline constexpr std::uint8_t kFirmware = 0x46;       // 'F'
inline constexpr std::uint8_t kFirmwareReply = 0x66;  // 'f'
}  // namespace code

// Applied to every received datagram before its code is looked at.
// Ignored (nullopt): exactly 3 bytes (our own query echoed back), empty, or a
// last byte other than ETX. An accepted datagram of one byte has no code and
// is ignored as well, since it matches no code. Byte 0 is not examined.
std::optional<std::uint8_t> AcceptDatagram(ByteView datagram);

// The bytes of a received message that carry fields: everything before the
// closing ETX. A field that reaches into the ETX is missing, not data.
ByteView FieldBytes(ByteView datagram);

// The N bytes at `offset`; the caller has checked the length.
template <std::size_t N>
std::array<std::uint8_t, N> FieldAt(ByteView bytes, std::size_t offset) {
  std::array<std::uint8_t, N> field{};
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), N, field.begin());
  return field;
}

// Starts a message: STX, the code and, unless `mac` is null, the MAC field.
Bytes BeginMessage(std::uint8_t code, const MacField* mac);

// Reads the MAC field of a received message; nullopt when it is cut short.
std::optional<MacField> MacOf(ByteView datagram);

}  // namespace oxlo
