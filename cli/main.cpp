// oxlo: find and configure Oxlo devices from a terminal.
//
// Exit codes: 0 success, 1 a failure at run time, 2 bad usage or arguments.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "oxlo/version.h"

int main(int argc, char** argv) {
  CLI::App app{"Find and configure Oxlo CAN-Ethernet gateways on the LAN (UDP port 2057)."};
  app.set_version_flag("--version", std::string("oxlo ") + oxlo::kVersionText);
  app.require_subcommand(1);
  oxlo::cli::Commands commands(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end here too, with CLI11's code 0.
    return app.exit(e) == 0 ? oxlo::cli::kExitOk : oxlo::cli::kExitUsage;
  }
  return commands.Run();
}
