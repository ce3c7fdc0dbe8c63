// Firmware for several devices from the device list, at the operator's
// hands: the list's menu opens the dialog, rows are checked by click and by
// Space, the version is typed, the image picked through the file dialog and
// Start clicked. Device doubles take the firmware, go quiet as they restart
// and answer the discovery queries with the version they came back with.
// Also the single upgrade's watch for its device's comeback.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableWidget>
#include <QTest>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/device_side.h"
#include "protocol/wire/discovery.h"
#include "protocol/wire/fields.h"
#include "tests/support/detect_window.h"
#include "tests/support/operator.h"
#include "tests/ui/doubles.h"
#include "ui/detect/device_grid.h"
#include "ui/detect/form_detect.h"
#include "ui/detect/rollout_dialog.h"

namespace oxlo::ui {
namespace {

using testing::Click;
using testing::ClickCell;
using testing::DiscoveryReply;
using testing::FakeNetwork;
using testing::SentDatagram;
using Clock = std::chrono::steady_clock;

// Longer than the silence after which a reply counts as the device back,
// with room for a window held up on a loaded machine.
constexpr std::chrono::milliseconds kRestart{3000};
// Generous: a rollout of a canary and the rest takes two restarts.
constexpr int kCapMs = 60000;

// What a double does with the image once it has it all.
enum class Takes {
  kNewVersion,      // restarts and comes back with the image's version
  kKeepsOld,        // restarts and comes back with the version it had
  kRefusesEnd,      // refuses the end message and keeps running
  kNeverComesBack,  // restarts and stays silent
};

struct DeviceDouble {
  std::string model;
  std::string mac;
  std::string version;
  std::string name;
  std::string ip;
  Takes takes = Takes::kNewVersion;
  std::string newVersion = "2.0.0";
  std::optional<Clock::time_point> restartedAt{};
  std::vector<FirmwareMessage> received{};
};

// The devices of one network: each answers the firmware messages that name
// its MAC and every discovery query, from a thread of their own as real
// ones do, in the order the messages came.
class Devices {
 public:
  explicit Devices(FakeNetwork& network) : network_(network) {
    network_.SetResponder([this](const SentDatagram& sent) { return Answer(sent); });
  }
  ~Devices() {
    network_.SetResponder({});
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    queued_.notify_one();
    worker_.join();
  }

  void Add(DeviceDouble device) {
    std::lock_guard lock(mutex_);
    devices_.push_back(std::move(device));
  }
  void SetTakes(const std::string& mac, Takes takes) {
    std::lock_guard lock(mutex_);
    Find(mac).takes = takes;
  }
  std::size_t FirmwareMessagesTo(const std::string& mac) {
    std::lock_guard lock(mutex_);
    return Find(mac).received.size();
  }
  // The MACs in the order their first firmware message came.
  std::vector<std::string> UploadOrder() {
    std::lock_guard lock(mutex_);
    return order_;
  }
  // When this device restarted with a new image, if it did.
  std::optional<Clock::time_point> RestartedAt(const std::string& mac) {
    std::lock_guard lock(mutex_);
    return Find(mac).restartedAt;
  }
  std::optional<Clock::time_point> FirstMessageAt(const std::string& mac) {
    std::lock_guard lock(mutex_);
    const auto it = first_message_.find(mac);
    if (it == first_message_.end()) return std::nullopt;
    return it->second;
  }

 private:
  DeviceDouble& Find(const std::string& mac) {
    for (DeviceDouble& d : devices_) {
      if (d.mac == mac) return d;
    }
    throw std::logic_error("no device " + mac);
  }

  std::optional<Bytes> Answer(const SentDatagram& sent) {
    std::vector<Bytes> replies;
    {
      std::lock_guard lock(mutex_);
      const Clock::time_point now = Clock::now();
      if (sent.data == BuildDiscoveryQuery()) {
        for (DeviceDouble& d : devices_) {
          std::string version = d.version;
          if (d.restartedAt) {
            if (now - *d.restartedAt < kRestart || d.takes == Takes::kNeverComesBack) continue;
            if (d.takes == Takes::kNewVersion) version = d.newVersion;
          }
          replies.push_back(DiscoveryReply(d.model, d.mac, version, d.name, d.ip));
        }
      } else if (const std::optional<FirmwareMessage> m = ParseFirmwareMessage(sent.data)) {
        const std::string mac = MacToText(m->mac);
        for (DeviceDouble& d : devices_) {
          if (d.mac != mac || d.restartedAt) continue;
          if (d.received.empty()) {
            order_.push_back(mac);
            first_message_[mac] = now;
          }
          d.received.push_back(*m);
          const bool refuse = m->kind == 1 && d.takes == Takes::kRefusesEnd;
          if (m->kind == 1 && !refuse) d.restartedAt = now;
          replies.push_back(BuildFirmwareReply(m->mac, m->sequence, refuse ? 0x01 : 0x00));
        }
      }
    }
    {
      std::lock_guard lock(mutex_);
      for (Bytes& reply : replies) outbox_.push_back(std::move(reply));
    }
    queued_.notify_one();
    return std::nullopt;
  }

  void Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      queued_.wait(lock, [this] { return stopping_ || !outbox_.empty(); });
      if (stopping_) return;
      const Bytes reply = std::move(outbox_.front());
      outbox_.pop_front();
      // Unlocked: a reply makes the window send again at once.
      lock.unlock();
      network_.Deliver(reply);
      lock.lock();
    }
  }

  FakeNetwork& network_;
  std::mutex mutex_;
  std::vector<DeviceDouble> devices_;
  std::vector<std::string> order_;
  std::map<std::string, Clock::time_point> first_message_;
  std::condition_variable queued_;
  std::deque<Bytes> outbox_;
  bool stopping_ = false;
  std::thread worker_{[this] { Work(); }};
};

const char* const kMacs[] = {"02-00-00-00-00-01", "02-00-00-00-00-02", "02-00-00-00-00-03",
                             "02-00-00-00-00-04"};

class DetectRollout : public testing::DetectWindow {
 public:
  Devices devices{network};

  void SetUp() override {
    DetectWindow::SetUp();
    for (int n = 0; n < 3; ++n) {
      devices.Add({"Oxlo CG-100", kMacs[n], "1.0.1", "Oxlo-" + std::to_string(n + 1),
                   "10.57.0." + std::to_string(101 + n)});
    }
    // Another model on the same network.
    devices.Add({"Oxlo CG-200", kMacs[3], "3.1", "Other", "10.57.0.104"});
    Click(Button("FlatButton2"));  // every device answers the search's query
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.DeviceCount() == 4; }, kCapMs));
    for (int i = 0; i < 10; ++i) window.TimerFINDTimer();
    network.ClearSent();
  }

  QString Image(std::size_t size) {
    QFile file(dir.filePath("image.bin"));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(static_cast<qsizetype>(size), '\x5a'));
    return file.fileName();
  }

  QMenu* Menu() { return window.findChild<QMenu*>("DeviceMenu"); }

  // The menu opened by the context-menu key on the list, its item chosen
  // by its mnemonic.
  RolloutDialog* OpenDialogByKeyboard(Qt::Key key = Qt::Key_Menu, Qt::KeyboardModifiers mods = {}) {
    ClickCell(Grid(), 0, column::kModel);
    QTest::keyClick(&Grid(), key, mods);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Menu()->isVisible(); }, kCapMs));
    QTest::keyClick(Menu(), Qt::Key_U);
    return Dialog();
  }
  RolloutDialog* Dialog() {
    RolloutDialog* dialog = window.Rollouts();
    if (dialog != nullptr) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return dialog->isVisible(); }, kCapMs));
      QApplication::setActiveWindow(dialog);
      QApplication::processEvents();
    }
    return dialog;
  }

  static QTableWidget& Table(RolloutDialog& dialog) {
    return *dialog.findChild<QTableWidget*>("RolloutDevices");
  }
  template <typename T = QPushButton>
  static T* Control(RolloutDialog& dialog, const char* name) {
    return dialog.findChild<T*>(name);
  }

  // A click on the row's check box, where the view draws it.
  static void ClickCheckBox(QTableWidget& table, int row) {
    const QModelIndex index = table.model()->index(row, rollout_column::kModel);
    QStyleOptionViewItem option;
    option.initFrom(&table);
    option.rect = table.visualRect(index);
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.text = index.data().toString();
    option.widget = &table;
    const QRect box =
        table.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &table);
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, box.center());
    QApplication::processEvents();
  }
  // Space on the row, a cell of it clicked first.
  static void CheckBySpace(QTableWidget& table, int row) {
    ClickCell(table, row, rollout_column::kMac);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QApplication::processEvents();
  }
  static bool Checked(QTableWidget& table, int row) {
    return table.item(row, rollout_column::kModel)->checkState() == Qt::Checked;
  }

  // Browse…, the file answered, and the version typed where the focus went.
  void ChooseImageAndType(RolloutDialog& dialog, const QString& image, const QString& version) {
    prompter.files = {image};
    Click(Control(dialog, "RolloutBrowse"));
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_EQ(focus->objectName(), "RolloutVersion");
    QTest::keyClicks(focus, version);
  }
  static void SetSpin(RolloutDialog& dialog, const char* name, int value) {
    auto* spin = Control<QSpinBox>(dialog, name);
    spin->setFocus();
    QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(spin, QString::number(value));
    QTest::keyClick(spin, Qt::Key_Tab);
  }
  // A key to what has the focus in the dialog, the dialog itself if nothing has.
  static void Key(RolloutDialog& dialog, Qt::Key key) {
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus != nullptr ? focus : &dialog, key);
    QApplication::processEvents();
  }
  static bool WaitOver(RolloutDialog& dialog) {
    return QTest::qWaitFor([&] { return !dialog.Running(); }, kCapMs);
  }
  static QString Result(RolloutDialog& dialog, int row) {
    return Table(dialog).item(row, rollout_column::kResult)->text();
  }
  static QString Reason(RolloutDialog& dialog, int row) {
    return Table(dialog).item(row, rollout_column::kReason)->text();
  }
  bool ToolbarEnabled() { return window.findChild<QWidget*>("FlatPanel1")->isEnabled(); }
};

TEST_F(DetectRollout, TheCanaryComesBackFirstThenTheRestAllUpgradedAndListed) {
  RolloutDialog* dialog = OpenDialogByKeyboard();
  ASSERT_NE(dialog, nullptr);
  QTableWidget& table = Table(*dialog);
  ASSERT_EQ(table.rowCount(), 4);
  EXPECT_EQ(table.item(0, rollout_column::kMac)->text(), kMacs[0]);
  EXPECT_EQ(table.item(3, rollout_column::kModel)->text(), "Oxlo CG-200");
  EXPECT_EQ(table.item(1, rollout_column::kVersion)->text(), "1.0.1");
  ClickCheckBox(table, 0);
  ClickCheckBox(table, 1);
  CheckBySpace(table, 2);
  EXPECT_TRUE(Checked(table, 0) && Checked(table, 1) && Checked(table, 2));
  EXPECT_FALSE(Checked(table, 3));
  EXPECT_EQ(Control<QSpinBox>(*dialog, "RolloutCanary")->value(), 1);
  EXPECT_EQ(Control<QSpinBox>(*dialog, "RolloutParallel")->value(), 16);
  ChooseImageAndType(*dialog, Image(300), "2.0.0");
  EXPECT_EQ(prompter.dialogs.back().defaultName, "Oxlo.bin");
  // Enter in the version field starts, as the default button.
  Key(*dialog, Qt::Key_Return);
  ASSERT_TRUE(dialog->Running());
  EXPECT_FALSE(ToolbarEnabled());
  EXPECT_FALSE(Button("FlatButton1")->isEnabled());
  ASSERT_TRUE(WaitOver(*dialog));

  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(Result(*dialog, row), "upgraded") << row;
    EXPECT_EQ(Reason(*dialog, row), "") << row;
    auto* bar = qobject_cast<QProgressBar*>(table.cellWidget(row, rollout_column::kProgress));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->value(), 300) << row;
    EXPECT_EQ(bar->maximum(), 300) << row;
    // The list shows what each device reported.
    EXPECT_EQ(Grid().Text(row, column::kVersion), "2.0.0") << row;
  }
  EXPECT_EQ(Result(*dialog, 3), "");
  EXPECT_EQ(devices.FirmwareMessagesTo(kMacs[3]), 0u);
  EXPECT_EQ(Grid().Text(3, column::kVersion), "3.1");
  EXPECT_EQ(window.DeviceCount(), 4);
  // The canary first; the others only once it was back.
  ASSERT_EQ(devices.UploadOrder().front(), kMacs[0]);
  const auto canaryBack = *devices.RestartedAt(kMacs[0]) + kRestart;
  for (const char* mac : {kMacs[1], kMacs[2]}) {
    ASSERT_TRUE(devices.FirstMessageAt(mac).has_value()) << mac;
    EXPECT_GE(*devices.FirstMessageAt(mac), canaryBack) << mac;
  }
  EXPECT_TRUE(ToolbarEnabled());
  EXPECT_TRUE(Button("FlatButton1")->isEnabled());
  EXPECT_TRUE(prompter.messages.empty());
  // The dialog as the README shows it, when asked for.
  if (const QString folder = qEnvironmentVariable("OXLO_SCREENSHOT_DIR"); !folder.isEmpty()) {
    EXPECT_TRUE(dialog->grab().save(folder + "/rollout-dialog.png"));
  }
}

// A canary that does not come back upgraded stops the rollout: the others
// get not a single firmware message.
TEST_F(DetectRollout, AFailingCanaryLeavesTheOthersUntouched) {
  struct Case {
    Takes takes;
    const char* reason;
  };
  const Case cases[] = {
      {Takes::kRefusesEnd, "the device refused the end message"},
      {Takes::kKeepsOld, "came back with version 1.0.1"},
  };
  for (const Case& c : cases) {
    devices.SetTakes(kMacs[0], c.takes);
    // The right mouse button on the list this time.
    ClickCell(Grid(), 1, column::kName);
    const QRect cell = Grid().visualRect(Grid().model()->index(1, column::kName));
    QTest::mouseClick(window.windowHandle(), Qt::RightButton, {},
                      Grid().viewport()->mapTo(&window, cell.center()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Menu()->isVisible(); }, kCapMs)) << c.reason;
    QTest::keyClick(Menu(), Qt::Key_U);
    RolloutDialog* dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    QTableWidget& table = Table(*dialog);
    // The canary is the first checked row in list order, whatever was checked first.
    for (int row : {2, 1, 0}) CheckBySpace(table, row);
    ChooseImageAndType(*dialog, Image(200), "2.0.0");
    Click(Control(*dialog, "RolloutStart"));
    ASSERT_TRUE(WaitOver(*dialog)) << c.reason;

    EXPECT_EQ(Result(*dialog, 0), "failed") << c.reason;
    EXPECT_EQ(Reason(*dialog, 0), c.reason);
    for (int row : {1, 2}) {
      EXPECT_EQ(Result(*dialog, row), "not_started") << c.reason;
      EXPECT_EQ(devices.FirmwareMessagesTo(kMacs[row]), 0u) << c.reason;
    }
    Click(Control(*dialog, "RolloutClose"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.Rollouts() == nullptr; }, kCapMs));
  }
}

// Stop during the first device's comeback: it finishes and is judged, the
// others never start. Escape while a rollout runs asks, and a yes stops it
// and closes the dialog once it is over.
TEST_F(DetectRollout, StopLetsTheRunningUploadFinishAndStartsNoOther) {
  for (const bool byEscape : {false, true}) {
    RolloutDialog* dialog = OpenDialogByKeyboard(Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_NE(dialog, nullptr);
    QPointer<RolloutDialog> alive(dialog);
    QTableWidget& table = Table(*dialog);
    const int first = byEscape ? 1 : 0;
    for (int row = first; row < 3; ++row) ClickCheckBox(table, row);
    ChooseImageAndType(*dialog, Image(500), "2.0.0");
    SetSpin(*dialog, "RolloutCanary", 0);
    SetSpin(*dialog, "RolloutParallel", 1);
    Click(Control(*dialog, "RolloutStart"));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return devices.RestartedAt(kMacs[first]).has_value(); }, kCapMs));
    if (byEscape) {
      // Not answered yes: the rollout goes on and the dialog stays.
      prompter.answers = {Answer::No};
      Key(*dialog, Qt::Key_Escape);
      EXPECT_TRUE(dialog->Running());
      EXPECT_TRUE(dialog->isVisible());
      prompter.answers = {Answer::Yes};
      Key(*dialog, Qt::Key_Escape);
      ASSERT_EQ(prompter.messages.size(), 2u);
      EXPECT_TRUE(prompter.messages[1].startsWith("A rollout is running."));
    } else {
      EXPECT_TRUE(Control(*dialog, "RolloutStop")->isEnabled());
      Click(Control(*dialog, "RolloutStop"));
    }
    // The device being confirmed still is.
    ASSERT_TRUE(QTest::qWaitFor([&] { return alive == nullptr || !alive->Running(); }, kCapMs));
    if (byEscape) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return alive == nullptr; }, kCapMs));
    } else {
      EXPECT_EQ(Result(*dialog, first), "upgraded");
      for (int row = first + 1; row < 3; ++row) {
        EXPECT_EQ(Result(*dialog, row), "not_started") << row;
        EXPECT_EQ(Reason(*dialog, row), "stopped by the operator") << row;
      }
      EXPECT_FALSE(Control(*dialog, "RolloutStop")->isEnabled());
      EXPECT_TRUE(Control(*dialog, "RolloutStart")->isEnabled());
      Click(Control(*dialog, "RolloutClose"));
      EXPECT_TRUE(QTest::qWaitFor([&] { return alive == nullptr; }, kCapMs));
    }
    for (int row = first + 1; row < 3; ++row) {
      EXPECT_EQ(devices.FirmwareMessagesTo(kMacs[row]), 0u) << row;
    }
    EXPECT_EQ(Grid().Text(first, column::kVersion), "2.0.0");
    EXPECT_TRUE(ToolbarEnabled());
    prompter.messages.clear();
  }
}

// Nothing goes out when the rollout cannot start; the operator is told why.
TEST_F(DetectRollout, StartRefusesMixedModelsAndWhatIsMissing) {
  struct Case {
    const char* what;
    std::vector<int> rows;
    bool image;
    QString version;
    const char* message;
  };
  const Case cases[] = {
      {"nothing checked", {}, true, "2.0.0", "Check the devices to upgrade."},
      {"no image", {0}, false, "2.0.0", "Choose the firmware image."},
      {"no version",
       {0},
       true,
       "",
       "Type the version the image brings: 1 to 8 printable characters."},
      {"two models",
       {0, 3},
       true,
       "2.0.0",
       "The checked devices report different models (Oxlo CG-100, Oxlo CG-200). An image made "
       "for another model can leave a device unusable: upgrade one model at a time."},
  };
  for (const Case& c : cases) {
    prompter.messages.clear();
    RolloutDialog* dialog = OpenDialogByKeyboard();
    ASSERT_NE(dialog, nullptr) << c.what;
    for (int row : c.rows) ClickCheckBox(Table(*dialog), row);
    if (c.image) {
      ChooseImageAndType(*dialog, Image(100), c.version);
    } else {
      Control<QLineEdit>(*dialog, "RolloutVersion")->setFocus();
      QTest::keyClicks(QApplication::focusWidget(), c.version);
    }
    Click(Control(*dialog, "RolloutStart"));
    EXPECT_EQ(prompter.messages, std::vector<QString>{c.message}) << c.what;
    EXPECT_FALSE(dialog->Running()) << c.what;
    EXPECT_TRUE(network.Sent().empty()) << c.what;
    Key(*dialog, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.Rollouts() == nullptr; }, kCapMs)) << c.what;
  }
  // The version field takes printable characters only, at most eight.
  RolloutDialog* dialog = OpenDialogByKeyboard();
  auto* version = Control<QLineEdit>(*dialog, "RolloutVersion");
  version->setFocus();
  QTest::keyClicks(version, " v1 2.3.4.5.6");
  EXPECT_EQ(version->text(), "v1 2.3.4");
}

// The keyboard reaches every control in reading order, the mnemonics jump
// to their fields, and each control says what it is.
TEST_F(DetectRollout, EveryControlIsReachableByKeyboardAndNamed) {
  RolloutDialog* dialog = OpenDialogByKeyboard();
  ASSERT_NE(dialog, nullptr);
  Table(*dialog).setFocus();
  const std::vector<QString> order = {"RolloutImage",  "RolloutBrowse",   "RolloutVersion",
                                      "RolloutCanary", "RolloutParallel", "RolloutStart",
                                      "RolloutClose",  "RolloutDevices"};
  for (const QString& name : order) {
    Key(*dialog, Qt::Key_Tab);
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr) << name.toStdString();
    // A spin box's editor has the focus on its behalf.
    const QString focused = focus->objectName().isEmpty() && focus->parentWidget() != nullptr
                                ? focus->parentWidget()->objectName()
                                : focus->objectName();
    EXPECT_EQ(focused, name);
    const QWidget* control = dialog->findChild<QWidget*>(name);
    EXPECT_FALSE(control->accessibleName().isEmpty()) << name.toStdString();
  }
  struct Jump {
    Qt::Key key;
    const char* field;
  };
  for (const Jump& j : {Jump{Qt::Key_I, "RolloutImage"}, Jump{Qt::Key_V, "RolloutVersion"},
                        Jump{Qt::Key_N, "RolloutCanary"}, Jump{Qt::Key_O, "RolloutParallel"},
                        Jump{Qt::Key_D, "RolloutDevices"}}) {
    QTest::keyClick(QApplication::focusWidget(), j.key, Qt::AltModifier);
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr) << j.field;
    EXPECT_TRUE(focus == dialog->findChild<QWidget*>(j.field) ||
                focus->parentWidget() == dialog->findChild<QWidget*>(j.field))
        << j.field;
  }
  for (int row = 0; row < Table(*dialog).rowCount(); ++row) {
    EXPECT_FALSE(Table(*dialog)
                     .item(row, rollout_column::kModel)
                     ->data(Qt::AccessibleTextRole)
                     .toString()
                     .isEmpty());
    EXPECT_FALSE(
        Table(*dialog).cellWidget(row, rollout_column::kProgress)->accessibleName().isEmpty());
  }
  // Alt+C closes while nothing runs.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.Rollouts() == nullptr; }, kCapMs));
}

// The window goes while a rollout runs: the uploads stop with it, nothing
// is left behind to be handed a datagram.
TEST_F(DetectRollout, ClosingTheWindowDuringARolloutStopsIt) {
  testing::RecordingPrompter prompter2;
  FakeNetwork network2;
  Devices devices2(network2);
  devices2.Add({"Oxlo CG-100", kMacs[0], "1.0.1", "Oxlo-1", "10.57.0.101"});
  auto other = std::make_unique<TFormDetect>(prompter2, desktop, pacer, network2);
  testing::ShowActive(*other);
  Click(other->findChild<QPushButton*>("FlatButton2"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return other->DeviceCount() == 1; }, kCapMs));
  Click(other->findChild<QPushButton*>("FlatButton6"));  // Stop: the search ends
  ClickCell(*other->findChild<DeviceGrid*>("RGrid"), 0, column::kModel);
  QTest::keyClick(other->findChild<DeviceGrid*>("RGrid"), Qt::Key_Menu);
  QMenu* menu = other->findChild<QMenu*>("DeviceMenu");
  ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, kCapMs));
  QTest::keyClick(menu, Qt::Key_U);
  QPointer<RolloutDialog> dialog = other->Rollouts();
  ASSERT_NE(dialog, nullptr);
  QApplication::setActiveWindow(dialog);
  ClickCheckBox(Table(*dialog), 0);
  prompter2.files = {Image(300)};
  Click(Control(*dialog, "RolloutBrowse"));
  QTest::keyClicks(QApplication::focusWidget(), "2.0.0");
  Click(Control(*dialog, "RolloutStart"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return devices2.RestartedAt(kMacs[0]).has_value(); }, kCapMs));
  ASSERT_TRUE(dialog->Running());
  other.reset();
  EXPECT_EQ(dialog, nullptr);
  // A late reply reaches no one.
  network2.Deliver(DiscoveryReply("Oxlo CG-100", kMacs[0], "2.0.0", "Oxlo-1", "10.57.0.101"));
}

// After a single upgrade the list asks every second until the device is
// back, and its row shows what it reported; the other devices' replies to
// those queries change nothing.
TEST_F(DetectRollout, TheSingleUpgradesDeviceComesBackInItsRow) {
  struct Case {
    Takes takes;
    std::chrono::milliseconds within;
    const char* shown;
  };
  const Case cases[3] = {
      {Takes::kNewVersion, std::chrono::seconds(180), "2.0.0"},
      {Takes::kKeepsOld, std::chrono::seconds(180), "1.0.1"},
      {Takes::kNeverComesBack, std::chrono::milliseconds(1500), "1.0.1"},
  };
  for (int row = 0; row < 3; ++row) {
    const Case& c = cases[row];
    devices.SetTakes(kMacs[row], c.takes);
    window.SetComebackWithin(c.within);
    prompter.messages.clear();
    network.ClearSent();
    ClickCell(Grid(), row, column::kName);
    prompter.files = {Image(300)};
    Click(Button("FlatButton7"));
    ASSERT_TRUE(testing::WaitForUpgradeEnd(window));
    ASSERT_EQ(prompter.messages, std::vector<QString>{"Updating firmware was successful"});
    EXPECT_TRUE(window.WatchingComeback());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.WatchingComeback(); }, kCapMs));
    EXPECT_EQ(Grid().Text(row, column::kVersion), c.shown) << row;
    EXPECT_EQ(window.DeviceCount(), 4);
    EXPECT_EQ(Grid().rowCount(), 4);
    // Asked as the search asks: broadcast from the device port's endpoint.
    int queries = 0;
    for (const SentDatagram& d : network.Sent()) {
      if (d.data != BuildDiscoveryQuery()) continue;
      ++queries;
      EXPECT_EQ(d.sender, "device");
      EXPECT_EQ(d.host, "255.255.255.255");
    }
    EXPECT_GE(queries, 1) << row;
    EXPECT_EQ(prompter.messages.size(), 1u) << row;
  }
}

// Closing the window, another upgrade and a search each end the watch and
// close what it kept open; the search lists each device once.
TEST_F(DetectRollout, CloseAnotherUpgradeOrASearchEndsTheComebackWatch) {
  struct Case {
    const char* what;
    std::function<void()> end;
  };
  const Case cases[] = {
      {"closing the window", [&] { window.close(); }},
      {"another upgrade",
       [&] {
         ClickCell(Grid(), 3, column::kName);
         prompter.files = {};  // the file dialog cancelled
         Click(Button("FlatButton7"));
       }},
      {"a search", [&] { Click(Button("FlatButton2")); }},
  };
  for (int row = 0; row < 3; ++row) {
    const Case& c = cases[row];
    testing::ShowActive(window);
    ClickCell(Grid(), row, column::kName);
    prompter.files = {Image(300)};
    Click(Button("FlatButton7"));
    ASSERT_TRUE(testing::WaitForUpgradeEnd(window)) << c.what;
    ASSERT_TRUE(window.WatchingComeback()) << c.what;
    EXPECT_TRUE(window.UDPServer().IsActive()) << c.what;
    c.end();
    EXPECT_FALSE(window.WatchingComeback()) << c.what;
    if (row < 2) {
      EXPECT_FALSE(window.UDPServer().IsActive()) << c.what;
    }
  }
  EXPECT_TRUE(window.UDPServer().IsActive());  // the search's
  // The three upgraded devices are silent while they restart.
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.DeviceCount() == 1; }, kCapMs));
  for (int i = 0; i < 10; ++i) window.TimerFINDTimer();
  EXPECT_EQ(Grid().rowCount(), 1);
  EXPECT_EQ(Grid().Text(0, column::kMac), kMacs[3]);
}

}  // namespace
}  // namespace oxlo::ui
