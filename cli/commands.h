// The subcommands of `oxlo`.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>

#include "cli/arguments.h"

namespace oxlo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Registers the subcommands on `app`; after parsing, Run() carries out the
// one the operator chose and returns the exit code.
class Commands {
 public:
  explicit Commands(CLI::App& app);
  int Run();

 private:
  struct Options;
  std::shared_ptr<Options> options_;
  CLI::App* discover_ = nullptr;
  CLI::App* assign_ = nullptr;
  CLI::App* config_get_ = nullptr;
  CLI::App* export_ = nullptr;
  CLI::App* import_ = nullptr;
  CLI::App* firmware_ = nullptr;
};

}  // namespace oxlo::cli
