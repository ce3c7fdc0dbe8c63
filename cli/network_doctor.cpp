#include "cli/network_doctor.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

#include "cli/output.h"

namespace oxlo::cli {
namespace {

std::string ProblemName(ProblemKind kind) {
  if (kind == ProblemKind::kMacOnTwoNetworks) return "one MAC on two networks";
  std::string name(ProblemKindName(kind));
  std::replace(name.begin(), name.end(), '_', ' ');
  return name;
}

bool Probed(const ProbeFinding& finding) {
  return finding.verdict != ProbeVerdict::kNotProbed;
}

// What the probe of a suggested address found, for its line.
std::string ProbeText(const ProbeFinding& finding, std::uint32_t address) {
  if (!Probed(finding)) return "not probed (" + finding.detail + "): " + AddressText(address);
  return "no host answered " + finding.detail + " for " + AddressText(address);
}

}  // namespace

Examination Examine(std::vector<SeenDevice> devices, std::vector<HostInterface> interfaces,
                    const ProbeBatch& probe) {
  Examination e;
  e.devices = std::move(devices);
  e.interfaces = std::move(interfaces);
  ProbedDiagnoses probed = DiagnoseAndProbe(e.devices, e.interfaces, probe);
  e.diagnoses = std::move(probed.diagnoses);
  e.probes = std::move(probed.probes);
  return e;
}

bool HasProblem(const DeviceDiagnosis& diagnosis) {
  return std::any_of(diagnosis.problems.begin(), diagnosis.problems.end(), [](const Problem& p) {
    return p.kind != ProblemKind::kSeenOnSeveralInterfaces;
  });
}

bool NameCanBeWritten(const DeviceRecord& record) {
  // A backslash is plain text in single quotes; EscapeControls doubles it only to read back.
  std::string shown = record.name;
  shown.erase(std::remove(shown.begin(), shown.end(), '\\'), shown.end());
  return record.unreadableName.empty() && shown.find('\0') == std::string::npos &&
         EscapeControls(shown) == shown;
}

std::vector<std::string> AssignArguments(const SeenDevice& device, const AddressMend& mend) {
  std::vector<std::string> arguments{"oxlo",
                                     "assign",
                                     device.record.mac,
                                     "--ip",
                                     AddressText(mend.address),
                                     "--mask",
                                     AddressText(mend.mask),
                                     "--gateway",
                                     AddressText(mend.gateway)};
  if (NameCanBeWritten(device.record)) {
    arguments.insert(arguments.end(), {"--name", device.record.name});
  }
  return arguments;
}

std::string AssignCommand(const SeenDevice& device, const AddressMend& mend) {
  const std::vector<std::string> arguments = AssignArguments(device, mend);
  std::string command;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    // MAC and addresses are of our own making; the name is the device's.
    const bool name = i > 0 && arguments[i - 1] == "--name";
    command += (i == 0 ? "" : " ") + (name ? ShellQuote(arguments[i]) : arguments[i]);
  }
  return command;
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
      if (!NameCanBeWritten(r)) {
        out << "       (--name left out: the device's name cannot be written safely here;"
               " assign keeps it as it is)\n";
      }
      if (const auto address = NewAddress(device, diagnosis)) {
        out << "       (" << EscapeControls(ProbeText(e.probes[n], *address)) << ")\n";
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
                       {"argv", AssignArguments(e.devices[n], *diagnosis.mend)},
                       {"name_left_out", !NameCanBeWritten(e.devices[n].record)},
                       {"probed", Probed(e.probes[n])}};
    // How the new address was probed, or why it was not.
    const auto address = NewAddress(e.devices[n], diagnosis);
    list[n]["mend"]["probe"] =
        address ? nlohmann::json(ProbeText(e.probes[n], *address)) : nlohmann::json(nullptr);
  }
  out << list.dump(2) << '\n';
}

}  // namespace oxlo::cli
