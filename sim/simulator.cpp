#include "sim/simulator.h"

#include <algorithm>
#include <stdexcept>

#include "protocol/wire/discovery.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/frame.h"

namespace oxlo::sim {
namespace {

bool IsDiscoveryQuery(ByteView datagram) {
  return datagram.size() == 3 && datagram[0] == kStx && datagram[1] == code::kDiscovery &&
         datagram[2] == kEtx;
}

// How late the copy of an old acknowledgement comes after a lost apply command.
constexpr std::chrono::milliseconds kStaleAckDelay{100};

bool IsFilterGroupCode(std::uint8_t commandCode) {
  return commandCode >= code::kFilterGroupFirst && commandCode <= code::kFilterGroupLast;
}

// The length of the settings message each code carries; read requests are
// kShortCommandSize long.
std::size_t SettingsMessageSize(std::uint8_t commandCode) {
  switch (commandCode) {
    case code::kNetwork:
      return kNetworkMessageSize;
    case code::kOpMode:
      return kOpModeMessageSize;
    case code::kCan:
      return kCanSettingsSize;
    default:
      return IsFilterGroupCode(commandCode) ? kFilterGroupSize : 0;
  }
}

}  // namespace

struct Simulator::Context {
  Clock::time_point now;
  ByteView datagram;
  const std::string& sourceAddress;
  std::uint16_t sourcePort;
  const std::string& destinationAddress;
  std::vector<Outgoing> replies;
};

Simulator::Simulator(std::vector<DeviceState> devices, SimulatorOptions options)
    : devices_(std::move(devices)), options_(std::move(options)), random_(options_.seed) {
  if (!options_.clock) options_.clock = [] { return Clock::now(); };
  firmware_.reserve(devices_.size());
  upgrades_.reserve(devices_.size());
  back_at_.assign(devices_.size(), Clock::time_point::min());
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    const MacField& mac = devices_[i].identity.mac;
    if (!by_mac_.emplace(MacKey(mac), i).second) {
      throw std::invalid_argument("two devices have the MAC " + MacToText(mac));
    }
    firmware_.emplace_back(options_.firmwareDirectory, MacToText(mac) + ".bin",
                           options_.faults.rejectRepeatedFirmware);
    upgrades_.push_back(devices_[i].upgrade.Over(options_.upgrade));
  }
}

std::vector<Outgoing> Simulator::Handle(ByteView datagram, const std::string& sourceAddress,
                                        std::uint16_t sourcePort,
                                        const std::string& destinationAddress) {
  Context context{options_.clock(), datagram, sourceAddress, sourcePort, destinationAddress, {}};
  if (IsDiscoveryQuery(datagram)) {
    HandleDiscovery(context);
    return std::move(context.replies);
  }
  const std::optional<std::uint8_t> commandCode = AcceptDatagram(datagram);
  const std::optional<MacField> mac = MacOf(datagram);
  if (!commandCode || !mac) return {};
  const auto it = by_mac_.find(MacKey(*mac));
  if (it == by_mac_.end() || Rebooting(it->second, context.now)) return {};
  HandleCommand(context, *commandCode, it->second);
  return std::move(context.replies);
}

void Simulator::HandleDiscovery(Context& context) {
  const std::optional<Ipv4Field> to = ParseIpv4Text(context.destinationAddress);
  const bool toOne = to && std::any_of(devices_.begin(), devices_.end(),
                                       [&to](const auto& d) { return d.identity.ip == *to; });
  context.replies.reserve(devices_.size());
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    const DeviceState& device = devices_[i];
    if (toOne && device.identity.ip != *to) continue;
    if (Rebooting(i, context.now)) continue;
    Reply(context, code::kDiscovery, BuildDiscoveryReply(device.identity));
  }
  DeviceIdentity spoofed = GeneratedDevice(1).identity;
  spoofed.name = "Flood";
  for (std::size_t i = 0; i < options_.faults.floodDiscoveryReplies; ++i) {
    // Locally administered MACs, as random as a spoofer's.
    spoofed.mac[0] = 0x02;
    for (std::size_t b = 1; b < spoofed.mac.size(); ++b) {
      spoofed.mac[b] = static_cast<std::uint8_t>(random_());
    }
    Reply(context, code::kDiscovery, BuildDiscoveryReply(spoofed));
  }
}

void Simulator::HandleCommand(Context& context, std::uint8_t commandCode, std::size_t index) {
  DeviceState& device = devices_[index];
  const MacField& mac = device.identity.mac;
  const ByteView datagram = context.datagram;

  if (commandCode == code::kAddressAssignment) {
    if (const auto assignment = ParseAddressAssignment(datagram)) {
      device.identity.ip = device.network.address = assignment->ip;
      device.identity.gateway = device.network.gateway = assignment->gateway;
      device.identity.mask = device.network.subnetMask = assignment->mask;
      device.identity.name = device.network.name = assignment->name;
    }
    return;
  }
  if (commandCode == code::kFirmware) {
    HandleFirmware(context, index);
    return;
  }
  if (commandCode == code::kApply) {
    if (datagram.size() != kShortCommandSize) return;
    if (options_.faults.loseApply && ++applies_ == *options_.faults.loseApply) {
      const std::size_t before = context.replies.size();
      Reply(context, commandCode, BuildApplyAck(mac));
      if (context.replies.size() > before) context.replies.back().delay += kStaleAckDelay;
      return;
    }
    // Applying restarts the device with the network settings it was sent.
    device.identity.ip = device.network.address;
    device.identity.gateway = device.network.gateway;
    device.identity.mask = device.network.subnetMask;
    device.identity.name = device.network.name;
    Reply(context, commandCode, BuildApplyAck(mac));
    return;
  }

  const std::size_t settingsSize = SettingsMessageSize(commandCode);
  if (settingsSize == 0) return;

  if (datagram.size() == kShortCommandSize) {
    switch (commandCode) {
      case code::kNetwork: {
        NetworkSettings network = device.network;
        network.portCount = 1;
        Reply(context, commandCode, BuildNetworkReply(mac, network));
        break;
      }
      case code::kOpMode:
        if (device.opModeAsSent) {
          Bytes reply = *device.opModeAsSent;
          reply[kCodeOffset] = code::kOpModeReply;
          Reply(context, commandCode, std::move(reply));
        } else {
          Reply(context, commandCode, BuildOpModeReply(mac, device.port));
        }
        break;
      case code::kCan:
        Reply(context, commandCode, BuildCanReply(mac, device.can));
        break;
      default: {
        const int group = commandCode - code::kFilterGroupFirst;
        std::array<FilterEntry, kSlotsPerGroup> slots;
        for (std::size_t s = 0; s < slots.size(); ++s) {
          slots[s] = device.filters.entries[static_cast<std::size_t>(group) * kSlotsPerGroup + s];
        }
        Reply(context, commandCode, BuildFilterGroupReply(mac, group, slots));
        break;
      }
    }
    return;
  }
  if (datagram.size() != settingsSize) return;

  // Settings messages are stored without a reply; the tool reads them back.
  switch (commandCode) {
    case code::kNetwork:
      if (const auto network = ParseNetworkReply(datagram).Complete()) device.network = *network;
      break;
    case code::kOpMode:
      if (const auto port = ParseOpModeReply(datagram).Complete()) device.port = *port;
      device.opModeAsSent = Bytes(datagram.begin(), datagram.end());
      break;
    case code::kCan:
      if (const auto can = ParseCanSettings(datagram)) device.can = *can;
      break;
    default:
      if (const auto group = ParseFilterGroup(datagram)) {
        for (std::size_t s = 0; s < group->slots.size(); ++s) {
          device.filters.entries[static_cast<std::size_t>(group->group) * kSlotsPerGroup + s] =
              group->slots[s];
        }
      }
      break;
  }
}

void Simulator::HandleFirmware(Context& context, std::size_t index) {
  const std::optional<FirmwareMessage> message = ParseFirmwareMessage(context.datagram);
  if (!message) return;  // nothing to echo: the tool's time-out covers it
  const FaultSettings& faults = options_.faults;
  const UpgradeBehaviour& upgrade = upgrades_[index];
  FirmwareReceiver& receiver = firmware_[index];
  const std::uint32_t imagesBefore = receiver.ImagesAccepted();
  const FirmwareStatus status =
      receiver.Receive(*message, faults.rejectFirmwareAt, upgrade.refuseEnd);
  Bytes reply = BuildFirmwareReply(devices_[index].identity.mac, message->sequence,
                                   static_cast<std::uint8_t>(status));
  if (faults.firmwareReplySize && message->sequence >= faults.cutFirmwareRepliesFrom &&
      *faults.firmwareReplySize < reply.size()) {
    reply.resize(*faults.firmwareReplySize);
    reply.back() = kEtx;
  }
  const std::size_t before = context.replies.size();
  Reply(context, code::kFirmware, std::move(reply));
  // The device answers once the message is in flash; the sender holds the
  // reply, so other devices go on meanwhile.
  if (context.replies.size() > before) context.replies.back().delay += upgrade.flash;
  // A copy of the end message acknowledged again starts no second reboot.
  if (receiver.ImagesAccepted() != imagesBefore) Reboot(index, context.now);
}

void Simulator::Reboot(std::size_t index, Clock::time_point now) {
  const UpgradeBehaviour& upgrade = upgrades_[index];
  // Nobody hears the device before it is back, so the new version may be
  // taken up at once.
  if (upgrade.versionAfter) devices_[index].identity.version = *upgrade.versionAfter;
  if (upgrade.reboot.count() > 0) back_at_[index] = now + upgrade.flash + upgrade.reboot;
}

bool Simulator::Rebooting(std::size_t index, Clock::time_point now) const {
  return now < back_at_[index];
}

void Simulator::Reply(Context& context, std::uint8_t requestCode, Bytes reply) {
  const FaultSettings& faults = options_.faults;
  if (faults.silentCodes.test(requestCode) || faults.silentCodes.test(reply[kCodeOffset])) return;
  if (Dropped()) return;
  if ((faults.oversizeCodes.test(requestCode) || faults.oversizeCodes.test(reply[kCodeOffset])) &&
      reply.size() < faults.oversizeReplySize) {
    reply.insert(reply.end() - 1, faults.oversizeReplySize - reply.size(), 0);
  }
  Outgoing out;
  out.data = std::move(reply);
  if (options_.replyMode == ReplyMode::kBroadcast) {
    out.address = kBroadcastAddress;
    out.port = options_.broadcastPort;
  } else {
    out.address = context.sourceAddress;
    out.port = context.sourcePort;
  }
  out.delay = faults.delay;
  out.copies = faults.duplicate ? 2 : 1;
  context.replies.push_back(std::move(out));
}

bool Simulator::Dropped() {
  const double p = options_.faults.dropProbability;
  if (!(p > 0.0)) return false;
  if (p >= 1.0) return true;
  // mt19937's output is fixed by the standard, unlike the distributions, so
  // a seed drops the same replies with every compiler.
  return static_cast<double>(random_()) < p * 4294967296.0;
}

}  // namespace oxlo::sim
