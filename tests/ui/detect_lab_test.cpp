// The device list window over the real transport, inside the network lab:
// a search finds the simulated devices, and Apply sends each marked row's
// address assignment out of both local addresses, in row order.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <iterator>

#include "tests/protocol/test_bytes.h"
#include "tests/support/operator.h"
#include "tests/ui/doubles.h"
#include "tests/ui/lab_support.h"
#include "ui/configure/config_form.h"
#include "ui/detect/device_grid.h"
#include "ui/detect/form_detect.h"
#include "ui/detect/rollout_dialog.h"

namespace oxlo::ui {
namespace {

using lab::Env;
using lab::Logged;
using lab::WaitFor;
using oxlo::testing::Ascii;
using oxlo::testing::Concat;
using oxlo::testing::Hex;
using oxlo::testing::Zeros;

Bytes MacBytes(const QString& text) {
  return Hex(QString(text).replace('-', ' ').toStdString());
}

Bytes AddressBytes(const QString& text) {
  Bytes out;
  for (const QString& part : text.split('.'))
    out.push_back(static_cast<std::uint8_t>(part.toInt()));
  return out;
}

class DetectLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("OXLO_LAB_HOST_IP2").empty() || Env("OXLO_TEST_DEV_LOG").empty()) {
      GTEST_SKIP() << "runs inside the network lab (tests/lab)";
    }
  }
  testing::RecordingPrompter prompter;
  testing::RecordingDesktop desktop;
  testing::RecordingPacer pacer;
  SystemNetwork network;
};

TEST_F(DetectLab, ApplySendsEachMarkedRowFromEveryLocalAddressInRowOrder) {
  TFormDetect window(prompter, desktop, pacer, network);
  window.FlatButton2Click();
  ASSERT_TRUE(WaitFor([&] { return window.DeviceCount() == 3; })) << window.DeviceCount();
  window.FlatButton6Click();

  auto* grid = window.findChild<DeviceGrid*>("RGrid");
  grid->SetText(0, column::kIp, "10.57.0.50");
  grid->SetModified(0, true);
  grid->SetText(2, column::kName, "Renamed");
  grid->SetModified(2, true);
  const QString mac0 = grid->Text(0, column::kMac);
  const QString mac2 = grid->Text(2, column::kMac);
  const std::string name0 = grid->Text(0, column::kName).toStdString();
  const Bytes expected0 = Concat({Hex("02 53"), MacBytes(mac0), Hex("0A 39 00 32"),
                                  AddressBytes(grid->Text(0, column::kGateway)),
                                  AddressBytes(grid->Text(0, column::kMask)), Zeros(4),
                                  Ascii(name0), Zeros(32 - name0.size()), Hex("03")});
  const Bytes ip2 = AddressBytes(grid->Text(2, column::kIp));
  window.FlatButton1Click();
  EXPECT_EQ(prompter.messages,
            std::vector<QString>{"Configuration of 2 device(s) was/were successful."});

  const std::string host1 = Env("OXLO_LAB_HOST_IP"), host2 = Env("OXLO_LAB_HOST_IP2");
  std::vector<Logged> dev, dev2;
  ASSERT_TRUE(WaitFor([&] {
    dev = lab::WithCode(lab::ReadLog(Env("OXLO_TEST_DEV_LOG")), 0x53);
    dev2 = lab::WithCode(lab::ReadLog(Env("OXLO_TEST_DEV2_LOG")), 0x53);
    return dev.size() >= 2 && dev2.size() >= 2;
  })) << dev.size()
      << " " << dev2.size();
  ASSERT_EQ(dev.size(), 2u);
  ASSERT_EQ(dev2.size(), 2u);
  for (const auto& [log, host] : {std::pair{&dev, host1}, std::pair{&dev2, host2}}) {
    EXPECT_EQ((*log)[0].source, host);
    EXPECT_EQ((*log)[1].source, host);
    EXPECT_EQ((*log)[0].data, expected0);
    const Bytes& second = (*log)[1].data;
    ASSERT_EQ(second.size(), 57u);
    EXPECT_EQ(Bytes(second.begin() + 2, second.begin() + 8), MacBytes(mac2));
    EXPECT_EQ(Bytes(second.begin() + 8, second.begin() + 12), ip2);
    EXPECT_EQ(Bytes(second.begin() + 24, second.begin() + 31), Ascii("Renamed"));
    EXPECT_EQ(second[31], 0x00);
  }
  // The list was cleared; the queries sent with each row bring the devices back.
  EXPECT_TRUE(window.UDPServer().IsActive());
  EXPECT_TRUE(WaitFor([&] { return window.DeviceCount() == 3; })) << window.DeviceCount();
}

TEST_F(DetectLab, SearchByIpReachesOnlyThatHostAndListsItsDevices) {
  TFormDetect window(prompter, desktop, pacer, network);
  window.SetDialogRunner([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>("FlatEdit1")
        ->setText(QString::fromStdString(Env("OXLO_LAB_DEV_IP")));
    dialog.accept();
    return dialog.result();
  });
  window.FlatButton3Click();
  EXPECT_TRUE(WaitFor([&] { return window.DeviceCount() == 3; })) << window.DeviceCount();
  for (int i = 0; i < 10; ++i) window.TimerFINDTimer();
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_FALSE(window.UDPServer().IsActive());
}

TEST_F(DetectLab, FirmwareReachesTheDeviceWhole) {
  TFormDetect window(prompter, desktop, pacer, network);
  testing::ShowActive(window);
  testing::Click(window.findChild<QPushButton*>("FlatButton2"));
  ASSERT_TRUE(WaitFor([&] { return window.DeviceCount() == 3; }));
  testing::Click(window.findChild<QPushButton*>("FlatButton6"));
  auto* grid = window.findChild<DeviceGrid*>("RGrid");
  testing::ClickCell(*grid, 1, column::kModel);
  const QString mac = grid->Text(1, column::kMac);

  QTemporaryDir dir;
  const QString path = dir.filePath("image.bin");
  QByteArray image(300, '\0');
  for (int i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 13 + 1);
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(image);
  file.close();
  prompter.files = {path};
  testing::Click(window.findChild<QPushButton*>("FlatButton7"));
  ASSERT_TRUE(WaitFor([&] { return !window.UpgradingFirmware(); }, 60000));
  EXPECT_EQ(prompter.messages, std::vector<QString>{"Updating firmware was successful"});

  QFile saved(QString::fromStdString(Env("OXLO_TEST_FIRMWARE_OUT")) + "/" + mac + ".bin");
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly)) << saved.fileName().toStdString();
  EXPECT_EQ(saved.readAll(), image);
}

// Several devices at once over the window's real endpoints: every image
// arrives whole, and each device is judged by what it reports after. A
// simulator started with --reboot-ms and --version-after V (say so in
// OXLO_TEST_SIM_VERSION_AFTER) comes back upgraded; one without them keeps
// answering with its old version and fails when the time to come back is up.
TEST_F(DetectLab, SeveralDevicesUpgradeFromTheListsMenu) {
  const std::string versionAfter = Env("OXLO_TEST_SIM_VERSION_AFTER");
  TFormDetect window(prompter, desktop, pacer, network);
  window.SetComebackWithin(versionAfter.empty() ? std::chrono::seconds(3)
                                                : std::chrono::seconds(30));
  testing::ShowActive(window);
  testing::Click(window.findChild<QPushButton*>("FlatButton2"));
  ASSERT_TRUE(WaitFor([&] { return window.DeviceCount() == 3; })) << window.DeviceCount();
  testing::Click(window.findChild<QPushButton*>("FlatButton6"));
  auto* grid = window.findChild<DeviceGrid*>("RGrid");
  std::vector<QString> macs, before;
  std::vector<bool> checked;
  for (int row = 0; row < 3; ++row) {
    macs.push_back(grid->Text(row, column::kMac));
    before.push_back(grid->Text(row, column::kVersion));
    // One model at a time: the simulator's devices are of several.
    checked.push_back(grid->Text(row, column::kModel) == grid->Text(0, column::kModel));
  }

  testing::ClickCell(*grid, 0, column::kModel);
  QTest::keyClick(grid, Qt::Key_Menu);
  auto* menu = window.findChild<QMenu*>("DeviceMenu");
  ASSERT_TRUE(WaitFor([&] { return menu->isVisible(); }));
  QTest::keyClick(menu, Qt::Key_U);
  RolloutDialog* dialog = window.Rollouts();
  ASSERT_NE(dialog, nullptr);
  testing::ShowActive(*dialog);
  auto* table = dialog->findChild<QTableWidget*>("RolloutDevices");
  for (int row = 0; row < 3; ++row) {
    if (!checked[row]) continue;
    testing::ClickCell(*table, row, rollout_column::kMac);
    QTest::keyClick(table, Qt::Key_Space);
  }
  QTemporaryDir dir;
  const QString path = dir.filePath("image.bin");
  QByteArray image(1000, '\0');
  for (int i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 31 + 7);
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(image);
  file.close();
  prompter.files = {path};
  testing::Click(dialog->findChild<QPushButton*>("RolloutBrowse"));
  const QString wanted = versionAfter.empty() ? "9.9.9" : QString::fromStdString(versionAfter);
  QTest::keyClicks(QApplication::focusWidget(), wanted);
  testing::Click(dialog->findChild<QPushButton*>("RolloutStart"));
  ASSERT_TRUE(dialog->Running());
  ASSERT_TRUE(WaitFor([&] { return !dialog->Running(); }, 120000));

  for (int row = 0; row < 3; ++row) {
    const QString result = table->item(row, rollout_column::kResult)->text();
    const QString reason = table->item(row, rollout_column::kReason)->text();
    if (!checked[row]) {
      EXPECT_EQ(result, "") << row;
      EXPECT_EQ(grid->Text(row, column::kVersion), before[row]) << row;
    } else if (versionAfter.empty()) {
      // The canary did not come back upgraded: nothing else started.
      EXPECT_EQ(result, row == 0 ? "failed" : "not_started") << row;
      if (row == 0) {
        EXPECT_EQ(reason, "came back with version " + before[0]);
      }
    } else {
      EXPECT_EQ(result, "upgraded") << row << " " << reason.toStdString();
      EXPECT_EQ(grid->Text(row, column::kVersion), wanted) << row;
    }
  }
  // What the first device took, as the simulator saved it.
  QFile saved(QString::fromStdString(Env("OXLO_TEST_FIRMWARE_OUT")) + "/" + macs[0] + ".bin");
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly)) << saved.fileName().toStdString();
  EXPECT_EQ(saved.readAll(), image);
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_TRUE(window.findChild<QWidget*>("FlatPanel1")->isEnabled());
}

std::size_t EntriesIn(const char* folder) {
  const std::filesystem::directory_iterator entries(folder);
  return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

// Sockets, files and receiving threads are given back each time: fifty
// openings of the configuration window and twenty upgrades leave the process
// with what it had after the first of each.
TEST_F(DetectLab, RepeatedConfigAndFirmwareLeaveNoDescriptorsOrThreads) {
  TFormDetect window(prompter, desktop, pacer, network);
  TConfigForm config(prompter, network, &window);
  window.SetConfigForm(&config);
  window.FlatButton2Click();
  ASSERT_TRUE(WaitFor([&] { return window.DeviceCount() == 3; }));
  window.FlatButton6Click();
  auto* grid = window.findChild<DeviceGrid*>("RGrid");
  grid->setCurrentCell(1, column::kName);

  int opened = 0;
  window.SetDialogRunner([&](QDialog& dialog) {
    testing::ShowActive(dialog);
    if (WaitFor([&] { return dialog.findChild<QWidget*>("tabPanel4")->isEnabled(); })) ++opened;
    testing::Click(dialog.findChild<QPushButton*>("FlatButton2"));  // Cancel
    return dialog.result();
  });
  QTemporaryDir dir;
  const QString path = dir.filePath("image.bin");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QByteArray(300, 'x'));
  file.close();
  // Closing the window may start a new search: it is let list the devices
  // again and stopped, so every round starts alike.
  const auto listed = [&] {
    WaitFor([&] { return window.DeviceCount() == 3; });
    window.FlatButton6Click();
    grid->setCurrentCell(1, column::kName);
  };
  const auto configure = [&] {
    testing::Click(window.findChild<QPushButton*>("FlatButton8"));
    listed();
  };
  const auto upgrade = [&] {
    prompter.files = {path};
    testing::Click(window.findChild<QPushButton*>("FlatButton7"));
    EXPECT_TRUE(WaitFor([&] { return !window.UpgradingFirmware(); }, 60000));
    listed();
  };

  configure();
  upgrade();
  const std::size_t descriptors = EntriesIn("/proc/self/fd");
  const std::size_t threads = EntriesIn("/proc/self/task");
  for (int i = 0; i < 50; ++i) configure();
  for (int i = 0; i < 20; ++i) upgrade();
  EXPECT_EQ(opened, 51);
  EXPECT_EQ(std::count(prompter.messages.begin(), prompter.messages.end(),
                       "Updating firmware was successful"),
            21);
  EXPECT_EQ(EntriesIn("/proc/self/fd"), descriptors);
  EXPECT_EQ(EntriesIn("/proc/self/task"), threads);
}

}  // namespace
}  // namespace oxlo::ui
