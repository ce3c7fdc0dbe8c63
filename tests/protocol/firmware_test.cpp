#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/conversion_error.h"
#include "protocol/wire/device_side.h"
#include "test_bytes.h"

namespace oxlo {
namespace {

using testing::Hex;

const MacField kMac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

Bytes Image(std::size_t size) {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 37 + 11);
  return image;
}

// Hands out the image in pieces of at most `step` bytes, like a file read.
FirmwareUpload::ImageReader ReaderOver(const Bytes& image, std::size_t step = 1000) {
  return [&image, step, offset = std::size_t{0}](std::span<std::uint8_t> buffer) mutable {
    const std::size_t n = std::min({buffer.size(), image.size() - offset, step});
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), n, buffer.begin());
    offset += n;
    return n;
  };
}

TEST(FirmwareChecksum, FoldsShiftedBytesIntoAllOnes) {
  EXPECT_EQ(FirmwareChecksum::Of(Bytes{}), 4294967295u);
  EXPECT_EQ(FirmwareChecksum::Of(Hex("61 62 63")), 4294966998u);

  const Bytes image = Image(256);
  FirmwareChecksum incremental;
  for (std::size_t i = 0; i < image.size(); ++i) incremental.Add(image[i], i);
  EXPECT_EQ(incremental.Value(), FirmwareChecksum::Of(image));
  // Byte 128 is shifted by 8 in the image, by 0 in its chunk.
  const std::uint32_t chunks = FirmwareChecksum::Of(std::span(image).first(128)) ^
                               FirmwareChecksum::Of(std::span(image).subspan(128));
  EXPECT_NE(FirmwareChecksum::Of(image), chunks);
  EXPECT_GE(FirmwareChecksum::Of(Bytes(5000, 0xFF)), 2147483648u);
}

TEST(FirmwareMessages, MatchTheLayout) {
  EXPECT_EQ(BuildFirmwareData(kMac, 0, Hex("61 62 63")),
            Hex("02 46 00 11 22 33 44 55 30 00 00 00 00 00 00 00 00 33 00 00 00 00 00 00 00 00"
                " 00 34 32 39 34 39 36 36 39 39 38 00 00 61 62 63 03"));
  EXPECT_EQ(BuildFirmwareEnd(kMac, 1, 3, 4294966998u),
            Hex("02 46 00 11 22 33 44 55 31 00 00 00 00 00 00 00 01 33 00 00 00 00 00 00 00 00"
                " 00 34 32 39 34 39 36 36 39 39 38 00 00 03"));
  const Bytes twelve = BuildFirmwareEnd(kMac, 12, 0, 0);
  EXPECT_EQ(Bytes(twelve.begin() + 8, twelve.begin() + 16), Hex("31 32 00 00 00 00 00 00"));
  EXPECT_EQ(BuildFirmwareData(kMac, 99999999, Image(128)).size(), 168u);
  EXPECT_THROW(BuildFirmwareData(kMac, 0, Bytes{}), std::invalid_argument);
  EXPECT_THROW(BuildFirmwareData(kMac, 0, Image(129)), std::invalid_argument);
}

TEST(FirmwareReply, ReadsTheEchoAndTheStatus) {
  struct Case {
    Bytes reply;
    std::int32_t echo;
    std::optional<std::uint8_t> status;
  };
  const Case cases[] = {
      {BuildFirmwareReply(kMac, 5, 0x00), 5, 0x00},
      {BuildFirmwareReply(kMac, 12345678, 0x07), 12345678, 0x07},
      {BuildFirmwareReply(kMac, 3, std::nullopt), 3, std::nullopt},
      {Hex("02 66 00 11 22 33 44 55 20 20 34 00 00 00 00 00 00 03"), 4, 0x00},  // leading blanks
      {Hex("02 66 00 11 22 33 44 55 39 03"), 9, std::nullopt},  // field ends with the datagram
  };
  for (const Case& c : cases) {
    const FirmwareReply reply = ParseFirmwareReply(c.reply);
    EXPECT_EQ(reply.sequenceEcho, c.echo);
    EXPECT_EQ(reply.status, c.status);
  }
}

TEST(FirmwareReply, EchoWithoutANumberIsAConversionError) {
  for (const char* hex : {"03", "02 66 03", "02 66 00 11 22 33 44 55 03",
                          "02 66 00 11 22 33 44 55 00 00 00 00 00 00 00 00 00 03",
                          "02 66 00 11 22 33 44 55 31 41 00 00 00 00 00 00 00 03",
                          "02 66 00 11 22 33 44 55 2D 31 00 00 00 00 00 00 00 03",
                          "02 66 00 11 22 33 44 55 20 20 20 20 20 20 20 20 00 03"}) {
    EXPECT_THROW(ParseFirmwareReply(Hex(hex)), ConversionError) << hex;
  }
}

TEST(FirmwareReply, OnlyTheAwaitedEchoWithItsStatusDecides) {
  struct Case {
    FirmwareReply reply;
    std::uint32_t waitingOn;
    ReplyVerdict verdict;
  };
  for (const Case& c :
       {Case{{6, 0x00}, 6, ReplyVerdict::kAccepted}, Case{{6, 0x01}, 6, ReplyVerdict::kRejected},
        Case{{6, std::nullopt}, 6, ReplyVerdict::kRejected},
        // A late reply to a message already answered.
        Case{{5, 0x00}, 6, ReplyVerdict::kIgnored}, Case{{5, 0x01}, 6, ReplyVerdict::kIgnored},
        Case{{0, 0x02}, 99999999, ReplyVerdict::kIgnored},
        // Only the awaited echo answers: a later one is no verdict on this
        // message either, however it reads.
        Case{{7, 0x00}, 6, ReplyVerdict::kIgnored}, Case{{7, 0x01}, 6, ReplyVerdict::kIgnored},
        Case{{-1, 0x00}, 6, ReplyVerdict::kIgnored},
        // Without its status byte a reply never passes.
        Case{{5, std::nullopt}, 6, ReplyVerdict::kRejected},
        Case{{7, std::nullopt}, 6, ReplyVerdict::kRejected},
        Case{{7, std::nullopt}, 17, ReplyVerdict::kRejected}}) {
    EXPECT_EQ(EvaluateFirmwareReply(c.reply, c.waitingOn), c.verdict)
        << c.reply.sequenceEcho << " while waiting on " << c.waitingOn;
  }
}

// Plays a device that accepts everything; returns the messages it received.
std::vector<FirmwareMessage> RunAcceptingDevice(FirmwareUpload& upload,
                                                std::vector<std::uint64_t>* progress = nullptr) {
  std::vector<FirmwareMessage> received;
  while (upload.State() == FirmwareUpload::kReadyToSend) {
    const auto message = ParseFirmwareMessage(upload.NextMessage());
    if (!message) throw std::runtime_error("malformed firmware message");
    received.push_back(*message);
    EXPECT_EQ(upload.OnReply(BuildFirmwareReply(kMac, message->sequence, 0x00)),
              ReplyVerdict::kAccepted);
    if (progress) progress->push_back(upload.BytesAcknowledged());
  }
  return received;
}

TEST(FirmwareUpload, CutsTheImageIntoChunksAndEndsWithLengthAndChecksum) {
  struct Case {
    std::size_t size;
    std::vector<std::size_t> chunks;
  };
  for (const Case& c : {Case{0, {}}, Case{3, {3}}, Case{128, {128}}, Case{129, {128, 1}},
                        Case{256, {128, 128}}, Case{300, {128, 128, 44}}}) {
    const Bytes image = Image(c.size);
    for (std::size_t step : {std::size_t{1}, std::size_t{50}, std::size_t{4096}}) {
      FirmwareUpload upload(kMac, ReaderOver(image, step));
      std::vector<std::uint64_t> progress;
      const auto received = RunAcceptingDevice(upload, &progress);
      EXPECT_EQ(upload.State(), FirmwareUpload::kSucceeded);
      ASSERT_EQ(received.size(), c.chunks.size() + 1) << c.size;

      Bytes reassembled;
      std::uint64_t acknowledged = 0;
      for (std::size_t k = 0; k < c.chunks.size(); ++k) {
        EXPECT_EQ(received[k].sequence, k);
        EXPECT_EQ(received[k].kind, kFirmwareKindData);
        EXPECT_EQ(received[k].data.size(), c.chunks[k]);
        EXPECT_EQ(received[k].checksum, FirmwareChecksum::Of(received[k].data));
        reassembled.insert(reassembled.end(), received[k].data.begin(), received[k].data.end());
        acknowledged += c.chunks[k];
        EXPECT_EQ(progress[k], acknowledged);
      }
      EXPECT_EQ(reassembled, image);
      const FirmwareMessage& end = received.back();
      EXPECT_EQ(end.kind, kFirmwareKindEnd);
      EXPECT_EQ(end.sequence, c.chunks.size());
      EXPECT_EQ(end.length, c.size);
      EXPECT_EQ(end.checksum, FirmwareChecksum::Of(image));
    }
  }
}

TEST(FirmwareUpload, WaitsFourSecondsForDataAndFortyOneForTheEnd) {
  const Bytes image = Image(10);
  FirmwareUpload upload(kMac, ReaderOver(image));
  upload.NextMessage();
  EXPECT_EQ(upload.ReplyTimeout(), std::chrono::seconds(4));
  upload.OnReply(BuildFirmwareReply(kMac, 0, 0x00));
  upload.NextMessage();
  EXPECT_EQ(upload.State(), FirmwareUpload::kAwaitingEndReply);
  EXPECT_EQ(upload.ReplyTimeout(), std::chrono::seconds(41));

  // A test's shorter waits, for either message.
  FirmwareUpload quick(kMac, ReaderOver(image),
                       {std::chrono::milliseconds(20), std::chrono::milliseconds(30)});
  quick.NextMessage();
  EXPECT_EQ(quick.ReplyTimeout(), std::chrono::milliseconds(20));
  quick.OnReply(BuildFirmwareReply(kMac, 0, 0x00));
  quick.NextMessage();
  EXPECT_EQ(quick.ReplyTimeout(), std::chrono::milliseconds(30));
}

TEST(FirmwareUpload, FailsOnRejectionTimeoutOrUnreadableReply) {
  const Bytes image = Image(300);
  {
    FirmwareUpload upload(kMac, ReaderOver(image));
    upload.NextMessage();
    upload.OnTimeout();
    EXPECT_EQ(upload.State(), FirmwareUpload::kFailed);
    EXPECT_EQ(upload.BytesAcknowledged(), 0u);
  }
  {
    FirmwareUpload upload(kMac, ReaderOver(image));
    upload.NextMessage();
    EXPECT_EQ(upload.OnReply(BuildFirmwareReply(kMac, 0, 0x01)), ReplyVerdict::kRejected);
    EXPECT_EQ(upload.State(), FirmwareUpload::kFailed);
  }
  {
    FirmwareUpload upload(kMac, ReaderOver(image));
    upload.NextMessage();
    EXPECT_THROW(upload.OnReply(Hex("02 66 00 11 22 33 44 55 58 00 03")), ConversionError);
    EXPECT_EQ(upload.State(), FirmwareUpload::kFailed);
    EXPECT_THROW(upload.NextMessage(), std::logic_error);
  }
  {
    // Every chunk accepted, then the device rejects the end message.
    FirmwareUpload upload(kMac, ReaderOver(image));
    while (upload.State() == FirmwareUpload::kReadyToSend) {
      upload.NextMessage();
      const bool end = upload.State() == FirmwareUpload::kAwaitingEndReply;
      upload.OnReply(BuildFirmwareReply(kMac, upload.Sequence(), end ? 0x09 : 0x00));
    }
    EXPECT_EQ(upload.State(), FirmwareUpload::kFailed);
    EXPECT_EQ(upload.BytesAcknowledged(), 300u);
  }
}

// Sends and accepts messages until `sequence` is the one in flight.
void AdvanceTo(FirmwareUpload& upload, std::uint32_t sequence) {
  upload.NextMessage();
  while (upload.Sequence() < sequence) {
    ASSERT_EQ(upload.OnReply(BuildFirmwareReply(kMac, upload.Sequence(), 0x00)),
              ReplyVerdict::kAccepted);
    upload.NextMessage();
  }
}

// Reply sequences a lossy, duplicating, reordering network or a second host
// address brings, for an image of two chunks and the end message (0, 1, 2).
// Success needs the device's accepting answer to the end message itself.
TEST(FirmwareUpload, SucceedsOnlyOnTheAcceptingAnswerToTheEndMessage) {
  struct Reply {
    std::int64_t echoFromAwaited;  // the echo, as an offset from the number awaited
    std::uint8_t status;
  };
  struct Case {
    const char* what;
    std::function<std::vector<Reply>(std::uint32_t sequence, bool end)> device;
    FirmwareUpload::StateKind outcome;
    std::size_t messages;
  };
  const Case cases[] = {
      {"every answer twice",
       [](std::uint32_t, bool) {
         return std::vector<Reply>{{0, 0}, {0, 0}};
       },
       FirmwareUpload::kSucceeded, 3},
      {"the answer before comes again first, refused as a repeat",
       [](std::uint32_t s, bool) {
         return s == 0 ? std::vector<Reply>{{0, 0}} : std::vector<Reply>{{-1, 0x01}, {0, 0}};
       },
       FirmwareUpload::kSucceeded, 3},
      {"a late acceptance of the last chunk, then the end refused",
       [](std::uint32_t, bool end) {
         return end ? std::vector<Reply>{{-1, 0}, {0, 0x01}} : std::vector<Reply>{{0, 0}};
       },
       FirmwareUpload::kFailed, 3},
      {"the end answered only by late copies of earlier acceptances",
       [](std::uint32_t, bool end) {
         return end ? std::vector<Reply>{{-1, 0}, {-2, 0}} : std::vector<Reply>{{0, 0}};
       },
       FirmwareUpload::kFailed, 3},
      // Left over from an earlier, longer upload to the same device.
      {"acceptances echoing later numbers only",
       [](std::uint32_t, bool) {
         return std::vector<Reply>{{50, 0}, {1, 0}};
       },
       FirmwareUpload::kFailed, 1},
      {"a later echo before the real answer",
       [](std::uint32_t, bool) {
         return std::vector<Reply>{{1, 0}, {0, 0}};
       },
       FirmwareUpload::kSucceeded, 3},
  };
  const Bytes image = Image(200);
  for (const Case& c : cases) {
    FirmwareUpload upload(kMac, ReaderOver(image));
    std::size_t messages = 0;
    while (upload.State() == FirmwareUpload::kReadyToSend) {
      upload.NextMessage();
      ++messages;
      const std::uint32_t awaited = upload.Sequence();
      ReplyVerdict verdict = ReplyVerdict::kIgnored;
      for (const Reply& r :
           c.device(awaited, upload.State() == FirmwareUpload::kAwaitingEndReply)) {
        const auto echo =
            static_cast<std::uint32_t>(static_cast<std::int64_t>(awaited) + r.echoFromAwaited);
        verdict = upload.OnReply(BuildFirmwareReply(kMac, echo, r.status));
        if (verdict != ReplyVerdict::kIgnored) break;
      }
      if (verdict == ReplyVerdict::kIgnored) upload.OnTimeout();
    }
    EXPECT_EQ(upload.State(), c.outcome) << c.what;
    EXPECT_EQ(messages, c.messages) << c.what;
  }
}

TEST(FirmwareUpload, ALateReplyToAnAnsweredMessageChangesNothing) {
  const Bytes image = Image(3000);
  for (const std::uint8_t status : {0x00, 0x01}) {
    SCOPED_TRACE(static_cast<int>(status));
    FirmwareUpload upload(kMac, ReaderOver(image));
    AdvanceTo(upload, 2);
    // Both earlier messages' late replies, e.g. a device refusing the
    // second copy of each.
    for (std::uint32_t echo : {1u, 0u, 1u}) {
      EXPECT_EQ(upload.OnReply(BuildFirmwareReply(kMac, echo, status)), ReplyVerdict::kIgnored);
      EXPECT_EQ(upload.State(), FirmwareUpload::kAwaitingDataReply);
      EXPECT_EQ(upload.Sequence(), 2u);
      EXPECT_EQ(upload.BytesAcknowledged(), 256u);
    }
    // The reply that answers the message in flight still decides.
    EXPECT_EQ(upload.OnReply(BuildFirmwareReply(kMac, 2, 0x00)), ReplyVerdict::kAccepted);
    EXPECT_EQ(upload.Sequence(), 3u);
    EXPECT_EQ(upload.BytesAcknowledged(), 384u);
  }
  {
    // At the end message too; the refusal that follows still fails it.
    const Bytes small = Image(10);
    FirmwareUpload upload(kMac, ReaderOver(small));
    AdvanceTo(upload, 1);
    ASSERT_EQ(upload.State(), FirmwareUpload::kAwaitingEndReply);
    EXPECT_EQ(upload.OnReply(BuildFirmwareReply(kMac, 0, 0x06)), ReplyVerdict::kIgnored);
    EXPECT_EQ(upload.State(), FirmwareUpload::kAwaitingEndReply);
    EXPECT_EQ(upload.OnReply(BuildFirmwareReply(kMac, 1, 0x04)), ReplyVerdict::kRejected);
    EXPECT_EQ(upload.State(), FirmwareUpload::kFailed);
  }
}

// Another device on the network answering a neighbour's upload echoes the
// same numbers: none of its replies, whatever they hold, is an answer, while
// the target's own reply still decides.
TEST(FirmwareUpload, OnlyTheTargetsRepliesAnswer) {
  const MacField neighbour{0x00, 0x11, 0x22, 0x33, 0x44, 0x56};
  const Bytes image = Image(3000);
  const struct {
    const char* what;
    Bytes reply;
  } foreign[] = {
      {"acceptance", BuildFirmwareReply(neighbour, 2, 0x00)},
      {"refusal", BuildFirmwareReply(neighbour, 2, 0x01)},
      {"cut before the status", BuildFirmwareReply(neighbour, 2, std::nullopt)},
      {"no number", Hex("02 66 00 11 22 33 44 56 3F 00 00 00 00 00 00 00 00 03")},
      {"cut inside the MAC field", Hex("02 66 00 11 22 33 03")},
      {"no MAC field", Hex("02 66 03")},
  };
  for (const bool atEnd : {false, true}) {
    const Bytes source = atEnd ? Image(2 * 128) : image;
    FirmwareUpload upload(kMac, ReaderOver(source));
    AdvanceTo(upload, 2);
    const FirmwareUpload::StateKind awaiting =
        atEnd ? FirmwareUpload::kAwaitingEndReply : FirmwareUpload::kAwaitingDataReply;
    ASSERT_EQ(upload.State(), awaiting);
    for (const auto& f : foreign) {
      EXPECT_EQ(upload.OnReply(f.reply), ReplyVerdict::kIgnored) << f.what << atEnd;
      EXPECT_EQ(upload.State(), awaiting) << f.what << atEnd;
      EXPECT_EQ(upload.BytesAcknowledged(), 256u) << f.what << atEnd;
    }
    EXPECT_EQ(upload.OnReply(BuildFirmwareReply(kMac, 2, 0x00)), ReplyVerdict::kAccepted);
    EXPECT_EQ(upload.State(), atEnd ? FirmwareUpload::kSucceeded : FirmwareUpload::kReadyToSend);
  }
  // A neighbour answering every message of its own upload, with the target
  // silent: nothing ever answers, and the upload fails on its time-out.
  const Bytes small = Image(300);
  FirmwareUpload upload(kMac, ReaderOver(small));
  upload.NextMessage();
  for (std::uint32_t echo = 0; echo < 4; ++echo) {
    EXPECT_EQ(upload.OnReply(BuildFirmwareReply(neighbour, echo, 0x00)), ReplyVerdict::kIgnored);
  }
  EXPECT_EQ(upload.Sequence(), 0u);
  upload.OnTimeout();
  EXPECT_EQ(upload.State(), FirmwareUpload::kFailed);
}

// A reply cut before its status byte, or with no number in its sequence
// field, fails the upload whether its echo is earlier, the awaited one or later.
TEST(FirmwareUpload, AMalformedReplyNeverSucceeds) {
  struct Case {
    const char* hex;
    bool conversionError;
  };
  const Case cases[] = {
      {"02 66 00 11 22 33 44 55 37 03", false},                       // '7': earlier than 17
      {"02 66 00 11 22 33 44 55 31 03", false},                       // '1': earlier
      {"02 66 00 11 22 33 44 55 31 37 03", false},                    // "17": the awaited one
      {"02 66 00 11 22 33 44 55 39 39 03", false},                    // "99": later
      {"02 66 00 11 22 33 44 55 31 37 00 00 00 00 00 00 03", false},  // ends at the status
      {"02 66 00 11 22 33 44 55 03", true},
      {"02 66 00 11 22 33 44 55 3F 00 00 00 00 00 00 00 00 03", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    for (const bool atEnd : {false, true}) {
      const Bytes image = Image(atEnd ? 17 * 128 : 3000);
      FirmwareUpload upload(kMac, ReaderOver(image));
      AdvanceTo(upload, 17);
      ASSERT_EQ(upload.State(),
                atEnd ? FirmwareUpload::kAwaitingEndReply : FirmwareUpload::kAwaitingDataReply);
      if (c.conversionError) {
        EXPECT_THROW(upload.OnReply(Hex(c.hex)), ConversionError);
      } else {
        EXPECT_EQ(upload.OnReply(Hex(c.hex)), ReplyVerdict::kRejected);
      }
      EXPECT_EQ(upload.State(), FirmwareUpload::kFailed);
      EXPECT_EQ(upload.BytesAcknowledged(), 17u * 128);
    }
  }
}

TEST(FirmwareUpload, AReadErrorFailsTheUploadAndReachesTheDriver) {
  FirmwareUpload upload(
      kMac, [](std::span<std::uint8_t>) -> std::size_t { throw std::runtime_error("Read error"); });
  EXPECT_THROW(upload.NextMessage(), std::runtime_error);
  EXPECT_EQ(upload.State(), FirmwareUpload::kFailed);
}

TEST(FirmwareUpload, RefusesAnImageBeyondTheLengthField) {
  const Bytes image = Image(300);
  FirmwareUpload upload(kMac, ReaderOver(image), {}, 256);
  std::size_t sent = 0;
  try {
    while (upload.State() == FirmwareUpload::kReadyToSend) {
      upload.NextMessage();
      ++sent;
      upload.OnReply(BuildFirmwareReply(kMac, upload.Sequence(), 0x00));
    }
    FAIL() << "sent an image over the limit";
  } catch (const FirmwareImageTooLarge&) {
    EXPECT_EQ(sent, 2u);
    EXPECT_EQ(upload.State(), FirmwareUpload::kFailed);
  }
}

}  // namespace
}  // namespace oxlo
