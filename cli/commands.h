// The subcommands of `oxlo`.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>

namespace oxlo::cli {

// Registers the subcommands on `app`; after parsing, Run() carries out the
// one the operator chose and returns the exit code (cli/exit_codes.h).
class Commands {
 public:
  explicit Commands(CLI::App& app);
  int Run();

 private:
  struct Options;
  std::shared_ptr<Options> options_;
  CLI::App* discover_ = nullptr;
  CLI::App* doctor_ = nullptr;
  CLI::App* assign_ = nullptr;
  CLI::App* config_get_ = nullptr;
  CLI::App* config_set_ = nullptr;
  CLI::App* config_apply_ = nullptr;
  CLI::App* fleet_apply_ = nullptr;
  CLI::App* fleet_inventory_ = nullptr;
  CLI::App* fleet_firmware_ = nullptr;
  CLI::App* export_ = nullptr;
  CLI::App* import_ = nullptr;
  CLI::App* firmware_ = nullptr;
};

}  // namespace oxlo::cli
