// The configuration window with the in-process network, ready for a test:
// the sample device, its replies, and the children found by name.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <chrono>

#include "protocol/wire/can_messages.h"
#include "protocol/wire/device_side.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/settings_messages.h"
#include "protocol/wire/text_numbers.h"
#include "sim/simulator.h"
#include "tests/support/operator.h"
#include "tests/support/sample_settings.h"
#include "tests/ui/doubles.h"
#include "ui/configure/can_tab.h"
#include "ui/configure/config_form.h"
#include "ui/configure/opmode_tab.h"
#include "ui/configure/settings_grid.h"

namespace oxlo::ui::testing {

inline const char kMacText[] = "02-00-00-00-00-01";
inline const MacField kMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
inline const MacField kOtherMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x02};

inline NetworkSettings DeviceNetwork() {
  NetworkSettings n;
  n.networkType = 0;
  n.address = Ipv4ToBytes("10.57.0.101");
  n.gateway = Ipv4ToBytes("10.57.0.1");
  n.subnetMask = Ipv4ToBytes("255.255.255.0");
  n.dns = Ipv4ToBytes("10.57.0.1");
  n.name = "Oxlo-1";
  n.portCount = 1;
  n.echoByte = 0x5A;
  return n;
}

inline PortSettings DevicePort() {
  PortSettings p;
  p.mode = OperationMode::kTcpServer;
  p.localPort = 4001;
  p.alias = "CAN1";
  p.targetAddress = Ipv4ToBytes("10.57.0.9");
  p.targetPort = 5000;
  p.alive = 7;
  return p;
}

// The windows' clock in tests: real time, which tests move on at will, so
// the device's waits pass at once and its pauses still run.
class TestClock {
 public:
  std::chrono::steady_clock::time_point Now() const {
    return std::chrono::steady_clock::now() + skew_;
  }
  void Advance(std::chrono::milliseconds by) { skew_ += by; }
  // The configuration window's waits: the acknowledgement's 5 ticks of 1 s,
  // reads asked again after an hour, a read-back and the check of what the
  // device shows given two; the filter table 1 ms apart, reads unpaced.
  ConfigTiming Timing() {
    ConfigTiming timing;
    timing.bulkPaceMs = 1;
    timing.readAgainMs = kReadAgainMs;
    timing.readBackMs = kReadBackMs;
    timing.pacedReads = false;
    timing.clock = [this] { return Now(); };
    return timing;
  }
  static constexpr int kReadAgainMs = 3600 * 1000;
  static constexpr int kReadBackMs = 2 * kReadAgainMs;

 private:
  std::chrono::milliseconds skew_{0};
};

// Lets `ms` pass for the configuration window, and what it does then happen.
inline void Elapse(TestClock& clock, TConfigForm& form, int ms) {
  clock.Advance(std::chrono::milliseconds(ms));
  form.TimerExchangeTimer();
  QCoreApplication::processEvents();
}

// Waits until Apply's messages went out (the filter table goes paced).
inline void WaitWhileWriting(TConfigForm& form) {
  for (int i = 0; i < 5000 && form.ExchangePhase() == DeviceExchange::Phase::kWriting; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
}

inline std::vector<std::uint8_t> Codes(const std::vector<SentDatagram>& sent) {
  std::vector<std::uint8_t> codes;
  for (const auto& d : sent) codes.push_back(d.data.at(1));
  return codes;
}

// Public: table cases act on the fixture through lambdas.
class ConfigWindow : public ::testing::Test {
 public:
  RecordingPrompter prompter;
  RecordingDesktop desktop;
  FakeNetwork network;
  TestClock clock;
  // Reads are asked again only when a test lets their time pass.
  TConfigForm form{prompter, network, nullptr, clock.Timing()};

  template <typename T>
  T* Child(const char* name) {
    T* child = form.findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  QString EditText(const char* name) { return Child<QLineEdit>(name)->text(); }
  bool PanelEnabled(int n) {
    return Child<QWidget>(("tabPanel" + std::to_string(n)).c_str())->isEnabled();
  }
  SettingsGrid& OpGrid() { return form.OpModePage().Grid(); }
  SettingsGrid& CanGrid() { return form.CanPage().Grid(); }

  void Reply(const Bytes& datagram) {
    network.Deliver(datagram);
    QCoreApplication::processEvents();
  }
  void Open() {
    form.OpenForDevice("Oxlo CG-100", kMacText, "1.0.1");
    QCoreApplication::processEvents();
  }
  // The settings the sample device holds.
  static DeviceSettings Held(const NetworkSettings& n = DeviceNetwork(),
                             const PortSettings& p = DevicePort()) {
    DeviceSettings held{n, p, CanSettings{7, kIdFormat29Bit, "00000123", "1FFFFFFF"}, {}};
    for (int i = 0; i < kFilterCount; ++i) {
      held.filters.entries[static_cast<std::size_t>(i)] = FilterEntry{i % 4 % 3, IntToHexDigits(i)};
    }
    return held;
  }
  // Every reply the device sends to the eleven requests.
  void ReplyAll(const NetworkSettings& n = DeviceNetwork(), const PortSettings& p = DevicePort()) {
    for (const Bytes& reply : oxlo::testing::RepliesOf(kMac, Held(n, p))) Reply(reply);
  }
  // A device holding `held` takes everything the window sent since the last
  // ClearSent and answers it, the apply command and the read-back after its
  // acknowledgement included.
  void DeviceAnswers(const DeviceSettings& held = Held()) {
    sim::DeviceState state = sim::GeneratedDevice(1);  // kMac
    state.network = held.network;
    state.port = held.port;
    state.can = held.can;
    state.filters = held.filters;
    sim::SimulatorOptions options;
    options.replyMode = sim::ReplyMode::kUnicast;
    sim::Simulator device({state}, options);
    for (std::size_t fed = 0; fed < network.Sent().size(); ++fed) {
      for (const sim::Outgoing& out : device.Handle(network.Sent()[fed].data, "10.57.0.1", 50000)) {
        Reply(out.data);
      }
    }
  }
  void OpenAndRead() {
    Open();
    ReplyAll();
    network.ClearSent();
  }
  void ClickApply() {
    QTest::mouseClick(Child<QPushButton>("FlatButton1"), Qt::LeftButton);
    WaitWhileWriting(form);
  }
  // Clicks into an edit and replaces its text by typing (the window shown
  // and active, so the click moves the focus).
  void TypeInto(const char* edit, const QString& text) {
    Click(Child<QLineEdit>(edit));
    Key(form, Qt::Key_A, Qt::ControlModifier);
    Type(form, text);
  }
  // A tick of the acknowledgement's wait; the time to ask a read again; the
  // whole time a read-back may take.
  void AckTick() { Elapse(clock, form, 1000); }
  void ReadAgainTime() { Elapse(clock, form, TestClock::kReadAgainMs); }
  void ReadBackTime() { Elapse(clock, form, TestClock::kReadBackMs); }
};

}  // namespace oxlo::ui::testing
