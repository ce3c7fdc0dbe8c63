#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "cli/arguments.h"
#include "cli/commands/shared.h"
#include "cli/commands/subcommands.h"
#include "cli/device_cache.h"
#include "cli/output.h"
#include "transport/sockets/endpoint.h"

namespace oxlo::cli {
namespace {

struct DiscoverOptions {
  std::optional<std::string> ip;  // given, even empty: ask that host only
  std::string interface;          // empty: every interface
  double timeout = 3.0;
  bool json = false;
  bool stats = false;
};

void Discover(const DiscoverOptions& options) {
  // An empty --ip is a mistake, not a request to broadcast.
  const std::string ip = options.ip ? HostAddressArgument("--ip", *options.ip) : "";
  CheckTimeout(options.timeout);

  std::size_t ignored = 0;
  std::optional<std::chrono::microseconds> last;
  const std::vector<SeenDevice> devices =
      SearchDevices(options.interface, ip, options.timeout, &ignored, &last);
  RememberDevices(devices);

  if (options.json) {
    PrintDeviceJson(std::cout, devices, DiagnoseDevices(devices, transport::HostInterfaces()));
  } else if (devices.empty()) {
    std::cout << "No Oxlo device found.\n";
  } else {
    PrintDeviceTable(std::cout, devices);
  }
  if (ignored > 0) {
    std::cerr << "oxlo: list full: " << devices.size() << " devices shown, " << ignored
              << " more replies ignored\n";
  }
  if (options.stats) {
    std::cerr << "devices " << devices.size() << ", last reply after " << (last ? last->count() : 0)
              << " us\n";
  }
}

}  // namespace

void AddDiscover(CLI::App& parent) {
  const auto options = std::make_shared<DiscoverOptions>();
  CLI::App* d =
      parent.add_subcommand("discover", "List the devices that answer the discovery query");
  d->add_option("--ip", options->ip, "Ask only the device at this address (no broadcast)");
  d->add_option("--timeout", options->timeout, "Seconds to collect replies (default 3)");
  d->add_flag("--json", options->json, "Print a JSON array instead of a table");
  d->add_flag("--stats", options->stats, "Report on stderr when the last reply arrived");
  d->add_option("--interface", options->interface, kInterfaceHelp)->excludes("--ip");
  d->callback([options] { Discover(*options); });
}

}  // namespace oxlo::cli
