#include "protocol/firmware.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "protocol/conversion_error.h"
#include "protocol/frame.h"

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

ReplyVerdict EvaluateFirmwareReply(const FirmwareReply& reply, std::uint32_t waitingOn) {
  if (!reply.status) return ReplyVerdict::kRejected;
  // The device echoes the number of the message it answers: any other echo
  // is a copy of an earlier answer (or noise), never this message's verdict.
  if (static_cast<std::uint32_t>(reply.sequenceEcho) != waitingOn) return ReplyVerdict::kIgnored;
  return reply.status == 0x00 ? ReplyVerdict::kAccepted : ReplyVerdict::kRejected;
}

bool FromFirmwareTarget(ByteView datagram, const MacField& target) {
  return MacOf(datagram) == target;
}

FirmwareUpload::FirmwareUpload(const MacField& target, ImageReader read, FirmwareTimeouts timeouts,
                               std::uint64_t maxImageSize)
    : target_(target),
      read_image_(std::move(read)),
      timeouts_(timeouts),
      max_image_size_(std::min(maxImageSize, kMaxImageSize)) {}

Bytes FirmwareUpload::NextMessage() {
  if (state_ != kReadyToSend) throw std::logic_error("no firmware message is due");
  std::array<std::uint8_t, kFirmwareChunkSize> chunk{};
  std::size_t filled = 0;
  try {
    while (filled < chunk.size()) {
      const std::size_t got = read_image_(std::span(chunk).subspan(filled));
      if (got == 0) break;
      filled += std::min(got, chunk.size() - filled);
    }
    if (read_ + filled > max_image_size_) throw FirmwareImageTooLarge();
  } catch (...) {
    state_ = kFailed;
    throw;
  }
  for (std::size_t i = 0; i < filled; ++i) image_checksum_.Add(chunk[i], read_ + i);
  read_ += filled;

  if (filled == 0) {
    state_ = kAwaitingEndReply;
    return BuildFirmwareEnd(target_, sequence_, static_cast<std::uint32_t>(read_),
                            image_checksum_.Value());
  }
  state_ = kAwaitingDataReply;
  return BuildFirmwareData(target_, sequence_, std::span(chunk).first(filled));
}

std::chrono::milliseconds FirmwareUpload::ReplyTimeout() const {
  return state_ == kAwaitingEndReply ? timeouts_.end : timeouts_.data;
}

ReplyVerdict FirmwareUpload::OnReply(ByteView reply) {
  if (state_ != kAwaitingDataReply && state_ != kAwaitingEndReply) {
    throw std::logic_error("no firmware reply is awaited");
  }
  if (!FromFirmwareTarget(reply, target_)) return ReplyVerdict::kIgnored;
  ReplyVerdict verdict;
  try {
    verdict = EvaluateFirmwareReply(ParseFirmwareReply(reply), sequence_);
  } catch (...) {
    state_ = kFailed;
    throw;
  }
  if (verdict == ReplyVerdict::kIgnored) return verdict;
  if (verdict == ReplyVerdict::kRejected) {
    state_ = kFailed;
  } else if (state_ == kAwaitingEndReply) {
    state_ = kSucceeded;
  } else {
    ++sequence_;
    acknowledged_ = read_;
    state_ = kReadyToSend;
  }
  return verdict;
}

void FirmwareUpload::OnTimeout() {
  if (state_ == kAwaitingDataReply || state_ == kAwaitingEndReply) state_ = kFailed;
}

}  // namespace oxlo
