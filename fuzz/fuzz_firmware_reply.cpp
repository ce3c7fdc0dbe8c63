// Arbitrary bytes as the device's 'f' reply: read alone, judged, and fed to a
// whole firmware upload as the answer to every message it sends; and the
// same bytes as a script of what reaches an upload (CheckReplySequence):
// replies on time, late copies of earlier ones, replies to messages not yet
// sent, refusals, cut replies and time-outs. The upload's image is made from
// the input too, so the fuzzer steers both sides:
//   byte 0 (never examined by the reply reader)  image length, 2 bytes a step
//   input length                                  how the image reader hands
//                                                 out its bytes, and whether it
//                                                 fails part-way
#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/device_side.h"
#include "protocol/wire/frame.h"

namespace oxlo::fuzz {
namespace {

constexpr MacField kTarget = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
constexpr std::size_t kStatusOffset = 16;

void CheckReplyAlone(ByteView d) {
  std::string error;
  const std::optional<FirmwareReply> reply = Convert([&] { return ParseFirmwareReply(d); }, &error);
  if (!reply) {
    OXLO_FUZZ_CHECK(error.ends_with("' is not a valid integer value"));
    return;
  }
  // The sequence field holds 8 characters.
  OXLO_FUZZ_CHECK(reply->sequenceEcho >= 0 && reply->sequenceEcho <= 99999999);
  const ByteView fields = FieldBytes(d);
  OXLO_FUZZ_CHECK(reply->status.has_value() == (fields.size() > kStatusOffset));
  if (reply->status) OXLO_FUZZ_CHECK(*reply->status == fields[kStatusOffset]);

  // The reply a device makes for the same echo reads the same.
  const auto echo = static_cast<std::uint32_t>(reply->sequenceEcho);
  const FirmwareReply again =
      ParseFirmwareReply(BuildFirmwareReply(MacOrZero(d), echo, reply->status));
  OXLO_FUZZ_CHECK(again.sequenceEcho == reply->sequenceEcho && again.status == reply->status);

  // A reply without its status never passes. A whole one answers only the
  // message whose number it echoes (status 0x00 accepts, any other refuses)
  // and is ignored while any other message waits.
  const bool whole = reply->status.has_value();
  const ReplyVerdict other = whole ? ReplyVerdict::kIgnored : ReplyVerdict::kRejected;
  OXLO_FUZZ_CHECK(EvaluateFirmwareReply(*reply, echo + 1) == other);
  if (echo > 0) OXLO_FUZZ_CHECK(EvaluateFirmwareReply(*reply, echo - 1) == other);
  const bool ok = reply->status == std::uint8_t{0x00};
  OXLO_FUZZ_CHECK(EvaluateFirmwareReply(*reply, echo) ==
                  (ok ? ReplyVerdict::kAccepted : ReplyVerdict::kRejected));
}

// The checksum as its definition states it: from 0xFFFFFFFF, each byte XORed
// in shifted left by its index modulo 24.
std::uint32_t ReferenceChecksum(ByteView bytes) {
  std::uint32_t value = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    value ^= static_cast<std::uint32_t>(bytes[i]) << (i % 24);
  }
  return value;
}

struct ImageFailed : std::runtime_error {
  ImageFailed() : std::runtime_error("image read failed") {}
};

void CheckUpload(ByteView d) {
  if (d.empty()) return;
  Bytes image(static_cast<std::size_t>(d[0]) * 2);
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<std::uint8_t>(d[i % d.size()] ^ (i * 7));
  }
  constexpr std::size_t kSteps[] = {kFirmwareChunkSize, 1, 37, 200};
  const std::size_t step = kSteps[d.size() % 4];
  const bool readerFails = d.size() % 7 == 6;
  constexpr std::size_t kFailAt = 300;

  std::size_t position = 0;
  FirmwareUpload upload(kTarget, [&](std::span<std::uint8_t> buffer) -> std::size_t {
    if (readerFails && position >= kFailAt) throw ImageFailed();
    const std::size_t count = std::min({buffer.size(), step, image.size() - position});
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(position), count, buffer.begin());
    position += count;
    return count;
  });

  std::optional<FirmwareReply> expectedReply;
  try {
    expectedReply = ParseFirmwareReply(d);
  } catch (const ConversionError&) {
  }
  // Only the target answers; another device's reply is ignored unread.
  const bool fromTarget = MacOf(d) == kTarget;

  // Every message reads back, on the device's side, as the next piece of the image.
  std::size_t sent = 0;
  const std::size_t messageLimit = image.size() / kFirmwareChunkSize + 2;
  while (upload.State() == FirmwareUpload::kReadyToSend) {
    OXLO_FUZZ_CHECK(++sent <= messageLimit);
    const std::uint32_t sequence = upload.Sequence();
    const std::uint64_t readBefore = upload.BytesRead();
    OXLO_FUZZ_CHECK(upload.BytesAcknowledged() == readBefore);
    Bytes message;
    try {
      message = upload.NextMessage();
    } catch (const ImageFailed&) {
      OXLO_FUZZ_CHECK(readerFails);
      OXLO_FUZZ_CHECK(upload.State() == FirmwareUpload::kFailed);
      break;
    }
    const std::optional<FirmwareMessage> read = ParseFirmwareMessage(message);
    OXLO_FUZZ_CHECK(read.has_value());
    OXLO_FUZZ_CHECK(read->mac == kTarget && read->sequence == sequence);
    const bool isEnd = upload.State() == FirmwareUpload::kAwaitingEndReply;
    if (isEnd) {
      OXLO_FUZZ_CHECK(read->kind == kFirmwareKindEnd);
      OXLO_FUZZ_CHECK(read->length == image.size() && upload.BytesRead() == image.size());
      OXLO_FUZZ_CHECK(read->checksum == ReferenceChecksum(image));
      OXLO_FUZZ_CHECK(upload.ReplyTimeout() == kEndReplyTimeout);
    } else {
      OXLO_FUZZ_CHECK(upload.State() == FirmwareUpload::kAwaitingDataReply);
      OXLO_FUZZ_CHECK(read->kind == kFirmwareKindData);
      const std::size_t expectedSize =
          std::min(kFirmwareChunkSize, image.size() - static_cast<std::size_t>(readBefore));
      OXLO_FUZZ_CHECK(read->data.size() == expectedSize);
      OXLO_FUZZ_CHECK(upload.BytesRead() == readBefore + expectedSize);
      OXLO_FUZZ_CHECK(std::equal(read->data.begin(), read->data.end(),
                                 image.begin() + static_cast<std::ptrdiff_t>(readBefore)));
      OXLO_FUZZ_CHECK(read->checksum == ReferenceChecksum(read->data));
      OXLO_FUZZ_CHECK(upload.ReplyTimeout() == kDataReplyTimeout);
    }

    std::optional<ReplyVerdict> verdict;
    try {
      verdict = upload.OnReply(d);
    } catch (const ConversionError&) {
      OXLO_FUZZ_CHECK(fromTarget && !expectedReply);
      OXLO_FUZZ_CHECK(upload.State() == FirmwareUpload::kFailed);
      break;
    }
    if (fromTarget) {
      OXLO_FUZZ_CHECK(expectedReply.has_value());
      OXLO_FUZZ_CHECK(*verdict == EvaluateFirmwareReply(*expectedReply, sequence));
    } else {
      OXLO_FUZZ_CHECK(*verdict == ReplyVerdict::kIgnored);
    }
    if (*verdict == ReplyVerdict::kIgnored) {
      // Nothing changed; the same reply again is all that comes, so time out.
      OXLO_FUZZ_CHECK(upload.State() == (isEnd ? FirmwareUpload::kAwaitingEndReply
                                               : FirmwareUpload::kAwaitingDataReply));
      OXLO_FUZZ_CHECK(upload.Sequence() == sequence);
      OXLO_FUZZ_CHECK(upload.BytesAcknowledged() == readBefore);
      upload.OnTimeout();
      OXLO_FUZZ_CHECK(upload.State() == FirmwareUpload::kFailed);
      break;
    }
    if (*verdict == ReplyVerdict::kRejected) {
      OXLO_FUZZ_CHECK(upload.State() == FirmwareUpload::kFailed);
    } else if (isEnd) {
      OXLO_FUZZ_CHECK(upload.State() == FirmwareUpload::kSucceeded);
    } else {
      OXLO_FUZZ_CHECK(upload.State() == FirmwareUpload::kReadyToSend);
      OXLO_FUZZ_CHECK(upload.Sequence() == sequence + 1);
      OXLO_FUZZ_CHECK(upload.BytesAcknowledged() == upload.BytesRead());
    }
  }

  // A finished upload stays finished.
  const FirmwareUpload::StateKind finished = upload.State();
  OXLO_FUZZ_CHECK(finished == FirmwareUpload::kSucceeded || finished == FirmwareUpload::kFailed);
  upload.OnTimeout();
  OXLO_FUZZ_CHECK(upload.State() == finished);
  bool refused = false;
  try {
    upload.OnReply(d);
  } catch (const std::logic_error&) {
    refused = true;
  }
  OXLO_FUZZ_CHECK(refused && upload.State() == finished);
  if (finished == FirmwareUpload::kSucceeded) {
    OXLO_FUZZ_CHECK(upload.BytesAcknowledged() == image.size());
  }
}

// The reply rule as the device defines it, apart from the library's; only
// the target's replies answer.
ReplyVerdict ExpectedVerdict(ByteView datagram, const FirmwareReply& reply,
                             std::uint32_t inFlight) {
  if (MacOf(datagram) != kTarget) return ReplyVerdict::kIgnored;
  if (!reply.status) return ReplyVerdict::kRejected;
  if (static_cast<std::uint32_t>(reply.sequenceEcho) != inFlight) return ReplyVerdict::kIgnored;
  return *reply.status == 0x00 ? ReplyVerdict::kAccepted : ReplyVerdict::kRejected;
}

// d[0] sets the image length (50 bytes a step, so up to 26 messages); each
// later byte is one event while a message is in flight: its low 3 bits pick
// what comes, the rest (0-31) how far back or ahead, or which earlier reply.
// Success must come only from an accepting reply (status 0x00, the echo of
// the end message's number) while the end message waits.
void CheckReplySequence(ByteView d) {
  if (d.empty()) return;
  Bytes image(static_cast<std::size_t>(d[0] % 64) * 50);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31 + 7);
  std::size_t position = 0;
  FirmwareUpload upload(kTarget, [&](std::span<std::uint8_t> buffer) -> std::size_t {
    const std::size_t count = std::min(buffer.size(), image.size() - position);
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(position), count, buffer.begin());
    position += count;
    return count;
  });

  std::vector<Bytes> delivered;  // every reply so far, for late copies
  std::size_t at = 1;
  bool endAccepted = false;
  while (upload.State() == FirmwareUpload::kReadyToSend) {
    const std::uint32_t sequence = upload.Sequence();
    upload.NextMessage();
    const bool isEnd = upload.State() == FirmwareUpload::kAwaitingEndReply;
    while (upload.State() == FirmwareUpload::kAwaitingDataReply ||
           upload.State() == FirmwareUpload::kAwaitingEndReply) {
      if (at >= d.size()) {
        upload.OnTimeout();  // nothing more comes
        OXLO_FUZZ_CHECK(upload.State() == FirmwareUpload::kFailed);
        break;
      }
      const std::uint8_t event = d[at++];
      const std::uint32_t arg = event >> 3;
      Bytes reply;
      switch (event & 7) {
        case 0:
          reply = BuildFirmwareReply(kTarget, sequence, 0x00);
          break;
        case 1:
          reply = BuildFirmwareReply(kTarget, sequence, static_cast<std::uint8_t>(1 + arg));
          break;
        case 2:
          reply =
              BuildFirmwareReply(kTarget, sequence > arg ? sequence - 1 - arg : sequence + 1, 0x00);
          break;
        case 3:
          reply = BuildFirmwareReply(kTarget, sequence + 1 + arg, 0x00);
          break;
        case 4:
          if (delivered.empty()) continue;
          reply = delivered[arg % delivered.size()];
          break;
        case 5:
          reply = BuildFirmwareReply(kTarget, sequence, std::nullopt);
          break;
        case 6:
          upload.OnTimeout();
          OXLO_FUZZ_CHECK(upload.State() == FirmwareUpload::kFailed);
          continue;
        default: {
          const std::size_t n = std::min<std::size_t>(arg, d.size() - at);
          reply.assign(d.begin() + static_cast<std::ptrdiff_t>(at),
                       d.begin() + static_cast<std::ptrdiff_t>(at + n));
          at += n;
        }
      }
      delivered.push_back(reply);
      std::optional<FirmwareReply> read;
      try {
        read = ParseFirmwareReply(reply);
      } catch (const ConversionError&) {
      }
      const FirmwareUpload::StateKind before = upload.State();
      std::optional<ReplyVerdict> verdict;
      try {
        verdict = upload.OnReply(reply);
      } catch (const ConversionError&) {
        OXLO_FUZZ_CHECK(!read && upload.State() == FirmwareUpload::kFailed);
        continue;
      }
      if (!read) {
        OXLO_FUZZ_CHECK(MacOf(reply) != kTarget && *verdict == ReplyVerdict::kIgnored);
        continue;
      }
      OXLO_FUZZ_CHECK(*verdict == ExpectedVerdict(reply, *read, sequence));
      if (*verdict == ReplyVerdict::kIgnored) {
        OXLO_FUZZ_CHECK(upload.State() == before && upload.Sequence() == sequence);
      } else if (*verdict == ReplyVerdict::kRejected) {
        OXLO_FUZZ_CHECK(upload.State() == FirmwareUpload::kFailed);
      } else if (isEnd) {
        endAccepted = read->status == std::uint8_t{0x00} &&
                      static_cast<std::uint32_t>(read->sequenceEcho) == sequence;
        OXLO_FUZZ_CHECK(upload.State() == FirmwareUpload::kSucceeded);
      } else {
        OXLO_FUZZ_CHECK(upload.State() == FirmwareUpload::kReadyToSend);
      }
    }
  }
  const FirmwareUpload::StateKind finished = upload.State();
  OXLO_FUZZ_CHECK(finished == FirmwareUpload::kSucceeded || finished == FirmwareUpload::kFailed);
  OXLO_FUZZ_CHECK((finished == FirmwareUpload::kSucceeded) == endAccepted);
  if (endAccepted) OXLO_FUZZ_CHECK(upload.BytesAcknowledged() == image.size());
}

}  // namespace
}  // namespace oxlo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const oxlo::ByteView d(data, size);
  oxlo::fuzz::CheckReplyAlone(d);
  oxlo::fuzz::CheckUpload(d);
  oxlo::fuzz::CheckReplySequence(d);
  return 0;
}
