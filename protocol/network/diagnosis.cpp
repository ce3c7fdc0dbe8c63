#include "protocol/network/diagnosis.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <utility>

#include "protocol/wire/fields.h"

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

// No device can be reached at it, whatever the subnet: none, broadcast,
// multicast, or this computer's own loopback.
bool Unusable(std::uint32_t address) {
  return address == 0 || address == 0xFFFFFFFFu || (address >> 28) == 0xE || (address >> 24) == 127;
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

// The rules an address setting is judged by, wherever it comes from: a
// device's reply or an operator's command. `holder` names who else holds
// the address, empty for nobody; it is asked only of a usable address.
std::vector<Problem> SettingProblems(const AddressSetting& setting,
                                     const std::function<std::string()>& holder) {
  std::vector<Problem> problems;
  const std::uint32_t ip = AddressOfText(setting.ip).value_or(0);
  const std::optional<std::uint32_t> mask = AddressOfText(setting.mask);
  const std::uint32_t gateway = AddressOfText(setting.gateway).value_or(0);
  const bool maskValid = mask && Contiguous(*mask);
  if (Unusable(ip) || (maskValid && NetworkOrBroadcast(ip, *mask))) {
    problems.push_back({ProblemKind::kNoUsableAddress,
                        setting.ip + " is not an address a device can be reached at", ""});
  } else if (const std::string other = holder(); !other.empty()) {
    problems.push_back(
        {ProblemKind::kDuplicateAddress, setting.ip + " is also held by " + other, ""});
  }
  if (!maskValid) {
    problems.push_back({ProblemKind::kInvalidMask,
                        setting.mask + " is not a subnet mask (its ones are not contiguous)", ""});
  } else if (gateway != 0 && (gateway & *mask) != (ip & *mask)) {
    problems.push_back(
        {ProblemKind::kGatewayOutsideSubnet,
         "gateway " + setting.gateway + " is outside its subnet " + SubnetText(ip, PrefixOf(*mask)),
         ""});
  }
  return problems;
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
    case ProblemKind::kMacOnTwoNetworks:
      return "one_mac_on_two_networks";
  }
  return "unknown";
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

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// What judging one device needs to know of all the others.
struct DeviceIndex {
  // Every address a suggestion must avoid: this computer's and every device's,
  // with the gateways the devices name.
  std::unordered_set<std::uint32_t> taken;
  // The first two devices holding each address: enough to name another holder.
  std::unordered_map<std::uint32_t, std::pair<std::size_t, std::size_t>> holders;
  // The devices of each MAC: more than one where one MAC answers on two networks.
  std::unordered_map<std::string, std::vector<std::size_t>> macs;
};

// One pass over the devices, so that judging each one rescans none.
DeviceIndex IndexDevices(const std::vector<SeenDevice>& devices,
                         const std::vector<HostInterface>& interfaces,
                         const std::vector<std::uint32_t>& alsoTaken) {
  DeviceIndex index;
  index.taken.insert(alsoTaken.begin(), alsoTaken.end());
  for (const HostInterface& i : interfaces) index.taken.insert(i.address);
  for (std::size_t n = 0; n < devices.size(); ++n) {
    const SeenDevice& d = devices[n];
    index.macs[d.record.mac].push_back(n);
    if (const auto a = AddressOfText(d.record.gateway); a && *a != 0) index.taken.insert(*a);
    if (const auto a = AddressOfText(d.record.ip); a && *a != 0) {
      index.taken.insert(*a);
      auto [entry, first] = index.holders.try_emplace(*a, n, kNone);
      if (!first && entry->second.second == kNone) entry->second.second = n;
    }
  }
  return index;
}

bool HasProblem(const std::vector<Problem>& problems, ProblemKind kind) {
  return std::any_of(problems.begin(), problems.end(),
                     [kind](const Problem& p) { return p.kind == kind; });
}

// The device's own setting, by the rules every command shares; this computer
// is named as the other holder before another device.
std::vector<Problem> HeldSettingProblems(const std::vector<SeenDevice>& devices, std::size_t n,
                                         const std::vector<HostInterface>& interfaces,
                                         const DeviceIndex& index) {
  const SeenDevice& device = devices[n];
  const std::uint32_t ip = AddressOfText(device.record.ip).value_or(0);
  const AddressSetting held{device.record.ip, device.record.mask, device.record.gateway};
  return SettingProblems(held, [&] {
    for (const HostInterface& i : interfaces) {
      if (i.address == ip) return ComputerHolder(i);
    }
    const auto& [first, second] = index.holders.at(ip);
    const std::size_t other = first != n ? first : second;
    return other != kNone ? devices[other].record.mac : std::string();
  });
}

// Outside the subnet it answered on, this computer cannot reach the device directly.
std::optional<Problem> OtherSubnetProblem(const SeenDevice& device, const HostInterface& arrival) {
  const std::uint32_t ip = AddressOfText(device.record.ip).value_or(0);
  const std::uint32_t subnetMask = MaskOfPrefix(arrival.prefixLength);
  if ((ip & subnetMask) == (arrival.address & subnetMask)) return std::nullopt;
  return Problem{ProblemKind::kOtherSubnet,
                 device.record.ip + " is outside " + arrival.name + "'s subnet " +
                     SubnetText(arrival.address, arrival.prefixLength) +
                     ": this computer cannot reach its web page or address it directly",
                 ""};
}

// Another device with the same MAC gets whatever is sent to this one.
std::optional<Problem> TwinProblem(const std::vector<SeenDevice>& devices, std::size_t n,
                                   const DeviceIndex& index) {
  const std::vector<std::size_t>& sameMac = index.macs.at(devices[n].record.mac);
  if (sameMac.size() <= 1) return std::nullopt;
  std::string others;
  for (const std::size_t other : sameMac) {
    if (other == n) continue;
    const SeenDevice& twin = devices[other];
    others += (others.empty() ? "" : ", ") + twin.record.ip +
              (twin.interfaces.empty() ? "" : " on " + twin.interfaces.front());
  }
  return Problem{ProblemKind::kMacOnTwoNetworks,
                 "another device with this MAC answers at " + others +
                     ": whatever is sent to the MAC reaches both",
                 ""};
}

// Replies on several interfaces tell of bridged or looped networks.
std::optional<Problem> SeveralInterfacesProblem(const SeenDevice& device) {
  std::vector<std::string> seenOn;
  for (const std::string& name : device.interfaces) {
    if (std::find(seenOn.begin(), seenOn.end(), name) == seenOn.end()) seenOn.push_back(name);
  }
  if (seenOn.size() <= 1) return std::nullopt;
  std::string names;
  for (const std::string& name : seenOn) names += (names.empty() ? "" : " and ") + name;
  return Problem{ProblemKind::kSeenOnSeveralInterfaces,
                 "its replies came in on " + names + ": those networks are bridged or looped", ""};
}

// One assignment mends every address problem; the fix says it in words.
// The address given is taken, so two devices to mend never get the same one.
std::string MendAddress(DeviceDiagnosis& diagnosis, const SeenDevice& device,
                        const HostInterface* arrival, std::unordered_set<std::uint32_t>& taken) {
  const std::vector<Problem>& problems = diagnosis.problems;
  const bool needsAddress = HasProblem(problems, ProblemKind::kNoUsableAddress) ||
                            HasProblem(problems, ProblemKind::kOtherSubnet) ||
                            HasProblem(problems, ProblemKind::kDuplicateAddress) ||
                            HasProblem(problems, ProblemKind::kInvalidMask);
  const bool gatewayWrong = HasProblem(problems, ProblemKind::kGatewayOutsideSubnet);
  const std::uint32_t ip = AddressOfText(device.record.ip).value_or(0);
  const std::optional<std::uint32_t> mask = AddressOfText(device.record.mask);
  const std::uint32_t gateway = AddressOfText(device.record.gateway).value_or(0);
  if (needsAddress && arrival != nullptr) {
    const std::uint32_t subnetMask = MaskOfPrefix(arrival->prefixLength);
    if (const auto free = FreeAddress(*arrival, taken)) {
      taken.insert(*free);
      const bool keepGateway = gateway != 0 && (gateway & subnetMask) == (*free & subnetMask);
      diagnosis.mend = AddressMend{*free, subnetMask, keepGateway ? gateway : 0};
      return "give it " + AddressText(*free) + " with mask " + AddressText(subnetMask) +
             (keepGateway || gateway == 0 ? "" : " and no gateway");
    }
    // A /31 or /32 may have no address left to give.
    return "give it an address of a subnet with room for it: " + arrival->name + "'s " +
           SubnetText(arrival->address, arrival->prefixLength) + " has no free address";
  }
  if (needsAddress) return "give it an address in the subnet of the interface it answered on";
  if (gatewayWrong) {
    diagnosis.mend = AddressMend{ip, *mask, 0};
    return "set a gateway inside " + SubnetText(ip, PrefixOf(*mask)) + ", or 0.0.0.0 for none";
  }
  return "";
}

// A twin MAC needs its own fix; information needs none; the rest share the mend.
void AttachFixes(std::vector<Problem>& problems, const std::string& fix) {
  for (Problem& problem : problems) {
    if (problem.kind == ProblemKind::kMacOnTwoNetworks) {
      problem.fix =
          "give one of them another MAC, or send to it from a computer on its network "
          "only";
    } else if (problem.kind != ProblemKind::kSeenOnSeveralInterfaces) {
      problem.fix = fix;
    }
  }
}

// Device `n` judged against this computer and the other devices.
DeviceDiagnosis DiagnoseDevice(const std::vector<SeenDevice>& devices, std::size_t n,
                               const std::vector<HostInterface>& interfaces, DeviceIndex& index) {
  const SeenDevice& device = devices[n];
  const HostInterface* arrival =
      device.interfaces.empty() ? nullptr : Named(interfaces, device.interfaces.front());
  DeviceDiagnosis diagnosis;
  diagnosis.problems = HeldSettingProblems(devices, n, interfaces, index);
  if (!HasProblem(diagnosis.problems, ProblemKind::kNoUsableAddress) && arrival != nullptr) {
    if (auto problem = OtherSubnetProblem(device, *arrival)) {
      diagnosis.problems.insert(diagnosis.problems.begin(), std::move(*problem));
    }
  }
  if (auto problem = TwinProblem(devices, n, index)) {
    diagnosis.problems.push_back(std::move(*problem));
  }
  if (auto problem = SeveralInterfacesProblem(device)) {
    diagnosis.problems.push_back(std::move(*problem));
  }
  const std::string fix = MendAddress(diagnosis, device, arrival, index.taken);
  AttachFixes(diagnosis.problems, fix);
  return diagnosis;
}

}  // namespace

std::vector<DeviceDiagnosis> DiagnoseDevices(const std::vector<SeenDevice>& devices,
                                             const std::vector<HostInterface>& interfaces,
                                             const std::vector<std::uint32_t>& alsoTaken) {
  DeviceIndex index = IndexDevices(devices, interfaces, alsoTaken);
  std::vector<DeviceDiagnosis> out;
  out.reserve(devices.size());
  for (std::size_t n = 0; n < devices.size(); ++n) {
    out.push_back(DiagnoseDevice(devices, n, interfaces, index));
  }
  return out;
}

std::vector<Problem> AddressProblems(const AddressSetting& setting, const std::string& mac,
                                     const std::vector<SeenDevice>& devices,
                                     const std::vector<HostInterface>& interfaces) {
  return SettingProblems(setting, [&] {
    return AddressHolder(AddressOfText(setting.ip).value_or(0), mac, devices, interfaces)
        .value_or("");
  });
}

std::optional<std::uint32_t> NewAddress(const SeenDevice& device,
                                        const DeviceDiagnosis& diagnosis) {
  if (!diagnosis.mend) return std::nullopt;
  if (AddressOfText(device.record.ip) == diagnosis.mend->address) return std::nullopt;
  return diagnosis.mend->address;
}

ProbedDiagnoses DiagnoseAndProbe(const std::vector<SeenDevice>& devices,
                                 const std::vector<HostInterface>& interfaces,
                                 const ProbeBatch& probe) {
  // Each round probes the suggestions not yet asked about; one a host claims
  // is passed over and its replacement probed in the next round.
  constexpr int kRounds = 16;
  constexpr std::size_t kProbesPerRound = 64;
  ProbedDiagnoses out;
  const auto requestOf = [&](std::size_t n) -> std::optional<ProbeRequest> {
    const auto address = NewAddress(devices[n], out.diagnoses[n]);
    if (!address || devices[n].interfaces.empty()) return std::nullopt;
    return ProbeRequest{devices[n].interfaces.front(), *address};
  };
  std::map<ProbeRequest, ProbeFinding> found;
  std::vector<std::uint32_t> claimed;
  for (int round = 0;; ++round) {
    out.diagnoses = DiagnoseDevices(devices, interfaces, claimed);
    if (!probe) break;
    std::vector<ProbeRequest> asked;
    for (std::size_t n = 0; n < devices.size() && asked.size() < kProbesPerRound; ++n) {
      const std::optional<ProbeRequest> request = requestOf(n);
      if (!request || found.count(*request) != 0 ||
          std::find(asked.begin(), asked.end(), *request) != asked.end()) {
        continue;
      }
      asked.push_back(*request);
    }
    if (asked.empty()) break;
    if (round == kRounds) break;
    const std::vector<ProbeFinding> results = probe(asked);
    for (std::size_t k = 0; k < asked.size(); ++k) {
      const ProbeFinding finding =
          k < results.size() ? results[k] : ProbeFinding{ProbeVerdict::kNotProbed, "no answer"};
      found[asked[k]] = finding;
      if (finding.verdict == ProbeVerdict::kInUse) claimed.push_back(asked[k].address);
    }
  }
  out.probes.assign(devices.size(), ProbeFinding{});
  for (std::size_t n = 0; n < devices.size(); ++n) {
    const std::optional<ProbeRequest> request = requestOf(n);
    if (!request) continue;
    if (const auto it = found.find(*request); it != found.end()) {
      out.probes[n] = it->second;
    } else if (!probe) {
      out.probes[n].detail = "probing was off";
    } else {
      out.probes[n].detail =
          "stopped after " + std::to_string(kRounds) + " rounds of addresses in use";
    }
  }
  return out;
}

}  // namespace oxlo
