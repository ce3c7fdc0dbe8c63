// The subcommands of `oxlo` (one file each under cli/commands/).
#pragma once

#include <CLI/CLI.hpp>

namespace oxlo::cli {

// Adds every subcommand to `app`. Run parses the command line, which
// carries out the subcommand chosen, and gives the exit code
// (cli/exit_codes.h); what it threw is said on stderr as "oxlo: ...".
class Commands {
 public:
  explicit Commands(CLI::App& app);
  int Run(int argc, char** argv);

 private:
  CLI::App& app_;
};

}  // namespace oxlo::cli
