// Many uploads at once against a plant of devices that answer from one
// thread, as replies come from the one receiving thread.
#include "transport/devices/firmware_fleet.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/wire/device_side.h"
#include "protocol/wire/discovery.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/frame.h"

namespace oxlo::transport {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr FirmwareTimeouts kShortTimeouts{200ms, 300ms};

Bytes Image(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + 5);
  return bytes;
}

MacField MacOfDevice(int number) {
  return {0x02, 0, 0, 0, static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)};
}

// How one device of the plant behaves around an upgrade.
struct Behaviour {
  bool refuseEnd = false;
  bool silent = false;  // answers nothing at all
  std::chrono::milliseconds reboot{100};
  std::string versionAfter = "2.0.0";
};

// Devices behind one receiving thread: every message the fleet sends is
// queued, and the thread answers it as the devices would, posting each reply
// to the fleet. Notes which threads sent and how many uploads ran at once.
class Plant final : public InterfaceBroadcaster {
 public:
  explicit Plant(std::vector<Behaviour> behaviours) {
    for (std::size_t i = 0; i < behaviours.size(); ++i) {
      Device device;
      device.identity.mac = MacOfDevice(static_cast<int>(i) + 1);
      device.identity.version = "1.0.0";
      device.identity.model = "CG-100";
      device.identity.name = "Oxlo-" + std::to_string(i + 1);
      device.behaviour = behaviours[i];
      devices_.push_back(std::move(device));
    }
  }
  ~Plant() override { Halt(); }

  void Attach(FirmwareFleet& fleet) {
    std::lock_guard lock(mutex_);
    fleet_ = &fleet;
  }
  // After the first upload (the canary), the answers to first chunks wait
  // until `together` uploads run at once, so they overlap however fast the
  // plant answers.
  void HoldFirstAnswersUntil(std::size_t together) {
    std::lock_guard lock(mutex_);
    hold_until_ = together;
  }
  // Before the fleet goes: the receiving thread stops first.
  void Halt() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    arrived_.notify_one();
    if (worker_.joinable()) worker_.join();
  }

  void SendOnEveryInterface(ByteView data, std::uint16_t /*port*/) override {
    std::lock_guard lock(mutex_);
    senders_.insert(std::this_thread::get_id());
    queue_.emplace_back(data.begin(), data.end());
    arrived_.notify_one();
  }

  std::vector<RolloutDevice> Inventory() const {
    std::vector<RolloutDevice> inventory;
    for (const Device& d : devices_) {
      RolloutDevice device;
      device.macBytes = d.identity.mac;
      device.mac = MacToText(d.identity.mac);
      device.found = ParseDiscoveryReply(BuildDiscoveryReply(d.identity));
      inventory.push_back(device);
    }
    return inventory;
  }

  // What the plant saw, once the fleet is over.
  std::set<std::thread::id> Senders() {
    std::lock_guard lock(mutex_);
    return senders_;
  }
  std::size_t MostAtOnce() {
    std::lock_guard lock(mutex_);
    return most_at_once_;
  }
  std::thread::id WorkerId() const { return worker_id_; }
  const Bytes& Stored(std::size_t i) const { return devices_.at(i).stored; }
  std::size_t FirmwareMessagesTo(std::size_t i) const { return devices_.at(i).firmwareMessages; }
  // When device `i` got its first firmware message and answered its end.
  Clock::time_point FirstMessage(std::size_t i) const { return devices_.at(i).first; }
  Clock::time_point EndAnswered(std::size_t i) const { return devices_.at(i).endAnswered; }

 private:
  struct Device {
    DeviceIdentity identity;
    Behaviour behaviour;
    Bytes stored;
    std::size_t firmwareMessages = 0;
    bool uploading = false;
    Clock::time_point first{}, endAnswered{};
    std::optional<Clock::time_point> backAt;  // rebooting until then
  };

  // The receiving thread's answers to one message.
  std::vector<Bytes> Answer(const Bytes& message) {
    const Clock::time_point now = Clock::now();
    std::vector<Bytes> replies;
    if (message == BuildDiscoveryQuery()) {
      for (Device& d : devices_) {
        if (d.backAt && now < *d.backAt) continue;
        if (d.backAt) d.identity.version = d.behaviour.versionAfter;
        d.backAt.reset();
        if (!d.behaviour.silent) replies.push_back(BuildDiscoveryReply(d.identity));
      }
      return replies;
    }
    const std::optional<FirmwareMessage> m = ParseFirmwareMessage(message);
    if (!m) return replies;
    for (Device& d : devices_) {
      if (d.identity.mac != m->mac) continue;
      if (d.firmwareMessages++ == 0) d.first = now;
      if (d.behaviour.silent) return replies;
      if (m->sequence == 0) {
        d.stored.clear();
        if (!d.uploading) ++at_once_, ++started_;
        d.uploading = true;
        most_at_once_ = std::max(most_at_once_, at_once_);
      }
      if (m->kind == kFirmwareKindData) {
        d.stored.insert(d.stored.end(), m->data.begin(), m->data.end());
        replies.push_back(BuildFirmwareReply(d.identity.mac, m->sequence, 0x00));
        if (hold_until_ == 0 || m->sequence != 0 || started_ == 1) return replies;
        held_.push_back(std::move(replies.back()));
        replies.pop_back();
        if (at_once_ < hold_until_) return replies;
        hold_until_ = 0;
        return std::exchange(held_, {});
      }
      d.uploading = false;
      --at_once_;
      d.endAnswered = now;
      const bool refuse = d.behaviour.refuseEnd;
      replies.push_back(BuildFirmwareReply(d.identity.mac, m->sequence, refuse ? 0x04 : 0x00));
      if (!refuse) d.backAt = now + d.behaviour.reboot;
    }
    return replies;
  }

  void Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      arrived_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      const Bytes message = std::move(queue_.front());
      queue_.pop_front();
      const std::vector<Bytes> replies = Answer(message);
      FirmwareFleet* fleet = fleet_;
      lock.unlock();
      for (const Bytes& reply : replies) {
        Datagram datagram;
        datagram.data = reply;
        datagram.arrived = std::chrono::system_clock::now();
        if (fleet != nullptr) fleet->Post(datagram);
      }
      lock.lock();
    }
  }

  std::vector<Device> devices_;  // the worker's, and the test's once halted
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<Bytes> queue_;
  std::set<std::thread::id> senders_;
  std::size_t at_once_ = 0;
  std::size_t most_at_once_ = 0;
  std::size_t started_ = 0;
  std::size_t hold_until_ = 0;
  std::vector<Bytes> held_;
  FirmwareFleet* fleet_ = nullptr;
  bool stopping_ = false;
  std::thread worker_{[this] { Work(); }};
  const std::thread::id worker_id_ = worker_.get_id();
};

// Runs the rollout over `plant` to its end, stepping as a front end does.
void RunRollout(Rollout& rollout, Plant& plant, const Bytes& image,
                std::chrono::milliseconds backWithin = 10s) {
  FirmwareFleet::Settings settings;
  settings.timeouts = kShortTimeouts;
  settings.backWithin = backWithin;
  const auto source = [&image] {
    return [&image, offset = std::size_t{0}](std::span<std::uint8_t> buffer) mutable {
      const std::size_t n = std::min(buffer.size(), image.size() - offset);
      if (n > 0) std::memcpy(buffer.data(), image.data() + offset, n);
      offset += n;
      return n;
    };
  };
  FirmwareFleet fleet(rollout, plant, kDevicePort, source, settings);
  plant.Attach(fleet);
  const Clock::time_point cap = Clock::now() + 60s;
  while (!fleet.Over() && Clock::now() < cap) {
    fleet.Step();
    std::this_thread::sleep_for(2ms);
  }
  plant.Halt();
  ASSERT_TRUE(fleet.Over());
}

RolloutOptions Options(std::size_t canary, std::size_t parallel, std::size_t maxFailures) {
  RolloutOptions options;
  options.version = "2.0.0";
  options.canary = canary;
  options.parallel = parallel;
  options.maxFailures = maxFailures;
  return options;
}

TEST(FirmwareFleet, UpgradesEveryDeviceFromOneReceivingThreadWithinItsLimitsAndConfirmsEach) {
  const Bytes image = Image(1000);  // eight chunks, the last one short
  Plant plant(std::vector<Behaviour>(20));
  plant.HoldFirstAnswersUntil(6);
  Rollout rollout(plant.Inventory(), Options(1, 6, 1));
  RunRollout(rollout, plant, image);

  for (std::size_t i = 0; i < 20; ++i) {
    const Rollout::Entry& e = rollout.At(i);
    EXPECT_EQ(e.result, RolloutResult::kUpgraded) << i << ": " << e.reason;
    EXPECT_EQ(e.versionBefore, "1.0.0");
    EXPECT_EQ(e.versionAfter, "2.0.0");
    EXPECT_EQ(plant.Stored(i), image) << i;
    EXPECT_EQ(plant.FirmwareMessagesTo(i), 9u) << i;  // nothing sent twice
    // The canary was upgraded and back before any other device heard of it.
    if (i > 0) {
      EXPECT_GT(plant.FirstMessage(i), plant.EndAnswered(0)) << i;
    }
  }
  // Six at once, the limit, and never more.
  EXPECT_EQ(plant.MostAtOnce(), 6u);
  // The stepping thread starts uploads and asks; the receiving thread sends
  // every next chunk: no thread per device.
  EXPECT_EQ(plant.Senders(), (std::set{std::this_thread::get_id(), plant.WorkerId()}));
}

TEST(FirmwareFleet, EachDeviceFailsWithItsOwnReasonAndAFailingCanaryTouchesNoOther) {
  const Bytes image = Image(300);
  std::vector<Behaviour> behaviours(5);
  behaviours[1].refuseEnd = true;
  // Back with the old version after a restart longer than the quiet spell.
  behaviours[2].reboot = ComebackWatch::kQuiet + 500ms;
  behaviours[2].versionAfter = "1.0.0";
  behaviours[3].silent = true;
  // Takes the image, then never comes back within the wait.
  behaviours[4].reboot = 1h;
  {
    Plant plant(behaviours);
    Rollout rollout(plant.Inventory(), Options(1, 16, 10));
    RunRollout(rollout, plant, image, 4s);
    const char* const reasons[] = {
        "", "the device refused the end message", "came back with version 1.0.0",
        "no reply to chunk 0 within 200 ms", "did not come back within 4 s"};
    for (std::size_t i = 0; i < behaviours.size(); ++i) {
      EXPECT_EQ(rollout.At(i).result, i == 0 ? RolloutResult::kUpgraded : RolloutResult::kFailed)
          << i;
      EXPECT_EQ(rollout.At(i).reason, reasons[i]) << i;
    }
    EXPECT_EQ(rollout.At(2).versionAfter, "1.0.0");
  }
  {
    // The canary refuses: the others never get a firmware message.
    std::vector<Behaviour> canaryFails(4);
    canaryFails[0].refuseEnd = true;
    Plant plant(canaryFails);
    Rollout rollout(plant.Inventory(), Options(1, 16, 10));
    RunRollout(rollout, plant, image);
    EXPECT_EQ(rollout.At(0).result, RolloutResult::kFailed);
    for (std::size_t i = 1; i < 4; ++i) {
      EXPECT_EQ(rollout.At(i).result, RolloutResult::kNotStarted) << i;
      EXPECT_EQ(plant.FirmwareMessagesTo(i), 0u) << i;
    }
  }
}

}  // namespace
}  // namespace oxlo::transport
