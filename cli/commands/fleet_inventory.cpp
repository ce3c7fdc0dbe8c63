#include <unistd.h>

#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands/shared.h"
#include "cli/commands/subcommands.h"
#include "cli/exit_codes.h"
#include "cli/fleet.h"
#include "cli/output.h"
#include "cli/upload_progress.h"

namespace oxlo::cli {
namespace {

struct FleetInventoryOptions {
  std::string interface;
  bool json = false;
  bool csv = false;
  int parallel = 256;
  double searchTimeout = 3.0;
  double timeout = 2.0;
};

void FleetInventory(const FleetInventoryOptions& options) {
  CheckParallel(options.parallel);
  CheckTimeout(options.timeout);
  std::vector<DeviceRecord> devices;
  for (SeenDevice& seen : SearchDevices(options.interface, "", options.searchTimeout)) {
    devices.push_back(std::move(seen.record));
  }
  transport::DeviceLine line;
  line.Open();
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  UploadProgress progress(std::cerr, terminal, devices.size(), "devices", "Read");
  const std::vector<FleetReading> readings = ReadFleet(
      line, devices, options.parallel, Milliseconds(options.timeout), [&](std::size_t done) {
        if (terminal) progress.Update(done);
      });
  progress.Finish();
  line.Close();
  if (options.csv) {
    PrintFleetCsv(std::cout, readings);
  } else if (options.json) {
    PrintJson(std::cout, FleetReadingsJson(readings));
  } else if (readings.empty()) {
    std::cout << "No Oxlo device found.\n";
  } else {
    for (const FleetReading& r : readings) {
      std::cout << r.device.mac << "  " << EscapeControls(r.device.name) << "  "
                << (r.settings ? "read" : "not read: " + EscapeControls(r.error)) << "\n";
    }
  }
  bool failed = false;
  for (const FleetReading& r : readings) {
    if (r.settings) continue;
    std::cerr << "oxlo: " << ErrorText(std::runtime_error(r.error)) << "\n";
    failed = true;
  }
  if (failed) throw FailuresShown();
}

}  // namespace

void AddFleetInventory(CLI::App& fleet) {
  const auto options = std::make_shared<FleetInventoryOptions>();
  CLI::App* i =
      fleet.add_subcommand("inventory", "Search, and read the settings of every device found");
  i->add_flag("--json", options->json, "Print a JSON array of devices with their settings");
  i->add_flag("--csv", options->csv, "Print CSV: one row per device, one column per setting")
      ->excludes("--json");
  i->add_option("--interface", options->interface, "Search on this network interface only");
  i->add_option("--parallel", options->parallel, "Devices read at once, 1 to 1024 (default 256)");
  i->add_option("--search-timeout", options->searchTimeout,
                "Seconds to collect replies (default 3)");
  i->add_option("--timeout", options->timeout,
                "Seconds to wait for a device's replies (default 2)");
  i->callback([options] { FleetInventory(*options); });
}

}  // namespace oxlo::cli
