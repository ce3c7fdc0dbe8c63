// oxlo: find and configure Oxlo devices from a terminal.
//
// Exit codes: 0 success, 1 a failure at run time, 2 bad usage or arguments.
#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Find and configure Oxlo CAN-Ethernet gateways on the LAN (UDP port 2057)."};
  app.require_subcommand(1);
  oxlo::cli::Commands commands(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return oxlo::cli::kExitUsage;
  }
  return commands.Run();
}
