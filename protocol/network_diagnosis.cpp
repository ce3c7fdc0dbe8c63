#include "protocol/network_diagnosis.h"

#include <algorithm>

#include "protocol/fields.h"

namespace oxlo {
namespace {

std::optional<std::uint32_t> HostOrder(const std::string& text) {
  const std::optional<Ipv4Field> field = ParseIpv4Text(text);
  if (!field) return std::nullopt;
  return (std::uint32_t{(*field)[0]} << 24) | (std::uint32_t{(*field)[1]} << 16) |
         (std::uint32_t{(*field)[2]} << 8) | std::uint32_t{(*field)[3]};
}

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

const HostInterface* Named(const std::vector<HostInterface>& interfaces, const std::string& name) {
  for (const HostInterface& i : interfaces) {
    if (i.name == name) return &i;
  }
  return nullptr;
}

}  // namespace

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
                                         const std::vector<std::uint32_t>& taken) {
  const std::uint32_t mask = MaskOfPrefix(subnet.prefixLength);
  const std::uint32_t network = subnet.address & mask;
  const std::uint64_t size = std::uint64_t{~mask} + 1;
  // Each taken address rules out one candidate, so this many tries suffice.
  const std::uint64_t tries = std::min<std::uint64_t>(size, taken.size() + 3);
  for (std::uint64_t offset = 0; offset < tries; ++offset) {
    const auto candidate = static_cast<std::uint32_t>(network + offset);
    if (NetworkOrBroadcast(candidate, mask) || Unusable(candidate)) continue;
    if (std::find(taken.begin(), taken.end(), candidate) != taken.end()) continue;
    return candidate;
  }
  return std::nullopt;
}

std::vector<DeviceDiagnosis> DiagnoseDevices(const std::vector<SeenDevice>& devices,
                                             const std::vector<HostInterface>& interfaces) {
  // Every address a suggestion must avoid: this computer's and every device's,
  // with the gateways the devices name.
  std::vector<std::uint32_t> taken;
  for (const HostInterface& i : interfaces) taken.push_back(i.address);
  for (const SeenDevice& d : devices) {
    for (const std::string* text : {&d.record.ip, &d.record.gateway}) {
      if (const auto a = HostOrder(*text); a && *a != 0) taken.push_back(*a);
    }
  }

  std::vector<DeviceDiagnosis> out;
  for (std::size_t n = 0; n < devices.size(); ++n) {
    const SeenDevice& device = devices[n];
    DeviceDiagnosis diagnosis;
    const std::uint32_t ip = HostOrder(device.record.ip).value_or(0);
    const std::optional<std::uint32_t> mask = HostOrder(device.record.mask);
    const std::uint32_t gateway = HostOrder(device.record.gateway).value_or(0);
    const HostInterface* arrival =
        device.interfaces.empty() ? nullptr : Named(interfaces, device.interfaces.front());
    const bool maskValid = mask && Contiguous(*mask);
    bool needsAddress = false;

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
        if (i.address == ip) holder = "this computer (" + i.name + ")";
      }
      for (std::size_t m = 0; m < devices.size() && holder.empty(); ++m) {
        if (m != n && HostOrder(devices[m].record.ip) == ip) holder = devices[m].record.mac;
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
      diagnosis.problems.push_back(
          {ProblemKind::kGatewayOutsideSubnet,
           "gateway " + device.record.gateway + " is outside its subnet " +
               SubnetText(ip, PrefixOf(*mask)),
           "set a gateway inside " + SubnetText(ip, PrefixOf(*mask)) + ", or 0.0.0.0 for none"});
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

    if (needsAddress && arrival != nullptr) {
      diagnosis.suggestedAddress = FreeAddress(*arrival, taken);
      diagnosis.suggestedMask = MaskOfPrefix(arrival->prefixLength);
      // Two devices to mend never get the same address.
      if (diagnosis.suggestedAddress) taken.push_back(*diagnosis.suggestedAddress);
    }
    const std::string fix =
        diagnosis.suggestedAddress ? "give it " + AddressText(*diagnosis.suggestedAddress) +
                                         " with mask " + AddressText(*diagnosis.suggestedMask)
        : arrival != nullptr
            ? "give it a free address in " + SubnetText(arrival->address, arrival->prefixLength)
            : "give it an address in the subnet of the interface it answered on";
    for (Problem& problem : diagnosis.problems) {
      if (problem.fix.empty() && problem.kind != ProblemKind::kSeenOnSeveralInterfaces) {
        problem.fix = fix;
      }
    }
    out.push_back(std::move(diagnosis));
  }
  return out;
}

}  // namespace oxlo
