#include <algorithm>
#include <iostream>
#include <memory>
#include <string>

#include "cli/arguments.h"
#include "cli/commands/shared.h"
#include "cli/commands/subcommands.h"
#include "cli/exit_codes.h"
#include "cli/network_doctor.h"
#include "transport/sockets/address_probe.h"
#include "transport/sockets/endpoint.h"

namespace oxlo::cli {
namespace {

struct DoctorOptions {
  std::string interface;
  double timeout = 3.0;
  bool json = false;
};

void Doctor(const DoctorOptions& options) {
  CheckTimeout(options.timeout);
  std::vector<SeenDevice> devices = SearchDevices(options.interface, "", options.timeout);
  const Examination examination = Examine(
      std::move(devices), transport::HostInterfaces(),
      [](const std::vector<ProbeRequest>& asked) { return transport::ProbeAddresses(asked); });
  if (options.json) {
    PrintDoctorJson(std::cout, examination);
  } else {
    PrintDoctorText(std::cout, examination);
  }
  // The report names the problems; the exit status tells a script there are some.
  if (std::any_of(examination.diagnoses.begin(), examination.diagnoses.end(),
                  [](const DeviceDiagnosis& d) { return HasProblem(d); })) {
    throw FailuresShown();
  }
}

}  // namespace

void AddDoctor(CLI::App& parent) {
  const auto options = std::make_shared<DoctorOptions>();
  CLI::App* n = parent.add_subcommand(
      "doctor", "Search, say why a device cannot be reached, and print the commands that mend it");
  n->add_flag("--json", options->json, "Print a JSON array instead of text");
  n->add_option("--timeout", options->timeout, "Seconds to collect replies (default 3)");
  n->add_option("--interface", options->interface, kInterfaceHelp);
  n->footer(
      "Exit status: 0 when no device has a problem (devices seen on several interfaces are\n"
      "information only), 1 when some do or the search failed, 2 for bad usage.\n"
      "Each suggested address is first probed on the device's interface: by ARP as root,\n"
      "otherwise by one datagram and the kernel's neighbour table.");
  n->callback([options] { Doctor(*options); });
}

}  // namespace oxlo::cli
