// The firmware driver against a device that answers from a thread of its
// own, as replies come from the receiving thread.
#include "transport/devices/firmware_driver.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "protocol/wire/conversion_error.h"
#include "protocol/wire/device_side.h"
#include "tests/protocol/test_bytes.h"

namespace oxlo::transport {
namespace {

using namespace std::chrono_literals;

const MacField kMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr FirmwareTimeouts kShortTimeouts{100ms, 150ms};

Bytes Image(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return bytes;
}

// Reads `image`, which outlives the reader, a chunk at a time.
FirmwareUpload::ImageReader ReaderOf(const Bytes& image) {
  return [&image, offset = std::size_t{0}](std::span<std::uint8_t> buffer) mutable {
    const std::size_t n = std::min(buffer.size(), image.size() - offset);
    if (n > 0)
      std::memcpy(buffer.data(), image.data() + offset, n);  // an empty image has no data()
    offset += n;
    return n;
  };
}

// What the device answers to one message, in order; nothing when empty.
using Answer = std::function<std::vector<Bytes>(const FirmwareMessage&)>;

Bytes Accept(const FirmwareMessage& m) {
  return BuildFirmwareReply(kMac, m.sequence, 0x00);
}

// Takes every message the driver sends, notes the sending thread, and posts
// the answers from its own thread; or, `inSend`, from within the send.
class Device final : public InterfaceBroadcaster {
 public:
  explicit Device(Answer answer, bool inSend = false)
      : answer_(std::move(answer)), in_send_(inSend) {}
  ~Device() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    arrived_.notify_one();
    worker_.join();
  }
  void Attach(FirmwareDriver& driver) { driver_ = &driver; }
  // Before the driver goes: answers still on their way are dropped.
  void Detach() {
    std::lock_guard lock(posting_);
    driver_ = nullptr;
  }

  void SendOnEveryInterface(ByteView data, std::uint16_t /*port*/) override {
    const std::optional<FirmwareMessage> m = ParseFirmwareMessage(data);
    ASSERT_TRUE(m.has_value());
    {
      std::lock_guard lock(mutex_);
      messages_.push_back(*m);
      senders_.push_back(std::this_thread::get_id());
      if (m->kind == 0) stored_.insert(stored_.end(), m->data.begin(), m->data.end());
      if (!in_send_) {
        queue_.push_back(*m);
        arrived_.notify_one();
        return;
      }
    }
    for (const Bytes& reply : answer_(*m)) driver_->PostReply(reply);
  }

  std::vector<FirmwareMessage> Messages() {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  std::vector<std::thread::id> Senders() {
    std::lock_guard lock(mutex_);
    return senders_;
  }
  Bytes Stored() {
    std::lock_guard lock(mutex_);
    return stored_;
  }
  std::thread::id WorkerId() const { return worker_.get_id(); }

 private:
  void Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      arrived_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      const FirmwareMessage m = queue_.front();
      queue_.pop_front();
      lock.unlock();
      {
        std::lock_guard posting(posting_);
        for (const Bytes& reply : answer_(m)) {
          if (driver_ != nullptr) driver_->PostReply(reply);
        }
      }
      lock.lock();
    }
  }

  Answer answer_;
  bool in_send_;
  FirmwareDriver* driver_ = nullptr;
  std::mutex posting_;  // held while the worker posts to driver_
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<FirmwareMessage> queue_;
  std::vector<FirmwareMessage> messages_;
  std::vector<std::thread::id> senders_;
  Bytes stored_;
  bool stopping_ = false;
  std::thread worker_{[this] { Work(); }};
};

// Runs one upload of `image` through `driver` to its end, waiting in short
// slices as the window does; the last report.
FirmwareDriver::Report RunUpload(FirmwareDriver& driver, const Bytes& image) {
  FirmwareUpload upload(kMac, ReaderOf(image), kShortTimeouts);
  driver.Start(upload);
  FirmwareDriver::Report report;
  try {
    do report = driver.Wait(5ms);
    while (!report.Over());
  } catch (...) {
    driver.Stop();
    throw;
  }
  driver.Stop();
  return report;
}

// The same through a driver of its own on `device`.
FirmwareDriver::Report Upload(Device& device, const Bytes& image) {
  FirmwareDriver driver(device, kDevicePort);
  device.Attach(driver);
  try {
    const FirmwareDriver::Report report = RunUpload(driver, image);
    device.Detach();
    return report;
  } catch (...) {
    device.Detach();
    throw;
  }
}

TEST(FirmwareDriver, RepliesSendTheNextMessageFromTheReceivingThread) {
  const Bytes image = Image(1000);  // eight chunks, the last one short
  Device device([](const FirmwareMessage& m) { return std::vector<Bytes>{Accept(m)}; });
  const FirmwareDriver::Report report = Upload(device, image);

  EXPECT_EQ(report.state, FirmwareUpload::kSucceeded);
  EXPECT_EQ(report.acknowledged, image.size());
  EXPECT_EQ(device.Stored(), image);
  EXPECT_EQ(device.Messages().size(), 9u);
  // The first message goes from the caller; every other one from the thread
  // that brought the answer to the one before, without a hand-over, even
  // when that answer came while the caller was still sending.
  const std::vector<std::thread::id> senders = device.Senders();
  ASSERT_EQ(senders.size(), 9u);
  EXPECT_EQ(senders[0], std::this_thread::get_id());
  for (std::size_t i = 1; i < senders.size(); ++i) EXPECT_EQ(senders[i], device.WorkerId()) << i;
}

TEST(FirmwareDriver, RepeatedAndLateAnswersLeaveEachMessageSentOnce) {
  struct Case {
    const char* what;
    bool inSend;
    Answer answer;
  };
  const Case cases[] = {
      {"each answer twice", false,
       [](const FirmwareMessage& m) {
         return std::vector<Bytes>{Accept(m), Accept(m)};
       }},
      // A refusal of a second copy comes after the acceptance: the first
      // answer decided.
      {"acceptance, then a refusal of the copy", false,
       [](const FirmwareMessage& m) {
         return std::vector<Bytes>{Accept(m), BuildFirmwareReply(kMac, m.sequence, 0x01)};
       }},
      {"a late copy of the answer before", false,
       [](const FirmwareMessage& m) {
         std::vector<Bytes> replies;
         if (m.sequence > 0) replies.push_back(BuildFirmwareReply(kMac, m.sequence - 1, 0x01));
         replies.push_back(Accept(m));
         return replies;
       }},
      // Answers that come before the send has returned wait for the driver.
      {"answers within the send", true,
       [](const FirmwareMessage& m) {
         return std::vector<Bytes>{Accept(m), Accept(m)};
       }},
  };
  const Bytes image = Image(300);
  for (const Case& c : cases) {
    Device device(c.answer, c.inSend);
    const FirmwareDriver::Report report = Upload(device, image);
    EXPECT_EQ(report.state, FirmwareUpload::kSucceeded) << c.what;
    EXPECT_EQ(device.Stored(), image) << c.what;
    std::vector<std::uint32_t> sequences;
    for (const FirmwareMessage& m : device.Messages()) sequences.push_back(m.sequence);
    EXPECT_EQ(sequences, (std::vector<std::uint32_t>{0, 1, 2, 3})) << c.what;
  }
}

TEST(FirmwareDriver, ACallerThatOnlyPollsStillMovesOnWithAnswersThatCameDuringItsOwnSend) {
  // Answers posted within the send wait for the caller to judge them; a
  // zero slice, as a many-device loop uses, must judge them too.
  const Bytes image = Image(500);
  Device device([](const FirmwareMessage& m) { return std::vector<Bytes>{Accept(m)}; },
                /*inSend=*/true);
  FirmwareDriver driver(device, kDevicePort);
  device.Attach(driver);
  FirmwareUpload upload(kMac, ReaderOf(image), kShortTimeouts);
  driver.Start(upload);
  FirmwareDriver::Report report;
  const auto cap = std::chrono::steady_clock::now() + 10s;
  do report = driver.Wait(0ms);
  while (!report.Over() && std::chrono::steady_clock::now() < cap);
  driver.Stop();
  device.Detach();
  EXPECT_EQ(report.state, FirmwareUpload::kSucceeded);
  EXPECT_FALSE(report.timedOut);
  EXPECT_EQ(device.Stored(), image);
}

TEST(FirmwareDriver, ReportsWhatFailedTheUpload) {
  struct Case {
    const char* what;
    Answer answer;
    std::uint32_t sequence;
    bool end;
    bool timedOut;
    std::optional<std::uint8_t> refusalStatus;  // absent: no refusal, 0xFF: one cut short
  };
  const Case cases[] = {
      {"silent", [](const FirmwareMessage&) { return std::vector<Bytes>{}; }, 0, false, true, {}},
      {"stops answering at chunk 1",
       [](const FirmwareMessage& m) {
         return m.sequence == 0 ? std::vector<Bytes>{Accept(m)} : std::vector<Bytes>{};
       },
       1,
       false,
       true,
       {}},
      {"refuses the end",
       [](const FirmwareMessage& m) {
         return std::vector<Bytes>{BuildFirmwareReply(kMac, m.sequence, m.kind == 1 ? 0x01 : 0x00)};
       },
       3, true, false, 0x01},
      {"cuts its answer before the status",
       [](const FirmwareMessage& m) {
         Bytes cut = Accept(m);
         cut.resize(9);
         cut.push_back(0x03);
         return std::vector<Bytes>{cut};
       },
       0, false, false, 0xFF},
  };
  for (const Case& c : cases) {
    Device device(c.answer);
    const FirmwareDriver::Report report = Upload(device, Image(300));
    EXPECT_EQ(report.state, FirmwareUpload::kFailed) << c.what;
    EXPECT_EQ(report.sequence, c.sequence) << c.what;
    EXPECT_EQ(report.end, c.end) << c.what;
    EXPECT_EQ(report.timeout, c.end ? kShortTimeouts.end : kShortTimeouts.data) << c.what;
    EXPECT_EQ(report.timedOut, c.timedOut) << c.what;
    ASSERT_EQ(report.refusal.has_value(), c.refusalStatus.has_value()) << c.what;
    if (report.refusal) {
      const FirmwareReply refusal = ParseFirmwareReply(*report.refusal);
      EXPECT_EQ(refusal.status.value_or(0xFF), *c.refusalStatus) << c.what;
    }
    // Nothing goes out after the message that failed.
    EXPECT_EQ(device.Messages().size(), c.sequence + 1u) << c.what;
  }
}

// Hands each message to `onSend` on the sending thread, as a device whose
// answers (or whatever else waited in the socket) the receiving thread
// passes on before the send has returned.
class Scripted final : public InterfaceBroadcaster {
 public:
  using OnSend = std::function<void(const FirmwareMessage&, FirmwareDriver&)>;
  explicit Scripted(OnSend onSend) : on_send_(std::move(onSend)) {}
  void Attach(FirmwareDriver& driver) { driver_ = &driver; }
  void SendOnEveryInterface(ByteView data, std::uint16_t /*port*/) override {
    const std::optional<FirmwareMessage> m = ParseFirmwareMessage(data);
    ASSERT_TRUE(m.has_value());
    sent.push_back(*m);
    on_send_(*m, *driver_);
  }
  std::vector<FirmwareMessage> sent;

 private:
  OnSend on_send_;
  FirmwareDriver* driver_ = nullptr;
};

// Another device answers a neighbour's upload of the same size with the
// same numbers while the target stays silent: nothing answers, and the
// upload fails on the first message's time-out.
TEST(FirmwareDriver, AnotherDevicesRepliesAnswerNothing) {
  const MacField neighbour{0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
  Device device([&](const FirmwareMessage& m) {
    return std::vector<Bytes>{BuildFirmwareReply(neighbour, m.sequence, 0x00),
                              BuildFirmwareReply(neighbour, m.sequence + 1, 0x00),
                              BuildFirmwareReply(neighbour, m.sequence, 0x01)};
  });
  const FirmwareDriver::Report report = Upload(device, Image(300));
  EXPECT_EQ(report.state, FirmwareUpload::kFailed);
  EXPECT_TRUE(report.timedOut);
  EXPECT_FALSE(report.refusal);
  EXPECT_EQ(device.Messages().size(), 1u);
  EXPECT_EQ(FailureReason(report), "no reply to chunk 0 within 100 ms");
}

// A reply that was already here when a message went out is no answer to
// it, however late its receiving thread passes it on: the copy of an
// earlier upload's last acceptance (the same number, status 0, the right
// MAC) cannot stand in for the answer to this upload's end message, which
// the device lost. A copy that only arrives after the send looks like the
// answer in every byte; that is what the protocol cannot tell apart.
TEST(FirmwareDriver, AReplyFromBeforeTheSendNeverAnswersIt) {
  using SystemClock = std::chrono::system_clock;
  struct Case {
    const char* what;
    std::size_t imageSize;
    bool stampBeforeSend;  // false: no stamp, as when it came during the send
    FirmwareUpload::StateKind outcome;
  };
  const Case cases[] = {
      {"at the end message", 300, true, FirmwareUpload::kFailed},
      // An empty image's end message is its first: the copy comes from the run before.
      {"at the first message of the next run", 0, true, FirmwareUpload::kFailed},
      {"arriving after the send", 300, false, FirmwareUpload::kSucceeded},
  };
  for (const Case& c : cases) {
    const Bytes image = Image(c.imageSize);
    // The earlier upload, of the same size, that the device accepted whole.
    std::optional<Bytes> lastAcceptance;
    SystemClock::time_point acceptedAt;
    Scripted earlier([&](const FirmwareMessage& m, FirmwareDriver& driver) {
      lastAcceptance = Accept(m);
      acceptedAt = SystemClock::now();
      driver.PostReply(*lastAcceptance, acceptedAt);
    });
    FirmwareDriver first(earlier, kDevicePort);
    earlier.Attach(first);
    ASSERT_EQ(RunUpload(first, image).state, FirmwareUpload::kSucceeded) << c.what;

    // This upload: every chunk accepted, the end message lost, and the copy
    // passed on while the end message is being sent.
    Scripted device([&](const FirmwareMessage& m, FirmwareDriver& driver) {
      if (m.kind == 0) {
        driver.PostReply(Accept(m), SystemClock::now());
        return;
      }
      driver.PostReply(*lastAcceptance,
                       c.stampBeforeSend ? std::optional(acceptedAt) : std::nullopt);
    });
    FirmwareDriver driver(device, kDevicePort);
    device.Attach(driver);
    const FirmwareDriver::Report report = RunUpload(driver, image);
    EXPECT_EQ(report.state, c.outcome) << c.what;
    ASSERT_FALSE(device.sent.empty()) << c.what;
    EXPECT_EQ(device.sent.back().kind, 1) << c.what;
    if (c.outcome == FirmwareUpload::kFailed) {
      EXPECT_EQ(FailureReason(report), "no reply to the end message within 150 ms") << c.what;
    }
  }
}

// A driver keeps nothing of a run that ended: what comes between runs is
// dropped, and the next run starts with nothing queued.
TEST(FirmwareDriver, ARunsLateRepliesNeverReachTheNextRun) {
  const Bytes image = Image(0);
  bool silent = false;
  Scripted device([&](const FirmwareMessage& m, FirmwareDriver& driver) {
    if (!silent) driver.PostReply(Accept(m));
  });
  FirmwareDriver driver(device, kDevicePort);
  device.Attach(driver);
  ASSERT_EQ(RunUpload(driver, image).state, FirmwareUpload::kSucceeded);
  // Late copies of that run's answer, between the runs.
  driver.PostReply(BuildFirmwareReply(kMac, 0, 0x00));
  driver.PostReply(BuildFirmwareReply(kMac, 0, 0x00), std::chrono::system_clock::now());
  silent = true;
  EXPECT_EQ(RunUpload(driver, image).state, FirmwareUpload::kFailed);
}

// Whatever breaks on the receiving thread comes out of the waiting caller's
// Wait(), and the upload ends there.
TEST(FirmwareDriver, ErrorsOnTheReceivingThreadReachTheCaller) {
  // A reply whose sequence field holds no number.
  Device garbled([](const FirmwareMessage&) {
    return std::vector<Bytes>{
        oxlo::testing::Hex("02 66 02 00 00 00 00 01 41 42 43 44 45 46 47 48 49 00 03")};
  });
  EXPECT_THROW(Upload(garbled, Image(300)), ConversionError);

  // The image cannot be read after its first chunk.
  Device device([](const FirmwareMessage& m) { return std::vector<Bytes>{Accept(m)}; });
  FirmwareDriver driver(device, kDevicePort);
  device.Attach(driver);
  int reads = 0;
  FirmwareUpload upload(
      kMac,
      [&](std::span<std::uint8_t> buffer) -> std::size_t {
        if (++reads > 1) throw std::runtime_error("Input/output error");
        std::memset(buffer.data(), 0x5A, buffer.size());
        return buffer.size();
      },
      kShortTimeouts);
  driver.Start(upload);
  bool threw = false;
  try {
    while (!driver.Wait(5ms).Over()) {
    }
  } catch (const std::runtime_error& error) {
    threw = true;
    EXPECT_STREQ(error.what(), "Input/output error");
  }
  driver.Stop();
  device.Detach();
  EXPECT_TRUE(threw);
  EXPECT_EQ(device.Messages().size(), 1u);
}

// After Stop() an answer sends nothing, and the upload may go.
TEST(FirmwareDriver, StoppedDriverTakesNoMoreAnswers) {
  Device device([](const FirmwareMessage&) { return std::vector<Bytes>{}; });
  FirmwareDriver driver(device, kDevicePort);
  device.Attach(driver);
  {
    const Bytes image = Image(300);
    FirmwareUpload upload(kMac, ReaderOf(image), kShortTimeouts);
    driver.Start(upload);
    driver.Stop();
  }
  driver.PostReply(BuildFirmwareReply(kMac, 0, 0x00));
  device.Detach();
  EXPECT_EQ(device.Messages().size(), 1u);
}

}  // namespace
}  // namespace oxlo::transport
