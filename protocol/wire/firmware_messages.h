// Firmware transfer on the wire: the checksum, the data and end messages
// 'F' and the reply 'f'.
#pragma once

#include <cstdint>
#include <optional>

#include "protocol/wire/bytes.h"

namespace oxlo {

inline constexpr std::size_t kFirmwareChunkSize = 128;
inline constexpr std::size_t kFirmwareEndSize = 40;
inline constexpr std::uint8_t kFirmwareKindData = 0x00;
inline constexpr std::uint8_t kFirmwareKindEnd = 0x01;

// Starts at 0xFFFFFFFF; each byte is XORed in shifted left by (index mod 24).
class FirmwareChecksum {
 public:
  void Add(std::uint8_t byte, std::uint64_t index) {
    value_ ^= static_cast<std::uint32_t>(byte) << (index % 24);
  }
  void Reset() { value_ = 0xFFFFFFFFu; }
  std::uint32_t Value() const { return value_; }

  // Over a whole run, indices counted from its first byte.
  static std::uint32_t Of(ByteView bytes);

 private:
  std::uint32_t value_ = 0xFFFFFFFFu;
};

// `chunk` holds 1 to 128 bytes; its checksum is computed here.
Bytes BuildFirmwareData(const MacField& mac, std::uint32_t sequence, ByteView chunk);
Bytes BuildFirmwareEnd(const MacField& mac, std::uint32_t sequence, std::uint32_t imageLength,
                       std::uint32_t imageChecksum);

struct FirmwareReply {
  std::int32_t sequenceEcho = 0;
  std::optional<std::uint8_t> status;  // absent when the reply ends before it
};

// Throws ConversionError when the sequence field holds no number.
FirmwareReply ParseFirmwareReply(ByteView datagram);

// Whether `datagram` came from the device `target`: its MAC field is whole
// and is `target`'s. Every upload numbers its messages from 0, so another
// device's reply to a neighbour's upload echoes the same numbers.
bool FromFirmwareTarget(ByteView datagram, const MacField& target);

}  // namespace oxlo
