// The device list's firmware upgrade and web access, with the in-process
// network playing the device.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/device_side.h"
#include "protocol/wire/discovery.h"
#include "tests/protocol/test_bytes.h"
#include "tests/support/detect_window.h"
#include "tests/support/operator.h"
#include "tests/ui/doubles.h"
#include "ui/detect/device_grid.h"
#include "ui/detect/form_detect.h"

namespace oxlo::ui {
namespace {

using testing::DiscoveryReply;
using testing::FakeNetwork;
using testing::RecordingDesktop;
using testing::RecordingPrompter;
using testing::SentDatagram;

const MacField kMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

class DeviceActions : public ::testing::Test {
 protected:
  RecordingPrompter prompter;
  RecordingDesktop desktop;
  testing::RecordingPacer pacer;
  FakeNetwork network;
  TFormDetect window{
      prompter, desktop,
      pacer,    network,
      nullptr,  FirmwareTimeouts{std::chrono::milliseconds(200), std::chrono::milliseconds(300)}};
  QTemporaryDir dir;

  void SetUp() override {
    window.FlatButton2Click();
    network.Deliver(
        DiscoveryReply("Oxlo CG-100", "02-00-00-00-00-01", "1.0.1", "Oxlo-1", "10.57.0.101"));
    QCoreApplication::processEvents();
    for (int i = 0; i < 10; ++i) window.TimerFINDTimer();
    network.ClearSent();
  }
  DeviceGrid* Grid() { return window.findChild<DeviceGrid*>("RGrid"); }
  QString Image(std::size_t size) {
    const QString path = dir.filePath(QString("image-%1.bin").arg(size));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(size));
    return path;
  }
  static Bytes Contents(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return bytes;
  }
  // The firmware messages that went out of the first local address.
  std::vector<FirmwareMessage> FirmwareSent() {
    std::vector<FirmwareMessage> out;
    for (const SentDatagram& d : network.Sent()) {
      if (d.sender != "every-interface" || d.copy != 0) continue;
      if (const auto m = ParseFirmwareMessage(d.data)) out.push_back(*m);
    }
    return out;
  }
  bool ToolbarEnabled() { return window.findChild<QWidget*>("FlatPanel1")->isEnabled(); }
  // Returns once the upload it started is over.
  void ClickUpgrade() {
    testing::Click(window.findChild<QPushButton*>("FlatButton7"));
    EXPECT_TRUE(testing::WaitForUpgradeEnd(window));
  }
};

// A device that answers from a thread of its own, as a real one does, and
// takes each message only once the window's bar shows the bytes it accepted
// before it: the bar moves while the device works, not only at the end. It
// notes what the bar showed at each message, read through `shown`.
class AcceptingDevice {
 public:
  // Without `shown` it answers at once, after `beforeAnswer` if given.
  AcceptingDevice(FakeNetwork& network, const std::atomic<int>* shown,
                  std::function<void(const FirmwareMessage&)> beforeAnswer = {})
      : network_(network), shown_(shown), before_answer_(std::move(beforeAnswer)) {}
  ~AcceptingDevice() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    arrived_.notify_one();
    worker_.join();
  }
  std::optional<Bytes> operator()(const SentDatagram& sent) {
    if (const auto m = ParseFirmwareMessage(sent.data)) {
      std::lock_guard lock(mutex_);
      messages_.push_back(*m);
      arrived_.notify_one();
    }
    return std::nullopt;
  }
  std::vector<int> Progress() {
    std::lock_guard lock(progress_mutex_);
    return progress_;
  }
  Bytes Stored() {
    std::lock_guard lock(progress_mutex_);
    return stored_;
  }

 private:
  void Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      arrived_.wait(lock, [this] { return stopping_ || !messages_.empty(); });
      if (stopping_) return;
      const FirmwareMessage m = messages_.front();
      messages_.pop_front();
      lock.unlock();
      const int taken = static_cast<int>(m.kind == 1 ? m.length : m.sequence * kFirmwareChunkSize);
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (shown_ != nullptr && *shown_ != taken && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (before_answer_) before_answer_(m);
      {
        std::lock_guard noted(progress_mutex_);
        progress_.push_back(shown_ != nullptr ? shown_->load() : taken);
        if (m.kind == 0) stored_.insert(stored_.end(), m.data.begin(), m.data.end());
      }
      network_.Deliver(BuildFirmwareReply(kMac, m.sequence, 0x00));
      lock.lock();
    }
  }

  FakeNetwork& network_;
  const std::atomic<int>* shown_;
  std::function<void(const FirmwareMessage&)> before_answer_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<FirmwareMessage> messages_;
  std::mutex progress_mutex_;
  std::vector<int> progress_;
  Bytes stored_;
  bool stopping_ = false;
  std::thread worker_{[this] { Work(); }};
};

TEST_F(DeviceActions, FirmwareGoesInChunksWithProgressAndTheEndMessage) {
  struct Case {
    std::size_t size;
    std::vector<std::size_t> chunks;
    std::vector<int> progress;  // at each send, then after the end
  };
  const Case cases[] = {
      {300, {128, 128, 44}, {0, 128, 256, 300, 300}},
      {256, {128, 128}, {0, 128, 256, 256}},
      {0, {}, {0, 0}},
  };
  auto* bar = window.findChild<QProgressBar*>("UpdateProgress");
  std::atomic<int> shown{bar->value()};
  QObject receiver;  // gone before `shown`, which it writes
  QObject::connect(bar, &QProgressBar::valueChanged, &receiver, [&shown](int v) { shown = v; });
  for (const Case& c : cases) {
    network.ClearSent();
    prompter.messages.clear();
    AcceptingDevice device(network, &shown);
    network.SetResponder(std::ref(device));
    prompter.files = {Image(c.size)};
    ClickUpgrade();

    EXPECT_EQ(prompter.messages, std::vector<QString>{"Updating firmware was successful"})
        << c.size;
    EXPECT_EQ(prompter.dialogs.back().title, "Update Firmware");
    EXPECT_EQ(prompter.dialogs.back().defaultName, "Oxlo.bin");
    const auto sent = FirmwareSent();
    ASSERT_EQ(sent.size(), c.chunks.size() + 1) << c.size;
    Bytes image;
    for (std::size_t i = 0; i < c.chunks.size(); ++i) {
      EXPECT_EQ(sent[i].kind, 0);
      EXPECT_EQ(sent[i].sequence, i);
      EXPECT_EQ(sent[i].data.size(), c.chunks[i]);
      EXPECT_EQ(sent[i].checksum, FirmwareChecksum::Of(sent[i].data));
      image.insert(image.end(), sent[i].data.begin(), sent[i].data.end());
    }
    EXPECT_EQ(image, Contents(c.size));
    const FirmwareMessage& end = sent.back();
    EXPECT_EQ(end.kind, 1);
    EXPECT_EQ(end.sequence, c.chunks.size());
    EXPECT_EQ(end.length, c.size);
    EXPECT_EQ(end.checksum, FirmwareChecksum::Of(image));
    std::vector<int> progress = device.Progress();
    progress.push_back(bar->value());
    EXPECT_EQ(progress, c.progress) << c.size;
    EXPECT_TRUE(ToolbarEnabled());
    EXPECT_FALSE(window.findChild<QWidget*>("FlatPanel3")->isVisibleTo(&window));
    network.SetResponder({});
  }
}

// The list's Apply stays usable during an upload; the message box it opens
// stays up longer than the device's reply time-outs, and the upload goes on
// underneath and ends as the device says.
TEST_F(DeviceActions, AMessageBoxOpenedDuringAnUploadDoesNotStallIt) {
  // The device holds its answer to chunk 10 until the box is up, so the
  // operator's click comes while the upload runs.
  std::atomic<bool> boxShown{false};
  constexpr std::size_t kMessages = 64 * 1024 / kFirmwareChunkSize + 1;
  AcceptingDevice device(network, nullptr, [&boxShown](const FirmwareMessage& m) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (m.sequence == 10 && !boxShown && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  network.SetResponder(std::ref(device));
  std::size_t answeredWhileShown = 0;
  prompter.while_shown = [&](const QString& text) {
    if (text != "No device is applied.") return;
    boxShown = true;
    // The box stays up until the device has answered every message (or a
    // generous cap): a stalled upload would fail on its 200 ms time-out.
    static_cast<void>(
        QTest::qWaitFor([&] { return device.Progress().size() == kMessages; }, 60000));
    answeredWhileShown = device.Progress().size();
  };
  QTimer::singleShot(5, &window,
                     [this] { testing::Click(window.findChild<QPushButton*>("FlatButton1")); });
  prompter.files = {Image(64 * 1024)};
  ClickUpgrade();

  EXPECT_EQ(prompter.messages,
            (std::vector<QString>{"No device is applied.", "Updating firmware was successful"}));
  EXPECT_EQ(device.Stored(), Contents(64 * 1024));
  // Every message went and was answered while the box was up.
  EXPECT_EQ(answeredWhileShown, kMessages);
  network.SetResponder({});
}

TEST_F(DeviceActions, FirmwareFailsWithoutReplyOnARejectedEndAndOnMalformedReplies) {
  struct Case {
    const char* what;
    std::function<std::optional<Bytes>(const FirmwareMessage&)> device;
    const char* message;
  };
  // The box names what failed the upload, as oxlo firmware does.
  const Case cases[] = {
      {"silent", [](const FirmwareMessage&) { return std::optional<Bytes>{}; },
       "Updating firmware was failed\nReason: no reply to chunk 0 within 200 ms."},
      {"rejects the end",
       [](const FirmwareMessage& m) {
         return std::optional<Bytes>{
             BuildFirmwareReply(kMac, m.sequence, m.kind == 1 ? 0x01 : 0x00)};
       },
       "Updating firmware was failed\nReason: the device refused the end message."},
      // An answer to the message before is no answer to this one.
      {"echoes an older sequence",
       [](const FirmwareMessage& m) {
         const std::uint32_t echo = m.kind == 0 && m.sequence > 0 ? m.sequence - 1 : m.sequence;
         return std::optional<Bytes>{BuildFirmwareReply(kMac, echo, 0x00)};
       },
       "Updating firmware was failed\nReason: no reply to chunk 1 within 200 ms."},
      // The echo cut by the end byte: no status, never an acceptance.
      {"sends cut replies",
       [](const FirmwareMessage& m) {
         Bytes cut = BuildFirmwareReply(kMac, m.sequence + 1, 0x00);
         cut.resize(9);
         cut.push_back(0x03);
         return std::optional<Bytes>{cut};
       },
       "Updating firmware was failed\nReason: the reply to chunk 0 ends before its status."},
      {"sends no number",
       [](const FirmwareMessage&) {
         return std::optional<Bytes>{
             oxlo::testing::Hex("02 66 02 00 00 00 00 01 41 42 43 44 45 46 47 48 49 00 03")};
       },
       "'ABCDEFGH' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    network.ClearSent();
    prompter.messages.clear();
    network.SetResponder([&](const SentDatagram& sent) -> std::optional<Bytes> {
      const auto m = ParseFirmwareMessage(sent.data);
      return m ? c.device(*m) : std::nullopt;
    });
    prompter.files = {Image(300)};
    ClickUpgrade();
    ASSERT_EQ(prompter.messages.size(), 1u) << c.what;
    EXPECT_EQ(prompter.messages[0], c.message) << c.what;
    EXPECT_TRUE(ToolbarEnabled()) << c.what;
    EXPECT_FALSE(window.findChild<QWidget*>("FlatPanel3")->isVisibleTo(&window)) << c.what;
  }
  // The silent device: one data message, then the failure.
  network.ClearSent();
  network.SetResponder({});
  prompter.files = {Image(300)};
  ClickUpgrade();
  EXPECT_EQ(FirmwareSent().size(), 1u);
}

// Another computer uploads an image of the same size to the neighbour
// device Y on the same network; Y answers every message it hears, ours
// included, with its own MAC, the same numbers and status 0, while the
// target stays silent (a wrong address, a device that hangs). Its answers
// are no answers to our upload.
TEST_F(DeviceActions, ANeighboursUploadNeverAnswersOurs) {
  const MacField neighbour{0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
  network.SetResponder([&](const SentDatagram& sent) -> std::optional<Bytes> {
    const auto m = ParseFirmwareMessage(sent.data);
    if (!m) return std::nullopt;
    network.Deliver(BuildFirmwareReply(neighbour, m->sequence + 1, 0x00));
    return BuildFirmwareReply(neighbour, m->sequence, 0x00);
  });
  auto* grid = Grid();
  ASSERT_EQ(grid->Text(0, column::kMac), "02-00-00-00-00-01");
  testing::ClickCell(*grid, 0, column::kName);
  prompter.files = {Image(300)};
  ClickUpgrade();
  EXPECT_EQ(prompter.messages, std::vector<QString>{"Updating firmware was failed\nReason: no "
                                                    "reply to chunk 0 within 200 ms."});
  ASSERT_EQ(FirmwareSent().size(), 1u);
  EXPECT_EQ(FirmwareSent()[0].mac, kMac);
  network.SetResponder({});
}

// The device loses this upload's end message while a copy of the previous
// upload's last answer (the same number, status 0, its own MAC) had reached
// this computer before the end message went out: it is no answer, and the
// upload fails instead of reporting an image the device never took.
TEST_F(DeviceActions, ALateCopyOfTheLastUploadsAnswerNeverEndsThisOne) {
  std::optional<Bytes> lastAnswer;
  std::chrono::system_clock::time_point answeredAt;
  bool loseTheEnd = false;
  network.SetResponder([&](const SentDatagram& sent) -> std::optional<Bytes> {
    const auto m = ParseFirmwareMessage(sent.data);
    if (!m) return std::nullopt;
    if (m->kind == 1 && loseTheEnd) {
      // Passed on by the receiving thread once it is free again.
      network.Deliver(*lastAnswer, "10.57.0.2", "", answeredAt);
      return std::nullopt;
    }
    const Bytes answer = BuildFirmwareReply(kMac, m->sequence, 0x00);
    if (m->kind == 1) {
      lastAnswer = answer;
      answeredAt = std::chrono::system_clock::now();
    }
    network.Deliver(answer, "10.57.0.2", "", std::chrono::system_clock::now());
    return std::nullopt;
  });
  prompter.files = {Image(300)};
  ClickUpgrade();
  ASSERT_EQ(prompter.messages, std::vector<QString>{"Updating firmware was successful"});

  prompter.messages.clear();
  loseTheEnd = true;
  testing::ClickCell(*Grid(), 0, column::kName);
  prompter.files = {Image(300)};
  ClickUpgrade();
  EXPECT_EQ(
      prompter.messages,
      std::vector<QString>{
          "Updating firmware was failed\nReason: no reply to the end message within 300 ms."});
  network.SetResponder({});
}

// Two local addresses on the device's network: it gets every message twice,
// takes the first copy and refuses the second as a repeat, as a device that
// checks sequence numbers does. Its answers to the copies may come at once or
// late, after the next message went out.
TEST_F(DeviceActions, TheFirstAnswerToAMessageDecidesAndRepeatsAreIgnored) {
  for (const bool late : {false, true}) {
    network.ClearSent();
    prompter.messages.clear();
    network.SetDeviceSeesEveryCopy(true);
    std::map<std::uint32_t, int> copies;
    Bytes stored;
    std::optional<Bytes> held;
    network.SetResponder([&](const SentDatagram& sent) -> std::optional<Bytes> {
      const auto m = ParseFirmwareMessage(sent.data);
      if (!m) return std::nullopt;
      if (++copies[m->sequence] > 1) {
        Bytes refusal = BuildFirmwareReply(kMac, m->sequence, 0x01);
        if (!late) return refusal;
        held = refusal;
        return std::nullopt;
      }
      if (m->kind == 0) stored.insert(stored.end(), m->data.begin(), m->data.end());
      if (held) network.Deliver(*std::exchange(held, std::nullopt));
      return BuildFirmwareReply(kMac, m->sequence, 0x00);
    });
    prompter.files = {Image(300)};
    ClickUpgrade();
    EXPECT_EQ(prompter.messages, std::vector<QString>{"Updating firmware was successful"}) << late;
    EXPECT_EQ(stored, Contents(300)) << late;
    EXPECT_EQ(copies.size(), 4u) << late;  // three chunks and the end, each sent once
  }
  network.SetDeviceSeesEveryCopy(false);
}

TEST_F(DeviceActions, FirmwareEndsCleanlyOnErrorsAndCancel) {
  ClickUpgrade();  // the dialog is cancelled
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_TRUE(ToolbarEnabled());
  EXPECT_TRUE(network.Sent().empty());

  prompter.files = {dir.filePath("missing.bin")};
  ClickUpgrade();
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_TRUE(ToolbarEnabled());

  prompter.messages.clear();
  auto holder = network.MakeDeviceEndpoint();  // port 2057 held elsewhere
  holder->Open();
  prompter.files = {Image(10)};
  ClickUpgrade();
  EXPECT_EQ(prompter.messages,
            std::vector<QString>{"Could not bind socket. Address and port are already in use."});
  EXPECT_TRUE(ToolbarEnabled());
  EXPECT_FALSE(window.findChild<QWidget*>("FlatPanel3")->isVisibleTo(&window));
}

// No event loop of the window's own runs an upload: the bar moves and clicks
// are handled in the operator's loop meanwhile. A click on Search is refused
// and the upload ends as the device says; closing the window stops it at
// once, with no message, nothing more sent and the device port given back.
TEST(UploadUnderway, SearchIsRefusedAndClosingTheWindowStopsIt) {
  struct Case {
    const char* what;
    std::function<void(TFormDetect&)> act;
    bool goesOn;
    std::vector<QString> messages;
    std::size_t firmwareSent;  // the messages that went out, copies apart
  };
  const Case cases[] = {
      {"a click on Search",
       [](TFormDetect& window) { testing::Click(window.findChild<QPushButton*>("FlatButton2")); },
       true,
       {"Updating firmware was successful"},
       4},
      {"closing the window", [](TFormDetect& window) { window.close(); }, false, {}, 2},
  };
  std::atomic<bool> held{false};
  RecordingPrompter prompter;
  RecordingDesktop desktop;
  testing::RecordingPacer pacer;
  FakeNetwork network;
  // Time-outs no test run reaches: only the operator ends an upload the device holds.
  TFormDetect window{
      prompter, desktop, pacer,
      network,  nullptr, FirmwareTimeouts{std::chrono::seconds(600), std::chrono::seconds(600)}};
  testing::ShowActive(window);
  testing::Click(window.findChild<QPushButton*>("FlatButton2"));
  network.Deliver(
      DiscoveryReply("Oxlo CG-100", "02-00-00-00-00-01", "1.0.1", "Oxlo-1", "10.57.0.101"));
  QCoreApplication::processEvents();
  for (int i = 0; i < 10; ++i) window.TimerFINDTimer();
  QTemporaryDir dir;
  const QString image = dir.filePath("image.bin");
  {
    QFile file(image);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(300, 'x'));
  }
  // The device answers every message but chunk 1, whose answer the test holds.
  network.SetResponder([&held](const SentDatagram& sent) -> std::optional<Bytes> {
    const auto m = ParseFirmwareMessage(sent.data);
    if (!m) return std::nullopt;
    if (m->kind == 0 && m->sequence == 1) {
      held = true;
      return std::nullopt;
    }
    return BuildFirmwareReply(kMac, m->sequence, 0x00);
  });
  auto* bar = window.findChild<QProgressBar*>("UpdateProgress");
  for (const Case& c : cases) {
    testing::ShowActive(window);
    testing::ClickCell(*window.findChild<DeviceGrid*>("RGrid"), 0, column::kName);
    prompter.messages.clear();
    prompter.files = {image};
    held = false;
    network.ClearSent();
    testing::Click(window.findChild<QPushButton*>("FlatButton7"));
    // Chunk 0 taken and shown while the device holds its answer to chunk 1.
    ASSERT_TRUE(QTest::qWaitFor([&] { return held && bar->value() == 128; }, 30000)) << c.what;
    c.act(window);
    EXPECT_EQ(window.UpgradingFirmware(), c.goesOn) << c.what;
    for (const SentDatagram& d : network.Sent()) {
      EXPECT_NE(d.data, BuildDiscoveryQuery()) << c.what;  // no search started
    }
    // The held answer: taken by an upload that goes on, dropped by one that stopped.
    network.Deliver(BuildFirmwareReply(kMac, 1, 0x00));
    ASSERT_TRUE(testing::WaitForUpgradeEnd(window)) << c.what;
    EXPECT_EQ(prompter.messages, c.messages) << c.what;
    std::size_t firmware = 0;
    for (const SentDatagram& d : network.Sent()) {
      if (d.sender == "every-interface" && d.copy == 0 && ParseFirmwareMessage(d.data)) {
        ++firmware;
      }
    }
    EXPECT_EQ(firmware, c.firmwareSent) << c.what;
    EXPECT_EQ(window.UDPServer().IsActive(), c.goesOn) << c.what;  // the watch's, or none
    EXPECT_TRUE(window.findChild<QWidget*>("FlatPanel1")->isEnabled()) << c.what;
    EXPECT_FALSE(window.findChild<QWidget*>("FlatPanel3")->isVisibleTo(&window)) << c.what;
  }
  network.SetResponder({});
}

TEST_F(DeviceActions, WebPinsTheAddressAndOpensTheAddressTheDeviceHas) {
  window.FlatButton4Click();
  EXPECT_EQ(desktop.commands,
            (std::vector<QStringList>{{"arp", "-s", "10.57.0.101", "02:00:00:00:00:01"}}));
  EXPECT_EQ(pacer.pauses, std::vector<int>{2000});
  EXPECT_EQ(desktop.urls, std::vector<QString>{"http://10.57.0.101"});
  EXPECT_TRUE(prompter.messages.empty());

  Grid()->SetText(0, column::kIp, "10.57.0.77");  // edited, not applied
  window.FlatButton4Click();
  EXPECT_EQ(desktop.commands.back(), (QStringList{"arp", "-s", "10.57.0.77", "02:00:00:00:00:01"}));
  EXPECT_EQ(prompter.messages,
            std::vector<QString>{
                "New IP address was not applied. Previous IP address is still configured."});
  EXPECT_EQ(desktop.urls.back(), "http://10.57.0.101");

  window.ClearList();
  prompter.messages.clear();
  desktop.commands.clear();
  window.FlatButton4Click();
  EXPECT_EQ(prompter.messages,
            std::vector<QString>{"No Oxlo device was found.\r\nPlease connect an Oxlo."});
  EXPECT_TRUE(desktop.commands.empty());
}

}  // namespace
}  // namespace oxlo::ui
