// oxlo: find and configure Oxlo devices from a terminal.
//
// Exit codes: 0 success, 1 a failure at run time (output that could not be
// written included), 2 bad usage or arguments.
#include <CLI/CLI.hpp>
#include <string>

#include "cli/commands.h"
#include "cli/standard_streams.h"
#include "oxlo/version.h"

namespace {

int Run(int argc, char** argv) {
  CLI::App app{"Find and configure Oxlo CAN-Ethernet gateways on the LAN (UDP port 2057)."};
  app.set_version_flag("--version", std::string("oxlo ") + oxlo::kVersionText);
  app.require_subcommand(1);
  oxlo::cli::Commands commands(app);
  return commands.Run(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
  oxlo::cli::StandardStreams streams;
  return streams.Finish(Run(argc, argv));
}
