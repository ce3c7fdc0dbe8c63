#include "protocol/network_diagnosis.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "protocol/fields.h"

namespace oxlo {
namespace {

bool Contiguous(std::uint32_t mask) {
  const std::uint32_t hosts = ~mask;
  return (hosts & (hosts + 1)) == 0;
}

int PrefixOf(std::uint32_t mask) {
  int prefix = 0;
  while (prefix < 32 && (mask & (0x80000000u >> prefix)) != 0) ++prefix;
  return prefix;
}

std::string SubnetText(std::uint32_t address, int prefixLength) {
  return AddressText(address & MaskOfPrefix(prefixLength)) + "/" + std::to_string(prefixLength);
}

// No device can be reached at it, whatever the subnet.
bool Unusable(std::uint32_t address) {
  return address == 0 || address == 0xFFFFFFFFu || (address >> 28) == 0xE;
}

// The network or broadcast address of a subnet that has them.
bool NetworkOrBroadcast(std::uint32_t address, std::uint32_t mask) {
  if (PrefixOf(mask) >= 31) return false;
  return (address & ~mask) == 0 || (address & ~mask) == ~mask;
}

std::string ComputerHolder(const HostInterface& i) {
  return "this computer (" + i.name + ")";
}

const HostInterface* Named(const std::vector<HostInterface>& interfaces, const std::string& name) {
  for (const HostInterface& i : interfaces) {
    if (i.name == name) return &i;
  }
  return nullptr;
}

}  // namespace

SeenDevices::Sighting SeenDevices::Add(DeviceRecord record, const std::string& interfaceName,
                                       const std::string& localAddress) {
  const auto known = index_of_mac_.find(record.mac);
  if (known != index_of_mac_.end()) {
    // The same device through another adapter: bridged or looped networks.
    std::vector<std::string>& seenOn = devices_[known->second].interfaces;
    if (interfaceName.empty() ||
        std::find(seenOn.begin(), seenOn.end(), interfaceName) != seenOn.end()) {
      return Sighting::kAgain;
    }
    seenOn.push_back(interfaceName);
    return Sighting::kNewInterface;
  }
  if (devices_.size() >= limit_) return Sighting::kIgnored;
  index_of_mac_.emplace(record.mac, devices_.size());
  SeenDevice device;
  device.record = std::move(record);
  if (!interfaceName.empty()) device.interfaces.push_back(interfaceName);
  device.localAddress = localAddress;
  devices_.push_back(std::move(device));
  return Sighting::kNew;
}

void SeenDevices::Clear() {
  index_of_mac_.clear();
  devices_.clear();
}

std::string_view ProblemKindName(ProblemKind kind) {
  switch (kind) {
    case ProblemKind::kOtherSubnet:
      return "other_subnet";
    case ProblemKind::kDuplicateAddress:
      return "duplicate_address";
    case ProblemKind::kNoUsableAddress:
      return "no_usable_address";
    case ProblemKind::kInvalidMask:
      return "invalid_mask";
    case ProblemKind::kGatewayOutsideSubnet:
      return "gateway_outside_subnet";
    case ProblemKind::kSeenOnSeveralInterfaces:
      return "seen_on_several_interfaces";
  }
  return "unknown";
}

std::optional<std::uint32_t> AddressOfText(const std::string& text) {
  const std::optional<Ipv4Field> field = ParseIpv4Text(text);
  if (!field) return std::nullopt;
  return (std::uint32_t{(*field)[0]} << 24) | (std::uint32_t{(*field)[1]} << 16) |
         (std::uint32_t{(*field)[2]} << 8) | std::uint32_t{(*field)[3]};
}

std::optional<std::string> AddressHolder(std::uint32_t address, const std::string& mac,
                                         const std::vector<SeenDevice>& devices,
                                         const std::vector<HostInterface>& interfaces) {
  for (const HostInterface& i : interfaces) {
    if (i.address == address) return ComputerHolder(i);
  }
  for (const SeenDevice& d : devices) {
    if (d.record.mac != mac && AddressOfText(d.record.ip) == address) return d.record.mac;
  }
  return std::nullopt;
}

std::uint32_t MaskOfPrefix(int prefixLength) {
  if (prefixLength <= 0) return 0;
  if (prefixLength >= 32) return 0xFFFFFFFFu;
  return ~(0xFFFFFFFFu >> prefixLength);
}

std::string AddressText(std::uint32_t address) {
  return Ipv4ToText({static_cast<std::uint8_t>(address >> 24),
                     static_cast<std::uint8_t>(address >> 16),
                     static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)});
}

std::optional<std::uint32_t> FreeAddress(const HostInterface& subnet,
                                         const std::unordered_set<std::uint32_t>& taken) {
  const std::uint32_t mask = MaskOfPrefix(subnet.prefixLength);
  const std::uint32_t network = subnet.address & mask;
  const std::uint64_t size = std::uint64_t{~mask} + 1;
  // Each taken address rules out one candidate, so this many tries suffice.
  const std::uint64_t tries = std::min<std::uint64_t>(size, taken.size() + 3);
  for (std::uint64_t offset = 0; offset < tries; ++offset) {
    const auto candidate = static_cast<std::uint32_t>(network + offset);
    if (NetworkOrBroadcast(candidate, mask) || Unusable(candidate)) continue;
    if (taken.count(candidate) != 0) continue;
    return candidate;
  }
  return std::nullopt;
}

std::vector<DeviceDiagnosis> DiagnoseDevices(const std::vector<SeenDevice>& devices,
                                             const std::vector<HostInterface>& interfaces,
                                             const std::vector<std::uint32_t>& alsoTaken) {
  // Every address a suggestion must avoid: this computer's and every device's,
  // with the gateways the devices name.
  std::unordered_set<std::uint32_t> taken(alsoTaken.begin(), alsoTaken.end());
  for (const HostInterface& i : interfaces) taken.insert(i.address);
  // The first two devices holding each address: enough to name another holder.
  std::unordered_map<std::uint32_t, std::pair<std::size_t, std::size_t>> holders;
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  for (std::size_t n = 0; n < devices.size(); ++n) {
    const SeenDevice& d = devices[n];
    if (const auto a = AddressOfText(d.record.gateway); a && *a != 0) taken.insert(*a);
    if (const auto a = AddressOfText(d.record.ip); a && *a != 0) {
      taken.insert(*a);
      auto [entry, first] = holders.try_emplace(*a, n, kNone);
      if (!first && entry->second.second == kNone) entry->second.second = n;
    }
  }

  std::vector<DeviceDiagnosis> out;
  out.reserve(devices.size());
  for (std::size_t n = 0; n < devices.size(); ++n) {
    const SeenDevice& device = devices[n];
    DeviceDiagnosis diagnosis;
    const std::uint32_t ip = AddressOfText(device.record.ip).value_or(0);
    const std::optional<std::uint32_t> mask = AddressOfText(device.record.mask);
    const std::uint32_t gateway = AddressOfText(device.record.gateway).value_or(0);
    const HostInterface* arrival =
        device.interfaces.empty() ? nullptr : Named(interfaces, device.interfaces.front());
    const bool maskValid = mask && Contiguous(*mask);
    bool needsAddress = false;
    bool gatewayWrong = false;

    if (Unusable(ip) || (maskValid && NetworkOrBroadcast(ip, *mask))) {
      diagnosis.problems.push_back(
          {ProblemKind::kNoUsableAddress,
           device.record.ip + " is not an address a device can be reached at", ""});
      needsAddress = true;
    } else {
      if (arrival != nullptr) {
        const std::uint32_t subnetMask = MaskOfPrefix(arrival->prefixLength);
        if ((ip & subnetMask) != (arrival->address & subnetMask)) {
          diagnosis.problems.push_back(
              {ProblemKind::kOtherSubnet,
               device.record.ip + " is outside " + arrival->name + "'s subnet " +
                   SubnetText(arrival->address, arrival->prefixLength) +
                   ": this computer cannot reach its web page or address it directly",
               ""});
          needsAddress = true;
        }
      }
      std::string holder;
      for (const HostInterface& i : interfaces) {
        if (i.address == ip) holder = ComputerHolder(i);
      }
      if (holder.empty()) {
        const auto& [first, second] = holders.at(ip);
        const std::size_t other = first != n ? first : second;
        if (other != kNone) holder = devices[other].record.mac;
      }
      if (!holder.empty()) {
        diagnosis.problems.push_back(
            {ProblemKind::kDuplicateAddress, device.record.ip + " is also held by " + holder, ""});
        needsAddress = true;
      }
    }
    if (!maskValid) {
      diagnosis.problems.push_back(
          {ProblemKind::kInvalidMask,
           device.record.mask + " is not a subnet mask (its ones are not contiguous)", ""});
      needsAddress = true;
    } else if (gateway != 0 && (gateway & *mask) != (ip & *mask)) {
      diagnosis.problems.push_back({ProblemKind::kGatewayOutsideSubnet,
                                    "gateway " + device.record.gateway + " is outside its subnet " +
                                        SubnetText(ip, PrefixOf(*mask)),
                                    ""});
      gatewayWrong = true;
    }
    std::vector<std::string> seenOn;
    for (const std::string& name : device.interfaces) {
      if (std::find(seenOn.begin(), seenOn.end(), name) == seenOn.end()) seenOn.push_back(name);
    }
    if (seenOn.size() > 1) {
      std::string names;
      for (const std::string& name : seenOn) names += (names.empty() ? "" : " and ") + name;
      diagnosis.problems.push_back(
          {ProblemKind::kSeenOnSeveralInterfaces,
           "its replies came in on " + names + ": those networks are bridged or looped", ""});
    }

    std::string fix;
    if (needsAddress && arrival != nullptr) {
      const std::uint32_t subnetMask = MaskOfPrefix(arrival->prefixLength);
      if (const auto free = FreeAddress(*arrival, taken)) {
        // Two devices to mend never get the same address.
        taken.insert(*free);
        const bool keepGateway = gateway != 0 && (gateway & subnetMask) == (*free & subnetMask);
        diagnosis.mend = AddressMend{*free, subnetMask, keepGateway ? gateway : 0};
        fix = "give it " + AddressText(*free) + " with mask " + AddressText(subnetMask) +
              (keepGateway || gateway == 0 ? "" : " and no gateway");
      } else {
        fix = "give it a free address in " + SubnetText(arrival->address, arrival->prefixLength);
      }
    } else if (needsAddress) {
      fix = "give it an address in the subnet of the interface it answered on";
    } else if (gatewayWrong) {
      diagnosis.mend = AddressMend{ip, *mask, 0};
      fix = "set a gateway inside " + SubnetText(ip, PrefixOf(*mask)) + ", or 0.0.0.0 for none";
    }
    for (Problem& problem : diagnosis.problems) {
      if (problem.kind != ProblemKind::kSeenOnSeveralInterfaces) problem.fix = fix;
    }
    out.push_back(std::move(diagnosis));
  }
  return out;
}

}  // namespace oxlo
