// The device list under a flood of replies from ever new MACs: it stops at
// its limit, the search goes on, and the counter tells the operator without
// a box that would hold the search up.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "tests/ui/doubles.h"
#include "ui/detect/device_grid.h"
#include "ui/detect/form_detect.h"

namespace oxlo::ui {
namespace {

using testing::DiscoveryReply;
using testing::FakeNetwork;
using testing::RecordingDesktop;
using testing::RecordingPrompter;

Bytes Device(int n) {
  char mac[18];
  std::snprintf(mac, sizeof mac, "02-00-00-00-%02X-%02X", n >> 8, n & 0xFF);
  return DiscoveryReply("OX-CAN-1", mac, "1.0.4", "Oxlo-" + std::to_string(n),
                        "10.57.0." + std::to_string(n % 200 + 1));
}

class DeviceListCap : public ::testing::Test {
 protected:
  RecordingPrompter prompter;
  RecordingDesktop desktop;
  testing::RecordingPacer pacer;
  FakeNetwork network;
  TFormDetect window{prompter, desktop, pacer, network};
  QLabel* count = window.findChild<QLabel*>("lblcount");
  DeviceGrid* grid = window.findChild<DeviceGrid*>("RGrid");

  void Search() {
    QTest::mouseClick(window.findChild<QPushButton*>("FlatButton2"), Qt::LeftButton);
  }
  void Reply(int n) {
    network.Deliver(Device(n));
    QCoreApplication::processEvents();
  }
};

TEST_F(DeviceListCap, StopsAtTheLimitAndSaysSoOnTheCounterWhileTheSearchGoesOn) {
  window.SetDeviceLimit(3);
  Search();
  for (int n : {1, 2, 3, 4, 2, 5, 4}) Reply(n);

  ASSERT_EQ(grid->rowCount(), 3);
  EXPECT_EQ(window.DeviceCount(), 3);
  EXPECT_EQ(grid->Text(2, column::kMac), "02-00-00-00-00-03");
  EXPECT_EQ(count->text(), "List full : 3");
  // Replies from unlisted MACs, a repeat included: no MAC beyond the list is kept.
  EXPECT_EQ(count->toolTip(), "List full: 3 devices shown, 3 more replies ignored");
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_TRUE(window.findChild<QTimer*>("TimerFIND")->isActive());

  // The real limit's text fits the counter as laid out.
  count->setText("List full : " + QString::number(TFormDetect::kMaxListedDevices));
  EXPECT_LE(QFontMetrics(count->font()).horizontalAdvance(count->text()), count->width());

  // A new search starts a new list.
  QTest::mouseClick(window.findChild<QPushButton*>("FlatButton6"), Qt::LeftButton);  // Stop
  Search();
  Reply(5);
  EXPECT_EQ(grid->rowCount(), 1);
  EXPECT_EQ(count->text(), "Current : 1");
  EXPECT_EQ(count->toolTip(), "");
}

}  // namespace
}  // namespace oxlo::ui
