#include "protocol/wire/firmware_messages.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "protocol/wire/conversion_error.h"
#include "protocol/wire/frame.h"

namespace oxlo {
namespace {

constexpr std::size_t kSequenceWidth = 8;
constexpr std::size_t kLengthWidth = 10;
constexpr std::size_t kChecksumWidth = 12;
constexpr std::size_t kSequenceOffset = 8;
constexpr std::size_t kStatusOffset = 16;

// Decimal digits, left-aligned, filled with 0x00 to the field's width.
void AppendNumericText(Bytes& message, std::uint64_t value, std::size_t width) {
  const std::string digits = std::to_string(value);
  if (digits.size() > width) throw std::invalid_argument("number too wide for its firmware field");
  message.insert(message.end(), digits.begin(), digits.end());
  message.insert(message.end(), width - digits.size(), 0x00);
}

Bytes BeginFirmwareMessage(const MacField& mac, std::uint32_t sequence, std::uint8_t kind,
                           std::uint64_t length, std::uint32_t checksum) {
  Bytes message = BeginMessage(code::kFirmware, &mac);
  AppendNumericText(message, sequence, kSequenceWidth);
  message.push_back(kind);
  AppendNumericText(message, length, kLengthWidth);
  AppendNumericText(message, checksum, kChecksumWidth);
  return message;
}

}  // namespace

std::uint32_t FirmwareChecksum::Of(ByteView bytes) {
  FirmwareChecksum checksum;
  for (std::size_t i = 0; i < bytes.size(); ++i) checksum.Add(bytes[i], i);
  return checksum.Value();
}

Bytes BuildFirmwareData(const MacField& mac, std::uint32_t sequence, ByteView chunk) {
  if (chunk.empty() || chunk.size() > kFirmwareChunkSize) {
    throw std::invalid_argument("a firmware chunk holds 1 to 128 bytes");
  }
  Bytes message = BeginFirmwareMessage(mac, sequence, kFirmwareKindData, chunk.size(),
                                       FirmwareChecksum::Of(chunk));
  message.insert(message.end(), chunk.begin(), chunk.end());
  message.push_back(kEtx);
  return message;
}

Bytes BuildFirmwareEnd(const MacField& mac, std::uint32_t sequence, std::uint32_t imageLength,
                       std::uint32_t imageChecksum) {
  Bytes message = BeginFirmwareMessage(mac, sequence, kFirmwareKindEnd, imageLength, imageChecksum);
  message.push_back(kEtx);
  return message;
}

FirmwareReply ParseFirmwareReply(ByteView datagram) {
  const ByteView fields = FieldBytes(datagram);
  const ByteView sequence =
      fields.size() > kSequenceOffset
          ? fields.subspan(kSequenceOffset)
                .first(std::min(kSequenceWidth, fields.size() - kSequenceOffset))
          : ByteView{};
  std::size_t i = 0;
  while (i < sequence.size() && sequence[i] == ' ') ++i;
  std::string digits;
  for (; i < sequence.size() && sequence[i] != 0x00; ++i)
    digits.push_back(static_cast<char>(sequence[i]));
  const bool isNumber =
      !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos;
  if (!isNumber) throw ConversionError::NotAnInteger(digits);

  FirmwareReply reply;
  reply.sequenceEcho = std::stoi(digits);  // at most 8 digits
  if (fields.size() > kStatusOffset) reply.status = fields[kStatusOffset];
  return reply;
}

bool FromFirmwareTarget(ByteView datagram, const MacField& target) {
  return MacOf(datagram) == target;
}

}  // namespace oxlo
