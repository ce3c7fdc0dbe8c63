// The configuration window against a device that loses replies or the apply
// command: reads are asked again for what did not answer, writes and the
// apply command never; an acknowledgement that came before the apply command
// is no answer; and a lost apply command answered by an old acknowledgement
// is seen in the discovery reply, not called applied.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <set>

#include "protocol/wire/frame.h"
#include "tests/support/config_window.h"
#include "tests/support/operator.h"

namespace oxlo::ui {
namespace {

using testing::Codes;
using testing::kMac;

const QString kApplied = "Configuration was successfully applied";

class ConfigReplies : public testing::ConfigWindow {
 public:
  // From now on the device answers each send at once, as the simulator
  // would, but the first reply of each code in `dropFirst` is lost.
  void LossyDevice(std::set<std::uint8_t> dropFirst, sim::FaultSettings faults = {}) {
    sim::DeviceState state = sim::GeneratedDevice(1);  // kMac
    const DeviceSettings held = Held();
    state.network = held.network;
    state.port = held.port;
    state.can = held.can;
    state.filters = held.filters;
    state.identity.name = held.network.name;
    sim::SimulatorOptions options;
    options.replyMode = sim::ReplyMode::kUnicast;
    options.faults = faults;
    auto device = std::make_shared<sim::Simulator>(std::vector<sim::DeviceState>{state}, options);
    auto drop = std::make_shared<std::set<std::uint8_t>>(std::move(dropFirst));
    network.SetResponder(
        [this, device, drop](const testing::SentDatagram& d) -> std::optional<Bytes> {
          if (before_reply) before_reply(d);
          for (const sim::Outgoing& out : device->Handle(d.data, "10.57.0.1", 50000)) {
            if (drop->erase(out.data[kCodeOffset]) != 0) continue;
            return out.data;
          }
          return std::nullopt;
        });
  }
  // Runs as the device takes each send, before it answers.
  std::function<void(const testing::SentDatagram&)> before_reply;
  // Each reply handled may send a request whose reply waits in the inbox.
  void Events() {
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
  }
  int Sent(std::uint8_t commandCode, std::size_t size = kShortCommandSize) {
    const auto sent = network.Sent();
    return static_cast<int>(std::count_if(sent.begin(), sent.end(), [&](const auto& d) {
      return d.data[kCodeOffset] == commandCode && d.data.size() == size;
    }));
  }
  void TypeNameAndApply(const QString& name) {
    testing::ShowActive(form);
    testing::Click(Child<QLineEdit>("DeviceNameText"));
    testing::Key(form, Qt::Key_A, Qt::ControlModifier);
    testing::Type(form, name);
    ClickApply();
    Events();
  }
};

TEST_F(ConfigReplies, OpeningAsksAgainOnlyForThePartsThatDidNotAnswer) {
  LossyDevice({code::kNetworkReply, code::kCanReply, code::kFilterReplyFirst + 2});
  Open();
  Events();
  EXPECT_FALSE(PanelEnabled(1));
  EXPECT_FALSE(PanelEnabled(2)) << "no port row without the network settings";
  EXPECT_FALSE(PanelEnabled(3));
  EXPECT_EQ(form.ExchangePhase(), DeviceExchange::Phase::kReading);
  network.ClearSent();
  ReadAgainTime();  // its time is up
  Events();
  EXPECT_EQ(Codes(network.Sent()),
            (std::vector<std::uint8_t>{'N', 'O', 'C', code::kFilterGroupFirst + 2}));
  for (int panel = 1; panel <= 4; ++panel) EXPECT_TRUE(PanelEnabled(panel)) << panel;
  EXPECT_EQ(EditText("DeviceNameText"), "Oxlo-1");
  EXPECT_FALSE(form.ExchangePhase());
  network.ClearSent();
  ReadAgainTime();
  EXPECT_TRUE(network.Sent().empty());
}

TEST_F(ConfigReplies, ASilentPartIsAskedThreeTimesMoreAndNoFurther) {
  Open();
  for (int tick = 0; tick < 5; ++tick) ReadAgainTime();
  EXPECT_EQ(Sent('C'), 4);
  EXPECT_EQ(Sent(code::kFilterGroupFirst + 7), 4);
  EXPECT_FALSE(form.ExchangePhase());
}

// The read-back after the acknowledgement loses two replies and asks for
// them again; the network message and the apply command went once.
TEST_F(ConfigReplies, TheReadBackAsksAgainButWritesAndApplyGoOnce) {
  OpenAndRead();
  LossyDevice({code::kNetworkReply, code::kOpModeReply});
  TypeNameAndApply("Renamed");
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(form.ExchangePhase(), DeviceExchange::Phase::kReadingBack);
  ReadAgainTime();
  Events();
  EXPECT_EQ(prompter.messages, std::vector<QString>{kApplied});
  EXPECT_EQ(Sent('N', kNetworkMessageSize), 1);
  EXPECT_EQ(Sent('A'), 1);
  EXPECT_EQ(Sent('N'), 2) << "read back, and asked again";
  EXPECT_EQ(Sent('O'), 2);
  EXPECT_EQ(Sent('C'), 1);
}

// A network reply from before the write still waits in the inbox as the
// acknowledgement starts the read-back: it answers no request of it.
TEST_F(ConfigReplies, AReplyQueuedBeforeTheReadBackAsksIsNoPartOfIt) {
  OpenAndRead();
  LossyDevice({});
  before_reply = [this](const testing::SentDatagram& d) {
    if (d.data[kCodeOffset] != 'A') return;
    network.Deliver(BuildApplyAck(kMac));
    network.Deliver(BuildNetworkReply(kMac, testing::DeviceNetwork()));  // the old name
  };
  TypeNameAndApply("Renamed");
  EXPECT_EQ(prompter.messages, std::vector<QString>{kApplied});
}

// A late copy of an earlier acknowledgement waits in the inbox as Apply
// sends the apply command, which the device loses: it is no answer.
TEST_F(ConfigReplies, AnAcknowledgementThatCameBeforeTheApplyCommandIsNoAnswer) {
  form.show();
  OpenAndRead();
  network.SetResponder([](const testing::SentDatagram& d) -> std::optional<Bytes> {
    if (d.data[kCodeOffset] == 'N') return BuildApplyAck(kMac);
    return std::nullopt;
  });
  TypeNameAndApply("Renamed");
  EXPECT_EQ(Sent('A'), 1);
  EXPECT_EQ(form.ExchangePhase(), DeviceExchange::Phase::kAwaitingAck);
  EXPECT_EQ(form.AckCountdown(), 5);
  EXPECT_EQ(Sent('N'), 0) << "no read-back";
  for (int i = 0; i < 5; ++i) AckTick();
  EXPECT_EQ(prompter.messages, std::vector<QString>{"Connection Lost. Please try again."});
}

// What the device shows in use decides after a read-back of a new name.
TEST_F(ConfigReplies, ANameStoredButNotInUseIsNotCalledApplied) {
  struct Case {
    const char* what;
    sim::FaultSettings faults;
    std::set<std::uint8_t> dropFirst;
    bool timeUp;  // the check's time runs out
    QString message;
  };
  sim::FaultSettings lostApply;
  lostApply.loseApply = 1;
  sim::FaultSettings silent;
  silent.silentCodes.set(code::kDiscovery);
  const Case cases[] = {
      {"applied", {}, {}, false, kApplied},
      {"applied, the first discovery reply lost", {}, {code::kDiscovery}, false, kApplied},
      {"the apply command lost, an old acknowledgement late",
       lostApply,
       {},
       false,
       "The device stored the settings but did not apply them: name. Please apply again."},
      {"no discovery reply",
       silent,
       {},
       true,
       "The settings were stored, but the device did not show the ones in use. Please apply "
       "again."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    prompter.messages.clear();
    network.SetResponder({});
    OpenAndRead();
    LossyDevice(c.dropFirst, c.faults);
    TypeNameAndApply("Renamed");
    if (c.dropFirst.count(code::kDiscovery) != 0) {
      EXPECT_TRUE(prompter.messages.empty());
      ReadAgainTime();
      Events();
    }
    if (c.timeUp) {
      for (int i = 0; i < 4; ++i) ReadAgainTime();
      Events();
      ReadBackTime();
    }
    EXPECT_EQ(prompter.messages, std::vector<QString>{c.message});
    EXPECT_TRUE(Child<QPushButton>("FlatButton1")->isEnabled());
    EXPECT_FALSE(form.ExchangePhase());
  }
}

}  // namespace
}  // namespace oxlo::ui
