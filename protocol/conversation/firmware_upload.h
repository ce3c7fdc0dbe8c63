// The firmware upload as a state machine that the front ends drive, and
// how a reply answers the message awaited.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>

#include "protocol/wire/bytes.h"
#include "protocol/wire/firmware_messages.h"

namespace oxlo {

inline constexpr std::chrono::milliseconds kDataReplyTimeout{4000};
inline constexpr std::chrono::milliseconds kEndReplyTimeout{41000};

// How long the reply to a data message and to the end message is awaited;
// the device's own times unless a test shortens them.
struct FirmwareTimeouts {
  std::chrono::milliseconds data = kDataReplyTimeout;
  std::chrono::milliseconds end = kEndReplyTimeout;
};

enum class ReplyVerdict {
  kAccepted,
  kRejected,
  // Not an answer to this message: a late reply to one already answered, or
  // (FirmwareUpload) a reply from another device.
  kIgnored,
};

// A reply cut before its status byte is rejected whatever it echoes (the cut
// may have shortened the echo too), so a cut datagram never passes for
// acceptance. A whole reply answers only the message whose number it echoes:
// status 0x00 accepts it, any other status refuses it; a reply echoing any
// other number (a late copy of an earlier answer, say) is ignored.
ReplyVerdict EvaluateFirmwareReply(const FirmwareReply& reply, std::uint32_t waitingOn);

class FirmwareImageTooLarge : public std::runtime_error {
 public:
  FirmwareImageTooLarge() : std::runtime_error("The firmware image is too large.") {}
};

// One upload, without I/O. The driver asks for the next message, sends it,
// waits up to ReplyTimeout() and passes the reply (or the time-out) back:
//
//   FirmwareUpload upload(mac, readImage);
//   while (upload.State() == FirmwareUpload::kReadyToSend) {
//     send(upload.NextMessage());
//     deadline = now + upload.ReplyTimeout();
//     do reply = receive(deadline);
//     while (reply && upload.OnReply(*reply) == ReplyVerdict::kIgnored);
//     if (!reply) upload.OnTimeout();
//   }
//
// The image is read through `read` a chunk at a time and never held whole.
class FirmwareUpload {
 public:
  // Fills the buffer from the image; returns the bytes read, 0 at its end.
  // Errors propagate to the caller of NextMessage().
  using ImageReader = std::function<std::size_t(std::span<std::uint8_t> buffer)>;

  enum StateKind { kReadyToSend, kAwaitingDataReply, kAwaitingEndReply, kSucceeded, kFailed };

  // Lengths travel as 32-bit signed numbers, so an image stays below 2 GiB.
  static constexpr std::uint64_t kMaxImageSize = 0x7FFFFFFF;

  FirmwareUpload(const MacField& target, ImageReader read, FirmwareTimeouts timeouts = {},
                 std::uint64_t maxImageSize = kMaxImageSize);

  StateKind State() const { return state_; }

  // Reads the next chunk and returns its data message, or the end message
  // once the image is exhausted. Only in kReadyToSend.
  Bytes NextMessage();

  // How long to wait for the reply to the message just sent.
  std::chrono::milliseconds ReplyTimeout() const;

  // Judges the reply to the message in flight: one from any other device
  // than the target is ignored unread (FromFirmwareTarget), the target's is
  // judged by EvaluateFirmwareReply. The first reply that answers it
  // decides; after kIgnored nothing changed and the driver waits on within
  // the same time-out. Throws ConversionError (the upload is then failed)
  // when the target's reply holds no number in its sequence field.
  ReplyVerdict OnReply(ByteView reply);
  const MacField& Target() const { return target_; }
  // No reply in time: the upload fails.
  void OnTimeout();

  std::uint32_t Sequence() const { return sequence_; }
  // Bytes whose chunk the device accepted: the progress position.
  std::uint64_t BytesAcknowledged() const { return acknowledged_; }
  std::uint64_t BytesRead() const { return read_; }

 private:
  MacField target_;
  ImageReader read_image_;
  FirmwareTimeouts timeouts_;
  std::uint64_t max_image_size_;
  StateKind state_ = kReadyToSend;
  std::uint32_t sequence_ = 0;
  std::uint64_t read_ = 0;
  std::uint64_t acknowledged_ = 0;
  FirmwareChecksum image_checksum_;
};

}  // namespace oxlo
