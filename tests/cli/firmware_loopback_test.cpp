// New firmware for simulated devices over loopback, wired as the commands
// wire it: one line receives every reply on one thread, the rollout's thread
// steps one fleet, and each device is judged by the version it reports once
// it is back. The devices take the image, refuse its end, come back with
// the old version or not at all.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>

#include "cli/firmware_transfer.h"
#include "cli/fleet_firmware.h"
#include "protocol/wire/device_side.h"
#include "protocol/wire/discovery.h"
#include "protocol/wire/fields.h"
#include "sim/reply_sender.h"
#include "sim/simulator.h"
#include "transport/devices/device_line.h"

namespace oxlo::cli {
namespace {

using std::chrono::milliseconds;

// What each simulated device does once it took an image.
struct Behaviour {
  std::optional<std::string> versionAfter;
  milliseconds reboot{0};
  bool refuseEnd = false;
};

// Simulated devices on 127.0.0.1, numbered from 1 (version 1.0.1, 1.1.0 or
// 2.0.3 as GeneratedDevice gives them), and a line whose broadcasts reach them.
class Plant {
 public:
  explicit Plant(const std::vector<Behaviour>& behaviours) {
    std::vector<sim::DeviceState> devices;
    for (std::size_t i = 0; i < behaviours.size(); ++i) {
      sim::DeviceState device = sim::GeneratedDevice(static_cast<int>(i) + 1);
      device.identity.version = "1.0.1";
      device.upgrade.versionAfter = behaviours[i].versionAfter;
      device.upgrade.reboot = behaviours[i].reboot;
      device.upgrade.refuseEnd = behaviours[i].refuseEnd;
      devices.push_back(std::move(device));
    }
    sim::SimulatorOptions options;
    options.replyMode = sim::ReplyMode::kUnicast;
    simulator_.emplace(devices, options);
    endpoint_.SetReadHandler([this](const transport::Datagram& d) { Handle(d); });
    endpoint_.Open();
    sender_.Start();
    line_.BroadcastTo("127.0.0.1", endpoint_.CurrentBinding()->port);
    line_.Open();
  }
  ~Plant() {
    line_.Close();
    sender_.Stop();
    endpoint_.Close();
  }

  transport::DeviceLine& Line() { return line_; }
  transport::InterfaceBroadcaster& Out() { return out_; }
  // Device `n` as the search found it.
  RolloutDevice Found(int n) {
    std::lock_guard lock(mutex_);
    const DeviceIdentity& identity = simulator_->Device(static_cast<std::size_t>(n - 1)).identity;
    return {MacToText(identity.mac), identity.mac,
            ParseDiscoveryReply(BuildDiscoveryReply(identity))};
  }
  MacField Mac(int n) { return Found(n).macBytes; }

 private:
  // What the commands send out of every interface goes out of the line, so
  // the devices answer to the line's port.
  struct LineOut final : transport::InterfaceBroadcaster {
    transport::DeviceLine& line;
    explicit LineOut(transport::DeviceLine& l) : line(l) {}
    void SendOnEveryInterface(ByteView data, std::uint16_t) override { line.Broadcast(data); }
  };

  void Handle(const transport::Datagram& datagram) {
    std::vector<sim::Outgoing> replies;
    {
      std::lock_guard lock(mutex_);
      replies = simulator_->Handle(datagram.data, datagram.sourceAddress, datagram.sourcePort);
    }
    sender_.Submit(std::move(replies));
  }

  std::mutex mutex_;
  std::optional<sim::Simulator> simulator_;
  transport::Endpoint endpoint_{{transport::Binding{"127.0.0.1", 0}}};
  sim::ReplySender sender_{[this](const sim::Outgoing& out) {
    try {
      endpoint_.SendTo(out.address, out.port, out.data);
    } catch (const std::exception&) {
    }
  }};
  transport::DeviceLine line_{transport::Binding{"127.0.0.1", 0}};
  LineOut out_{line_};
};

const Bytes kImage(1000, 0x5A);

FirmwareUpload::ImageReader ImageReader() {
  return [offset = std::size_t{0}](std::span<std::uint8_t> buffer) mutable {
    const std::size_t n = std::min(buffer.size(), kImage.size() - offset);
    std::copy_n(kImage.begin() + static_cast<std::ptrdiff_t>(offset), n, buffer.begin());
    offset += n;
    return n;
  };
}

TEST(FirmwareLoopback, ARolloutJudgesEachDeviceByTheVersionItComesBackWith) {
  Plant plant({{"2.0.0", milliseconds(300)},
               {"2.0.0", milliseconds(0), true},
               {"2.0.0", milliseconds(0)},
               {std::nullopt, milliseconds(2100)},
               {"2.0.0", milliseconds(60000)},
               {"2.0.0", milliseconds(0)}});
  RolloutOptions options;
  options.version = "2.0.0";
  options.canary = 1;
  options.parallel = 2;
  options.maxFailures = 5;
  std::vector<RolloutDevice> devices;
  for (int n = 1; n <= 6; ++n) devices.push_back(plant.Found(n));
  Rollout rollout(devices, options);
  RolloutRun run;
  run.image = ImageReader;
  run.settings.timeouts = {milliseconds(2000), milliseconds(2000)};
  run.settings.backWithin = std::chrono::seconds(5);
  std::uint64_t acknowledged = 0;
  run.stepped = [&](const transport::FirmwareFleet& fleet) {
    acknowledged = fleet.AcknowledgedTotal();
  };
  RunRollout(rollout, plant.Line(), plant.Out(), run);

  ASSERT_TRUE(rollout.Over());
  const struct {
    RolloutResult result;
    const char* reason;
    const char* after;
  } want[] = {{RolloutResult::kUpgraded, "", "2.0.0"},
              {RolloutResult::kFailed, "the device refused the end message", "1.0.1"},
              {RolloutResult::kUpgraded, "", "2.0.0"},
              {RolloutResult::kFailed, "came back with version 1.0.1", "1.0.1"},
              {RolloutResult::kFailed, "did not come back within 5 s", "1.0.1"},
              {RolloutResult::kUpgraded, "", "2.0.0"}};
  for (std::size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(i + 1);
    EXPECT_EQ(rollout.At(i).result, want[i].result);
    EXPECT_EQ(rollout.At(i).reason, want[i].reason);
    EXPECT_EQ(rollout.At(i).versionAfter, want[i].after);
  }
  // Each device took the whole image, the one that refused its end included.
  EXPECT_EQ(acknowledged, 6 * kImage.size());
}

TEST(FirmwareLoopback, OneDeviceIsConfirmedByTheVersionItReportsWhenBack) {
  const struct {
    const char* what;
    Behaviour behaviour;
    milliseconds within;
    bool succeeded;
    const char* failure;
  } cases[] = {
      {"back with it", {"2.0.0", milliseconds(300)}, milliseconds(5000), true, ""},
      {"back with the old one",
       {std::nullopt, milliseconds(2100)},
       milliseconds(5000),
       false,
       "came back with version 1.0.1"},
      {"not back",
       {"2.0.0", milliseconds(60000)},
       milliseconds(1000),
       false,
       "did not come back within 1 s"},
      {"never took it",
       {"2.0.0", milliseconds(0), true},
       milliseconds(5000),
       false,
       "the device refused the end message"},
  };
  const std::filesystem::path file =
      std::filesystem::path(::testing::TempDir()) / "firmware_loopback.bin";
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(kImage.data()),
             static_cast<std::streamsize>(kImage.size()));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Plant plant({c.behaviour});
    transport::ImageFile image(file);
    std::ostringstream shown;
    UploadProgress progress(shown, false, image.Size());
    int waits = 0;
    const TransferResult result = SendFirmware(
        plant.Mac(1), image, {milliseconds(2000), milliseconds(2000)}, progress,
        ComebackCheck{"2.0.0", c.within}, [&waits] { ++waits; }, {&plant.Line(), &plant.Out()});
    EXPECT_EQ(result.succeeded, c.succeeded);
    EXPECT_EQ(result.failure, c.failure);
    // The wait starts only once the device took the image.
    EXPECT_EQ(waits, std::string(c.failure).rfind("the device refused", 0) == 0 ? 0 : 1);
  }
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace oxlo::cli
