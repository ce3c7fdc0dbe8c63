#include "sim/firmware_receiver.h"

#include <gtest/gtest.h>

#include "sim_test_support.h"

namespace oxlo::sim {
namespace {

using testing::Image;
using testing::ReadFile;
using testing::TempDir;

const MacField kMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr char kFile[] = "02-00-00-00-00-01.bin";

FirmwareMessage Data(std::uint32_t sequence, const Bytes& chunk) {
  return FirmwareMessage{kMac,
                         sequence,
                         kFirmwareKindData,
                         static_cast<std::uint32_t>(chunk.size()),
                         FirmwareChecksum::Of(chunk),
                         chunk};
}

FirmwareMessage End(std::uint32_t sequence, const Bytes& image) {
  return FirmwareMessage{kMac,
                         sequence,
                         kFirmwareKindEnd,
                         static_cast<std::uint32_t>(image.size()),
                         FirmwareChecksum::Of(image),
                         {}};
}

Bytes Part(const Bytes& image, std::size_t offset, std::size_t size) {
  return Bytes(image.begin() + static_cast<std::ptrdiff_t>(offset),
               image.begin() + static_cast<std::ptrdiff_t>(offset + size));
}

struct Step {
  FirmwareMessage message;
  FirmwareStatus expected;
};

}  // namespace

// Each script runs on a fresh receiver; after a refusal the transfer starts
// over, which the steps after it show.
TEST(FirmwareReceiver, JudgesEachMessageOfATransfer) {
  const Bytes image = Image(300);
  const Bytes c0 = Part(image, 0, 128), c1 = Part(image, 128, 128), c2 = Part(image, 256, 44);
  FirmwareMessage badChecksum = Data(1, c1);
  badChecksum.checksum ^= 1;
  FirmwareMessage shortCount = Data(1, c1);
  shortCount.length = 127;
  FirmwareMessage wrongLength = End(3, image);
  wrongLength.length = 299;
  FirmwareMessage wrongImageChecksum = End(3, image);
  wrongImageChecksum.checksum ^= 0x100;
  Bytes otherChunk1 = c1;
  otherChunk1[5] ^= 0xFF;
  using S = FirmwareStatus;

  struct Script {
    const char* what;
    std::vector<Step> steps;
  };
  const Script scripts[] = {
      {"whole image",
       {{Data(0, c0), S::kOk},
        {Data(1, c1), S::kOk},
        {Data(2, c2), S::kOk},
        {End(3, image), S::kOk}}},
      {"empty image", {{End(0, {}), S::kOk}}},
      {"first chunk not 0", {{Data(1, c0), S::kOutOfOrder}, {Data(0, c0), S::kOk}}},
      {"sequence skips",
       {{Data(0, c0), S::kOk}, {Data(2, c1), S::kOutOfOrder}, {Data(3, c2), S::kOutOfOrder}}},
      {"chunk checksum",
       {{Data(0, c0), S::kOk}, {badChecksum, S::kChunkChecksum}, {Data(2, c2), S::kOutOfOrder}}},
      {"count disagrees with chunk", {{Data(0, c0), S::kOk}, {shortCount, S::kChunkChecksum}}},
      {"end too early", {{Data(0, c0), S::kOk}, {End(2, image), S::kOutOfOrder}}},
      {"end with wrong length",
       {{Data(0, c0), S::kOk},
        {Data(1, c1), S::kOk},
        {Data(2, c2), S::kOk},
        {wrongLength, S::kImageMismatch},
        {End(3, image), S::kOutOfOrder}}},
      {"end with wrong checksum",
       {{Data(0, c0), S::kOk},
        {Data(1, c1), S::kOk},
        {Data(2, c2), S::kOk},
        {wrongImageChecksum, S::kImageMismatch}}},
      // Chunks swapped keep every count right; only the image checksum,
      // which weighs each byte by its place, shows it.
      {"chunks swapped",
       {{Data(0, c1), S::kOk},
        {Data(1, c0), S::kOk},
        {Data(2, c2), S::kOk},
        {End(3, image), S::kImageMismatch}}},
      {"network copy of the last chunk",
       {{Data(0, c0), S::kOk},
        {Data(0, c0), S::kOk},
        {Data(1, c1), S::kOk},
        {Data(1, c1), S::kOk},
        {Data(2, c2), S::kOk},
        {End(3, image), S::kOk}}},
      {"same sequence, other content",
       {{Data(0, c0), S::kOk}, {Data(1, c1), S::kOk}, {Data(1, otherChunk1), S::kOutOfOrder}}},
      {"tool starts over",
       {{Data(0, c2), S::kOk},
        {Data(1, c2), S::kOk},
        {Data(0, c0), S::kOk},
        {Data(1, c1), S::kOk},
        {Data(2, c2), S::kOk},
        {End(3, image), S::kOk}}},
  };
  for (const Script& script : scripts) {
    SCOPED_TRACE(script.what);
    FirmwareReceiver receiver({}, kFile);
    for (std::size_t i = 0; i < script.steps.size(); ++i) {
      EXPECT_EQ(receiver.Receive(script.steps[i].message), script.steps[i].expected)
          << "step " << i;
    }
  }
}

// Each message arrives twice (the tool sends it from two addresses on one
// network): the copy is acknowledged again or, checking sequence numbers,
// refused; either way the transfer goes on and the image is kept whole.
TEST(FirmwareReceiver, ACopyOfTheLastAcceptedMessageLeavesTheTransferAlone) {
  const Bytes image = Image(300);
  const FirmwareMessage messages[] = {Data(0, Part(image, 0, 128)), Data(1, Part(image, 128, 128)),
                                      Data(2, Part(image, 256, 44)), End(3, image)};
  for (const bool rejectRepeats : {false, true}) {
    SCOPED_TRACE(rejectRepeats ? "refusing repeats" : "acknowledging repeats");
    const FirmwareStatus copyStatus =
        rejectRepeats ? FirmwareStatus::kRepeated : FirmwareStatus::kOk;
    TempDir dir;
    FirmwareReceiver receiver(dir.Path(), kFile, rejectRepeats);
    for (const FirmwareMessage& message : messages) {
      EXPECT_EQ(receiver.Receive(message), FirmwareStatus::kOk) << message.sequence;
      EXPECT_EQ(receiver.Receive(message), copyStatus) << message.sequence;
    }
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{kFile});
    EXPECT_EQ(ReadFile(dir.Path() / kFile), image);

    // Only the last accepted message counts as a copy: an older one is out
    // of order, and so is the same sequence number with other content.
    FirmwareReceiver older({}, kFile, rejectRepeats);
    for (int i : {0, 1, 2}) ASSERT_EQ(older.Receive(messages[i]), FirmwareStatus::kOk);
    EXPECT_EQ(older.Receive(messages[1]), FirmwareStatus::kOutOfOrder);
    FirmwareReceiver other({}, kFile, rejectRepeats);
    for (int i : {0, 1}) ASSERT_EQ(other.Receive(messages[i]), FirmwareStatus::kOk);
    EXPECT_EQ(other.Receive(Data(1, Part(image, 0, 128))), FirmwareStatus::kOutOfOrder);

    // After a finished upload the next one starts at sequence 0 as ever.
    EXPECT_EQ(receiver.Receive(messages[0]), FirmwareStatus::kOk);
  }
}

TEST(FirmwareReceiver, RejectsTheChosenSequenceOnly) {
  const Bytes image = Image(200);
  for (std::uint32_t rejectAt : {0u, 1u, 2u}) {
    SCOPED_TRACE(rejectAt);
    FirmwareReceiver receiver({}, kFile);
    const FirmwareMessage messages[] = {Data(0, Part(image, 0, 128)), Data(1, Part(image, 128, 72)),
                                        End(2, image)};
    for (std::uint32_t sequence = 0; sequence <= rejectAt; ++sequence) {
      EXPECT_EQ(receiver.Receive(messages[sequence], rejectAt),
                sequence == rejectAt ? FirmwareStatus::kRejectedOnRequest : FirmwareStatus::kOk);
    }
  }
}

// A device told to refuse the end message takes every chunk, then refuses
// the end whatever it says and keeps no image; only a whole accepted image
// counts, once, however often its end message comes.
TEST(FirmwareReceiver, RefusingTheEndTakesEveryChunkButNoImage) {
  const Bytes image = Image(300);
  const FirmwareMessage messages[] = {Data(0, Part(image, 0, 128)), Data(1, Part(image, 128, 128)),
                                      Data(2, Part(image, 256, 44)), End(3, image)};
  TempDir dir;
  FirmwareReceiver refusing(dir.Path(), kFile);
  for (int round = 0; round < 2; ++round) {
    for (int i : {0, 1, 2}) {
      EXPECT_EQ(refusing.Receive(messages[i], std::nullopt, true), FirmwareStatus::kOk) << i;
    }
    EXPECT_EQ(refusing.Receive(messages[3], std::nullopt, true),
              FirmwareStatus::kEndRefusedOnRequest);
    EXPECT_EQ(refusing.ImagesAccepted(), 0u);
    EXPECT_TRUE(dir.Entries().empty());
  }

  FirmwareReceiver accepting({}, kFile);
  for (const FirmwareMessage& message : messages) {
    ASSERT_EQ(accepting.Receive(message), FirmwareStatus::kOk);
  }
  EXPECT_EQ(accepting.ImagesAccepted(), 1u);
  EXPECT_EQ(accepting.Receive(messages[3]), FirmwareStatus::kOk);
  EXPECT_EQ(accepting.ImagesAccepted(), 1u) << "a copy of the end message counted again";
  EXPECT_EQ(accepting.Receive(End(0, {})), FirmwareStatus::kOk);
  EXPECT_EQ(accepting.ImagesAccepted(), 2u);
}

TEST(FirmwareReceiver, KeepsOnlyWholeAcceptedImages) {
  const Bytes first = Image(300, 1);
  const Bytes second = Image(130, 2);
  TempDir dir;
  FirmwareReceiver receiver(dir.Path(), kFile);

  ASSERT_EQ(receiver.Receive(Data(0, Part(first, 0, 128))), FirmwareStatus::kOk);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{std::string(kFile) + ".part"});
  ASSERT_EQ(receiver.Receive(Data(1, Part(first, 128, 128))), FirmwareStatus::kOk);
  ASSERT_EQ(receiver.Receive(Data(2, Part(first, 256, 44))), FirmwareStatus::kOk);
  ASSERT_EQ(receiver.Receive(End(3, first)), FirmwareStatus::kOk);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{kFile});
  EXPECT_EQ(ReadFile(dir.Path() / kFile), first);

  // A refused upload leaves the last accepted image as it was.
  ASSERT_EQ(receiver.Receive(Data(0, Part(second, 0, 128))), FirmwareStatus::kOk);
  ASSERT_EQ(receiver.Receive(End(1, second)), FirmwareStatus::kImageMismatch);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{kFile});
  EXPECT_EQ(ReadFile(dir.Path() / kFile), first);

  // An accepted one replaces it; a copy of a chunk is not written twice.
  ASSERT_EQ(receiver.Receive(Data(0, Part(second, 0, 128))), FirmwareStatus::kOk);
  ASSERT_EQ(receiver.Receive(Data(0, Part(second, 0, 128))), FirmwareStatus::kOk);
  ASSERT_EQ(receiver.Receive(Data(1, Part(second, 128, 2))), FirmwareStatus::kOk);
  ASSERT_EQ(receiver.Receive(End(2, second)), FirmwareStatus::kOk);
  EXPECT_EQ(ReadFile(dir.Path() / kFile), second);

  // Starting over mid-transfer drops what came before.
  ASSERT_EQ(receiver.Receive(Data(0, Part(first, 0, 128))), FirmwareStatus::kOk);
  ASSERT_EQ(receiver.Receive(Data(0, Part(second, 0, 128))), FirmwareStatus::kOk);
  ASSERT_EQ(receiver.Receive(Data(1, Part(second, 128, 2))), FirmwareStatus::kOk);
  ASSERT_EQ(receiver.Receive(End(2, second)), FirmwareStatus::kOk);
  EXPECT_EQ(ReadFile(dir.Path() / kFile), second);
}

TEST(FirmwareReceiver, AnImageThatCannotBeWrittenIsRefused) {
  TempDir dir;
  const Bytes image = Image(10);
  FirmwareReceiver receiver(dir.Path() / "missing", kFile);
  EXPECT_EQ(receiver.Receive(Data(0, image)), FirmwareStatus::kStorageFailed);
  FirmwareReceiver emptyImage(dir.Path() / "missing", kFile);
  EXPECT_EQ(emptyImage.Receive(End(0, {})), FirmwareStatus::kStorageFailed);
}

}  // namespace oxlo::sim
