// The device list with its configuration window on the in-process network,
// shown and ready for the operator's hands.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <string>

#include "tests/support/config_window.h"
#include "tests/support/operator.h"
#include "tests/ui/doubles.h"
#include "ui/configure/config_form.h"
#include "ui/detect/device_grid.h"
#include "ui/detect/form_detect.h"

namespace oxlo::ui::testing {

inline const char* const kListedMacs[] = {"02-00-00-00-00-01", "02-00-00-00-00-02",
                                          "02-00-00-00-00-03"};

// A click on Upgrade Firmware starts the upload and returns; this lets it
// run to its end, message box and all. False when it still runs at the cap.
inline bool WaitForUpgradeEnd(const TFormDetect& window, int capMs = 30000) {
  return QTest::qWaitFor([&] { return !window.UpgradingFirmware(); }, capMs);
}

// Public: table cases act on the fixture through lambdas.
class DetectWindow : public ::testing::Test {
 public:
  RecordingPrompter prompter;
  RecordingDesktop desktop;
  RecordingPacer pacer;
  FakeNetwork network;
  TFormDetect window{
      prompter, desktop,
      pacer,    network,
      nullptr,  FirmwareTimeouts{std::chrono::milliseconds(200), std::chrono::milliseconds(300)}};
  TestClock clock;
  TConfigForm config{prompter, network, &window, clock.Timing()};
  QTemporaryDir dir;

  void SetUp() override {
    window.SetConfigForm(&config);
    ShowActive(window);
  }
  DeviceGrid& Grid() { return *window.findChild<DeviceGrid*>("RGrid"); }
  QPushButton* Button(const char* name) { return window.findChild<QPushButton*>(name); }
  void Reply(const Bytes& datagram) {
    network.Deliver(datagram);
    QCoreApplication::processEvents();
  }
  // A search, answered by the first `devices` of the three, run to its end.
  void Search(int devices) {
    Click(Button("FlatButton2"));
    for (int n = 0; n < devices; ++n) {
      Reply(DiscoveryReply("Oxlo CG-100", kListedMacs[n], "1.0.1", "Oxlo-" + std::to_string(n + 1),
                           "10.57.0." + std::to_string(101 + n)));
    }
    for (int i = 0; i < 10; ++i) window.TimerFINDTimer();
    network.ClearSent();
  }
};

}  // namespace oxlo::ui::testing
