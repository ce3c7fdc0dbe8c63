#include "protocol/conversation/firmware_upload.h"

#include <algorithm>
#include <stdexcept>

namespace oxlo {

ReplyVerdict EvaluateFirmwareReply(const FirmwareReply& reply, std::uint32_t waitingOn) {
  if (!reply.status) return ReplyVerdict::kRejected;
  // The device echoes the number of the message it answers: any other echo
  // is a copy of an earlier answer (or noise), never this message's verdict.
  if (static_cast<std::uint32_t>(reply.sequenceEcho) != waitingOn) return ReplyVerdict::kIgnored;
  return reply.status == 0x00 ? ReplyVerdict::kAccepted : ReplyVerdict::kRejected;
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
