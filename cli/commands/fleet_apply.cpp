#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/address_checks.h"
#include "cli/arguments.h"
#include "cli/commands/shared.h"
#include "cli/commands/subcommands.h"
#include "cli/exit_codes.h"
#include "cli/fleet.h"
#include "cli/output.h"
#include "cli/upload_progress.h"
#include "transport/sockets/endpoint.h"

namespace oxlo::cli {
namespace {

struct FleetApplyOptions {
  std::string inventory;
  std::string report;
  bool dryRun = false;
  bool json = false;
  bool force = false;
  double searchTimeout = 3.0;
  int parallel = 256;
  double timeout = 2.0;
  double ackTimeout = 5.0;
};

void FleetApply(const FleetApplyOptions& options) {
  CheckParallel(options.parallel);
  CheckTimeout(options.timeout);
  CheckTimeout(options.ackTimeout);
  std::vector<FleetDevice> devices = ReadInventory(options.inventory);
  // Every device's document is checked as far as it can be without the
  // device before anything is sent to any of them: one bad value would
  // otherwise leave the fleet half applied.
  for (const FleetDevice& device : devices) {
    try {
      CheckDocumentShape(device.desired);
      CheckDocumentValues(device.desired);
    } catch (const DocumentError& error) {
      throw InventoryError(options.inventory + ": " + device.mac + ": " + error.what());
    }
  }
  CheckReportPath(options.report);
  // Addresses given to two devices, or held by this computer or a device
  // outside the inventory, or that the doctor would call a problem.
  FleetOptions fleet;
  const bool givesAddresses = std::any_of(devices.begin(), devices.end(), [](const FleetDevice& d) {
    const Document network = d.desired.value("network", Document::object());
    return network.is_object() &&
           (network.contains("ip") || network.contains("mask") || network.contains("gateway"));
  });
  if (!options.force && givesAddresses) {
    CheckTimeout(options.searchTimeout);
    const std::vector<SeenDevice> found = SearchDevices("", "", options.searchTimeout);
    std::vector<PlannedNetwork> planned;
    for (const FleetDevice& d : devices) {
      planned.push_back({d.mac, d.desired.value("network", Document::object())});
    }
    try {
      CheckPlannedAddresses(planned, found, transport::HostInterfaces());
    } catch (const AddressRefused& error) {
      throw InventoryError(options.inventory + ": " + error.what());
    }
    // What the inventory leaves to the device is judged once it is read.
    std::vector<SeenDevice> others;
    for (const SeenDevice& d : found) {
      if (std::none_of(devices.begin(), devices.end(),
                       [&d](const FleetDevice& f) { return f.mac == d.record.mac; })) {
        others.push_back(d);
      }
    }
    fleet.vetFor = [others](const std::string& mac) {
      return AddressVet(mac, [others] { return others; });
    };
  }

  fleet.parallel = options.parallel;
  fleet.dryRun = options.dryRun;
  fleet.readTimeout = Milliseconds(options.timeout);
  fleet.ackTimeout = Milliseconds(options.ackTimeout);
  transport::DeviceLine line;
  line.Open();
  // A bar on a terminal only: logs get the table and the report.
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  UploadProgress progress(std::cerr, terminal, devices.size(), "devices", "Done");
  const std::vector<FleetResult> results = ApplyFleet(line, devices, fleet, [&](std::size_t done) {
    if (terminal) progress.Update(done);
  });
  progress.Finish();
  line.Close();

  const Document report = FleetReport(results);
  if (options.json) {
    PrintJson(std::cout, report);
  } else {
    PrintFleetTable(std::cout, devices, results);
  }
  bool failed = false;
  for (const FleetResult& r : results) {
    if (r.outcome != FleetOutcome::kFailed) continue;
    std::cerr << "oxlo: " << r.mac << ": " << ErrorText(std::runtime_error(r.error)) << "\n";
    failed = true;
  }
  // Last, so a report that cannot be written after all loses nothing else.
  if (!WriteReport(options.report, report)) failed = true;
  if (failed) throw FailuresShown();
}

}  // namespace

void AddFleetApply(CLI::App& fleet) {
  const auto options = std::make_shared<FleetApplyOptions>();
  CLI::App* a = fleet.add_subcommand(
      "apply", "Bring every device of a YAML inventory to its settings, many at once");
  a->add_option("inventory", options->inventory,
                "YAML inventory: defaults and devices by MAC; - reads standard input")
      ->required();
  a->add_flag("--dry-run", options->dryRun, "Read each device and show what would change");
  a->add_flag("--json", options->json, "Print the JSON report instead of the table");
  a->add_option("--report", options->report,
                "Also write the JSON report into this file (checked before anything is sent)");
  a->add_flag("--force", options->force,
              "Apply even addresses given twice, held by this computer or another device, or "
              "that the doctor calls a problem");
  a->add_option("--search-timeout", options->searchTimeout,
                "Seconds to collect discovery replies for the address checks (default 3)");
  a->add_option("--parallel", options->parallel, "Devices at once, 1 to 1024 (default 256)");
  a->add_option("--timeout", options->timeout,
                "Seconds to wait for a device's read replies (default 2)");
  a->add_option("--ack-timeout", options->ackTimeout,
                "Seconds to wait for an acknowledgement (default 5)");
  a->footer(
      "Exit status: 0 when every device holds its settings, 1 when any failed (each is\n"
      "named on stderr), 2 for bad usage or an unusable inventory: a bad value, or an\n"
      "address refused as above. Nothing is sent then.");
  a->callback([options] { FleetApply(*options); });
}

}  // namespace oxlo::cli
