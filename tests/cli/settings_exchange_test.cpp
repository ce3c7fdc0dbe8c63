// Reading and writing a device's settings against a simulated device over
// loopback that loses replies: reads ask again for what is missing, writes
// and the apply command go once, and an old acknowledgement in place of a
// lost apply command is not taken for success.
#include "cli/settings_exchange.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>

#include "protocol/settings/settings_document.h"
#include "protocol/wire/frame.h"
#include "sim/reply_sender.h"
#include "sim/simulator.h"

namespace oxlo::cli {
namespace {

using std::chrono::milliseconds;

// Generous: loopback answers at once, but the machine may be busy.
constexpr milliseconds kReadTimeout{4000};
constexpr milliseconds kAckTimeout{4000};

// One simulated device on 127.0.0.1 that drops the first reply of each code
// in `dropFirst` (or every one, in `dropAll`) and counts what it was sent.
class LossyDevice {
 public:
  explicit LossyDevice(std::set<std::uint8_t> dropFirst, std::set<std::uint8_t> dropAll = {},
                       sim::FaultSettings faults = {})
      : drop_first_(std::move(dropFirst)), drop_all_(std::move(dropAll)) {
    sim::SimulatorOptions options;
    options.replyMode = sim::ReplyMode::kUnicast;
    options.faults = faults;
    simulator_.emplace(std::vector<sim::DeviceState>{sim::GeneratedDevice(1)}, options);
    endpoint_.SetReadHandler([this](const transport::Datagram& d) { Handle(d); });
    endpoint_.Open();
    sender_.Start();
    line_.BroadcastTo("127.0.0.1", endpoint_.CurrentBinding()->port);
    line_.Open();
  }
  ~LossyDevice() {
    line_.Close();
    sender_.Stop();
    endpoint_.Close();
  }

  transport::DeviceLine& Line() { return line_; }
  MacField Mac() const { return sim::GeneratedDevice(1).identity.mac; }
  int Received(std::uint8_t commandCode) {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(codes_.begin(), codes_.end(), commandCode));
  }

 private:
  void Handle(const transport::Datagram& datagram) {
    std::vector<sim::Outgoing> replies;
    {
      std::lock_guard lock(mutex_);
      if (datagram.data.size() > kCodeOffset) codes_.push_back(datagram.data[kCodeOffset]);
      for (sim::Outgoing& out :
           simulator_->Handle(datagram.data, datagram.sourceAddress, datagram.sourcePort)) {
        const std::uint8_t code = out.data[kCodeOffset];
        if (drop_all_.count(code) != 0 || drop_first_.erase(code) != 0) continue;
        replies.push_back(std::move(out));
      }
    }
    sender_.Submit(std::move(replies));
  }

  std::set<std::uint8_t> drop_first_;
  std::set<std::uint8_t> drop_all_;
  std::mutex mutex_;
  std::vector<std::uint8_t> codes_;
  std::optional<sim::Simulator> simulator_;
  transport::Endpoint endpoint_{{transport::Binding{"127.0.0.1", 0}}};
  sim::ReplySender sender_{[this](const sim::Outgoing& out) {
    try {
      endpoint_.SendTo(out.address, out.port, out.data);
    } catch (const std::exception&) {
    }
  }};
  transport::DeviceLine line_{transport::Binding{"127.0.0.1", 0}};
};

TEST(ReadDeviceSettings, AsksAgainOnlyForThePartsWhoseRepliesWereLost) {
  struct Case {
    const char* what;
    std::set<std::uint8_t> dropFirst;
    int canAsks;     // 'C' requests the device got
    int filterAsks;  // requests for filter group 4
  };
  const Case cases[] = {
      {"nothing lost", {}, 1, 1},
      {"network, CAN and filter group 4 lost once",
       {code::kNetworkReply, code::kCanReply, code::kFilterReplyFirst + 3},
       2,
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LossyDevice device(c.dropFirst);
    const DeviceSettings settings = ReadDeviceSettings(device.Mac(), kReadTimeout, &device.Line());
    EXPECT_EQ(settings.network.name, "Oxlo-1");
    EXPECT_EQ(device.Received(code::kCan), c.canAsks);
    EXPECT_EQ(device.Received(code::kFilterGroupFirst + 3), c.filterAsks);
    EXPECT_EQ(device.Received(code::kOpMode), 1) << "a part that answered is not asked again";
  }
}

TEST(ReadDeviceSettings, GivesUpAfterThreeAsksAgainNamingWhatIsMissing) {
  LossyDevice device({}, {code::kCanReply});
  try {
    ReadDeviceSettings(device.Mac(), kReadTimeout, &device.Line());
    ADD_FAILURE() << "a read without the CAN settings succeeded";
  } catch (const DeviceError& error) {
    EXPECT_NE(std::string(error.what()).find("did not send: CAN settings"), std::string::npos)
        << error.what();
  }
  EXPECT_EQ(device.Received(code::kCan), 4);
  EXPECT_EQ(device.Received(code::kNetwork), 1);
}

// The acknowledgement and the read-back lose a reply each: the read-back
// asks again, but the settings messages and the apply command go once.
TEST(ChangeDeviceSettings, RepeatsReadsButNeverWritesOrTheApplyCommand) {
  LossyDevice device({code::kNetworkReply, code::kOpModeReply});
  const SettingsChange change = ChangeDeviceSettings(
      device.Mac(), DocumentOfAssignments({"network.name=Renamed", "port.local_port=4100"}), false,
      kReadTimeout, kAckTimeout, &device.Line());
  EXPECT_TRUE(change.verified);
  EXPECT_EQ(device.Received(code::kNetwork), 1 + 1 + 1 + 1) << "read, asked again, write, read";
  EXPECT_EQ(device.Received(code::kApply), 1);
  EXPECT_EQ(device.Received(code::kDiscovery), 1);
}

// The device loses the apply command; a copy of an acknowledgement it sent
// for an earlier write arrives instead. The read-back shows what is stored,
// so only the discovery reply shows that the new name is not in use.
TEST(ChangeDeviceSettings, ALostApplyCommandAnsweredByAnOldAcknowledgementIsNotApplied) {
  sim::FaultSettings faults;
  faults.loseApply = 2;
  LossyDevice device({}, {}, faults);
  const SettingsChange first =
      ChangeDeviceSettings(device.Mac(), DocumentOfAssignments({"network.name=A"}), false,
                           kReadTimeout, kAckTimeout, &device.Line());
  EXPECT_TRUE(first.verified);
  const SettingsChange second = ChangeDeviceSettings(
      device.Mac(), DocumentOfAssignments({"network.name=B", "network.ip=10.57.0.150"}), false,
      kReadTimeout, kAckTimeout, &device.Line());
  EXPECT_TRUE(second.written);
  EXPECT_TRUE(second.notTaken.empty());
  EXPECT_FALSE(second.verified);
  EXPECT_EQ(second.notInUse, (std::vector<std::string>{"name", "IP address"}));
  EXPECT_EQ(UnverifiedReason(second), "stored but not applied: name, IP address");

  // A change of what the discovery reply does not show is not asked there.
  const SettingsChange third =
      ChangeDeviceSettings(device.Mac(), DocumentOfAssignments({"port.local_port=4200"}), false,
                           kReadTimeout, kAckTimeout, &device.Line());
  EXPECT_TRUE(third.verified);
  EXPECT_EQ(device.Received(code::kDiscovery), 2);
}

}  // namespace
}  // namespace oxlo::cli
