#include <iostream>
#include <memory>
#include <string>

#include "cli/arguments.h"
#include "cli/commands/shared.h"
#include "cli/commands/subcommands.h"
#include "cli/output.h"
#include "cli/settings_exchange.h"

namespace oxlo::cli {
namespace {

struct ConfigGetOptions {
  std::string mac;
  bool json = false;
  double timeout = 2.0;
};

void ConfigGet(const ConfigGetOptions& options) {
  const MacArgument mac = ParseMacArgument(options.mac);
  CheckTimeout(options.timeout);
  const DeviceSettings settings = ReadDeviceSettings(mac.bytes, Milliseconds(options.timeout));
  if (options.json) {
    PrintSettingsJson(std::cout, mac.text, settings);
  } else {
    PrintSettingsText(std::cout, mac.text, settings);
  }
}

}  // namespace

void AddConfigGet(CLI::App& config) {
  const auto options = std::make_shared<ConfigGetOptions>();
  CLI::App* g =
      config.add_subcommand("get", "Read and print the network, port, CAN and filter settings");
  g->add_option("mac", options->mac, kMacHelp)->required();
  g->add_flag("--json", options->json, "Print a JSON object instead of text");
  g->add_option("--timeout", options->timeout, "Seconds to wait for the replies (default 2)");
  g->callback([options] { ConfigGet(*options); });
}

}  // namespace oxlo::cli
