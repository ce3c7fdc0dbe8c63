#include "cli/address_checks.h"

#include <map>
#include <optional>
#include <set>
#include <utility>

#include "protocol/wire/fields.h"
#include "transport/sockets/endpoint.h"

namespace oxlo::cli {
std::string AddressProblemText(const AddressSetting& setting, const std::string& mac,
                               const std::vector<SeenDevice>& devices,
                               const std::vector<HostInterface>& interfaces) {
  std::string text;
  for (const Problem& problem : AddressProblems(setting, mac, devices, interfaces)) {
    text += (text.empty() ? "" : "; ") + problem.reason;
  }
  return text;
}

void RefuseProblemAddress(const AddressSetting& setting, const std::string& mac,
                          const std::vector<SeenDevice>& devices,
                          const std::vector<HostInterface>& interfaces) {
  const std::string problems = AddressProblemText(setting, mac, devices, interfaces);
  if (problems.empty()) return;
  throw AddressRefused("refused: " + problems + "; give --force to send it anyway");
}

AddressSetting AddressSettingOf(const NetworkSettings& network) {
  return {Ipv4ToText(network.address), Ipv4ToText(network.subnetMask), Ipv4ToText(network.gateway)};
}

SettingsVet AddressVet(const std::string& mac, std::function<std::vector<SeenDevice>()> devices) {
  return [mac, devices = std::move(devices)](const DeviceSettings& held,
                                             const DeviceSettings& wanted) {
    const NetworkSettings& was = held.network;
    const NetworkSettings& now = wanted.network;
    if (now.networkType == kNetworkTypeDhcp) return;  // the static fields are not in use
    if (now.address == was.address && now.subnetMask == was.subnetMask &&
        now.gateway == was.gateway && now.networkType == was.networkType) {
      return;
    }
    RefuseProblemAddress(AddressSettingOf(now), mac, devices(), transport::HostInterfaces());
  };
}

void CheckPlannedAddresses(const std::vector<PlannedNetwork>& planned,
                           const std::vector<SeenDevice>& discovered,
                           const std::vector<HostInterface>& interfaces) {
  std::set<std::string> inPlan;
  for (const PlannedNetwork& p : planned) inPlan.insert(p.mac);
  // A device of the plan may give its address to another of the plan.
  std::vector<SeenDevice> others;
  for (const SeenDevice& d : discovered) {
    if (inPlan.count(d.record.mac) == 0) others.push_back(d);
  }
  struct Holder {
    std::string mac;
    bool given;  // by the plan, not kept from before
  };
  std::map<std::uint32_t, Holder> holders;
  for (const PlannedNetwork& p : planned) {
    const SeenDevice* seen = nullptr;
    for (const SeenDevice& d : discovered) {
      if (d.record.mac == p.mac) {
        seen = &d;
        break;
      }
    }
    const auto given = [&p](const char* key) -> std::optional<std::string> {
      const Document value = p.network.is_object() ? p.network.value(key, Document()) : Document();
      if (value.is_string()) return value.get<std::string>();
      return std::nullopt;
    };
    if (given("type") == "DHCP") continue;  // the static fields are not in use
    const auto field = [&](const char* key, const std::string DeviceRecord::*held) {
      if (auto value = given(key)) return value;
      return seen != nullptr ? std::optional<std::string>(seen->record.*held) : std::nullopt;
    };
    const bool gives = given("ip") || given("mask") || given("gateway");
    const std::optional<std::string> ip = field("ip", &DeviceRecord::ip);
    const std::optional<std::uint32_t> address = ip ? AddressOfText(*ip) : std::nullopt;
    if (address && *address != 0) {
      const auto [entry, first] = holders.try_emplace(*address, Holder{p.mac, gives});
      if (!first && (gives || entry->second.given)) {
        throw AddressRefused(p.mac + ": " + *ip + " is also planned for " + entry->second.mac +
                             "; give --force to apply it anyway");
      }
    }
    const std::optional<std::string> mask = field("mask", &DeviceRecord::mask);
    const std::optional<std::string> gateway = field("gateway", &DeviceRecord::gateway);
    // What the plan leaves unknown is judged by the device once it is read.
    if (!gives || !ip || !mask || !gateway) continue;
    const std::string problems =
        AddressProblemText({*ip, *mask, *gateway}, p.mac, others, interfaces);
    if (!problems.empty()) {
      throw AddressRefused(p.mac + ": " + problems + "; give --force to apply it anyway");
    }
  }
}

}  // namespace oxlo::cli
