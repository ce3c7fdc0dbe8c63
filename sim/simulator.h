// A set of simulated devices behind one UDP port, without sockets: each
// received datagram goes in, the replies to send come out.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "protocol/wire/bytes.h"
#include "sim/device.h"
#include "sim/faults.h"
#include "sim/firmware_receiver.h"
#include "sim/upgrade.h"

namespace oxlo::sim {

enum class ReplyMode {
  kBroadcast,  // to 255.255.255.255, as the devices do
  kUnicast,    // back to the sender, for loopback tests
};

struct SimulatorOptions {
  ReplyMode replyMode = ReplyMode::kBroadcast;
  std::uint16_t broadcastPort = kDevicePort;
  FaultSettings faults;
  std::uint32_t seed = 1;  // drives the drop decisions
  // Accepted firmware images are saved here as "<MAC>.bin"; empty: not kept.
  std::filesystem::path firmwareDirectory;
  // What every device does around an upgrade; a device's UpgradeOverrides
  // (the device file's "firmware" object) win over it.
  UpgradeBehaviour upgrade;
  // The monotonic time reboots are measured in; empty: steady_clock. Tests
  // set their own so a reboot ends when they say.
  std::function<std::chrono::steady_clock::time_point()> clock;
};

struct Outgoing {
  Bytes data;
  std::string address;
  std::uint16_t port = 0;
  std::chrono::milliseconds delay{0};
  int copies = 1;

  bool IsBroadcast() const { return address == kBroadcastAddress; }
};

class Simulator {
 public:
  // Throws std::invalid_argument when two devices share a MAC.
  Simulator(std::vector<DeviceState> devices, SimulatorOptions options);

  // Never throws for any datagram; an unusable one yields no replies. A
  // discovery query sent to an address some devices hold is answered by
  // those only, as only that host would get it; any other, by every device.
  // A device rebooting after an accepted image answers nothing and takes
  // nothing in.
  std::vector<Outgoing> Handle(ByteView datagram, const std::string& sourceAddress,
                               std::uint16_t sourcePort,
                               const std::string& destinationAddress = {});

  std::size_t DeviceCount() const { return devices_.size(); }
  const DeviceState& Device(std::size_t index) const { return devices_.at(index); }

 private:
  struct Context;
  using Clock = std::chrono::steady_clock;

  void HandleDiscovery(Context& context);
  void HandleCommand(Context& context, std::uint8_t commandCode, std::size_t device);
  void HandleFirmware(Context& context, std::size_t device);
  void Reply(Context& context, std::uint8_t requestCode, Bytes reply);
  void Reboot(std::size_t device, Clock::time_point now);
  bool Rebooting(std::size_t device, Clock::time_point now) const;
  bool Dropped();

  std::vector<DeviceState> devices_;
  std::vector<FirmwareReceiver> firmware_;
  std::vector<UpgradeBehaviour> upgrades_;  // each device's, overrides applied
  std::vector<Clock::time_point> back_at_;  // when a rebooting device answers again
  std::unordered_map<std::uint64_t, std::size_t> by_mac_;
  SimulatorOptions options_;
  std::mt19937 random_;
  std::uint32_t applies_ = 0;  // apply commands received, for FaultSettings::loseApply
};

}  // namespace oxlo::sim
