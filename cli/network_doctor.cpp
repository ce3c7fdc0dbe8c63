#include "cli/network_doctor.h"

#include <algorithm>
#include <future>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "cli/output.h"

namespace oxlo::cli {
namespace {

// Long enough for a host on the link to answer, short enough that a doctor
// run stays quick; the probes of one round run side by side.
constexpr std::chrono::milliseconds kProbeWait{400};
// Rounds of probes: each replaces the suggestions a host claimed.
constexpr int kProbeRounds = 4;
// Probes in one round at most; further suggestions stay unprobed.
constexpr std::size_t kProbesPerRound = 64;

// The address the mend gives the device, where it is a new one.
std::optional<std::uint32_t> NewAddress(const SeenDevice& device,
                                        const DeviceDiagnosis& diagnosis) {
  if (!diagnosis.mend) return std::nullopt;
  if (AddressOfText(device.record.ip) == diagnosis.mend->address) return std::nullopt;
  return diagnosis.mend->address;
}

std::string ProblemName(ProblemKind kind) {
  std::string name(ProblemKindName(kind));
  std::replace(name.begin(), name.end(), '_', ' ');
  return name;
}

bool Probed(transport::ProbeResult result) {
  return result != transport::ProbeResult::kNotProbed;
}

}  // namespace

Examination Examine(std::vector<SeenDevice> devices, std::vector<HostInterface> interfaces,
                    bool probe) {
  Examination e;
  e.devices = std::move(devices);
  e.interfaces = std::move(interfaces);
  using Asked = std::pair<std::string, std::uint32_t>;  // interface, address
  const auto askedOf = [&e](std::size_t n) -> std::optional<Asked> {
    const auto address = NewAddress(e.devices[n], e.diagnoses[n]);
    if (!address || e.devices[n].interfaces.empty()) return std::nullopt;
    return Asked{e.devices[n].interfaces.front(), *address};
  };
  std::map<Asked, transport::ProbeResult> found;
  std::vector<std::uint32_t> claimed;
  for (int round = 0;; ++round) {
    e.diagnoses = DiagnoseDevices(e.devices, e.interfaces, claimed);
    if (!probe || round == kProbeRounds) break;
    std::map<Asked, std::future<transport::ProbeResult>> asked;
    for (std::size_t n = 0; n < e.devices.size() && asked.size() < kProbesPerRound; ++n) {
      const std::optional<Asked> key = askedOf(n);
      if (!key || found.count(*key) != 0 || asked.count(*key) != 0) continue;
      asked.emplace(*key, std::async(std::launch::async, [key] {
        try {
          return transport::ProbeAddress(key->first, key->second, kProbeWait);
        } catch (const std::exception&) {
          // A link that went away meanwhile: the suggestion stands unprobed.
          return transport::ProbeResult::kNotProbed;
        }
      }));
    }
    bool inUse = false;
    for (auto& [key, result] : asked) {
      const transport::ProbeResult r = found[key] = result.get();
      if (r == transport::ProbeResult::kInUse) {
        claimed.push_back(key.second);
        inUse = true;
      }
    }
    // Diagnosed again, suggestions move on past the claimed addresses.
    if (!inUse) break;
  }
  e.probes.assign(e.devices.size(), transport::ProbeResult::kNotProbed);
  for (std::size_t n = 0; n < e.devices.size(); ++n) {
    if (const std::optional<Asked> key = askedOf(n)) {
      if (const auto it = found.find(*key); it != found.end()) e.probes[n] = it->second;
    }
  }
  return e;
}

bool HasProblem(const DeviceDiagnosis& diagnosis) {
  return std::any_of(diagnosis.problems.begin(), diagnosis.problems.end(), [](const Problem& p) {
    return p.kind != ProblemKind::kSeenOnSeveralInterfaces;
  });
}

std::string AssignCommand(const SeenDevice& device, const AddressMend& mend) {
  return "oxlo assign " + device.record.mac + " --ip " + AddressText(mend.address) + " --mask " +
         AddressText(mend.mask) + " --gateway " + AddressText(mend.gateway) + " --name " +
         ShellQuote(device.record.name);
}

void PrintDoctorText(std::ostream& out, const Examination& e) {
  std::size_t withProblems = 0;
  for (std::size_t n = 0; n < e.devices.size(); ++n) {
    const SeenDevice& device = e.devices[n];
    const DeviceDiagnosis& diagnosis = e.diagnoses[n];
    const DeviceRecord& r = device.record;
    if (HasProblem(diagnosis)) ++withProblems;
    out << r.mac << "  " << EscapeControls(r.name) << "  " << r.ip << " / " << r.mask << " via "
        << r.gateway;
    if (!device.interfaces.empty()) {
      out << "  on " << device.interfaces.front();
      if (!device.localAddress.empty()) out << " (" << device.localAddress << ")";
    }
    out << (diagnosis.problems.empty() ? ": reachable\n" : "\n");
    for (const Problem& p : diagnosis.problems) {
      out << "  " << ProblemName(p.kind) << ": " << p.reason << "\n";
      if (!p.fix.empty()) out << "    fix: " << p.fix << "\n";
    }
    if (diagnosis.mend) {
      out << "  run: " << AssignCommand(device, *diagnosis.mend) << "\n";
      if (const auto address = NewAddress(device, diagnosis)) {
        out << "       ("
            << (Probed(e.probes[n]) ? "no host answered an ARP probe for "
                                    : "not probed (needs root): ")
            << AddressText(*address) << ")\n";
      }
    }
  }
  if (e.devices.empty()) {
    out << "No Oxlo device found.\n";
  } else {
    out << withProblems << " of " << e.devices.size() << " device"
        << (e.devices.size() == 1 ? "" : "s") << " with problems.\n";
  }
}

void PrintDoctorJson(std::ostream& out, const Examination& e) {
  nlohmann::json list = DeviceJson(e.devices, e.diagnoses);
  for (std::size_t n = 0; n < e.devices.size(); ++n) {
    const DeviceDiagnosis& diagnosis = e.diagnoses[n];
    if (!diagnosis.mend) {
      list[n]["mend"] = nullptr;
      continue;
    }
    list[n]["mend"] = {{"ip", AddressText(diagnosis.mend->address)},
                       {"mask", AddressText(diagnosis.mend->mask)},
                       {"gateway", AddressText(diagnosis.mend->gateway)},
                       {"command", AssignCommand(e.devices[n], *diagnosis.mend)},
                       {"probed", Probed(e.probes[n])}};
  }
  out << list.dump(2) << '\n';
}

}  // namespace oxlo::cli
