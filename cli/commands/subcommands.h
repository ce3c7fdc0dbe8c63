// The subcommands of `oxlo`, one file each. Each function adds its
// subcommand to `parent` with its options and the callback that carries it
// out; the callback throws to fail (cli/exit_codes.h).
#pragma once

#include <CLI/CLI.hpp>

namespace oxlo::cli {

void AddDiscover(CLI::App& parent);
void AddDoctor(CLI::App& parent);
void AddAssign(CLI::App& parent);

// Under `oxlo config`.
void AddConfigGet(CLI::App& config);
void AddConfigSet(CLI::App& config);
void AddConfigApply(CLI::App& config);

// Under `oxlo fleet`.
void AddFleetApply(CLI::App& fleet);
void AddFleetInventory(CLI::App& fleet);
void AddFleetFirmware(CLI::App& fleet);

void AddExport(CLI::App& parent);
void AddImport(CLI::App& parent);
void AddFirmware(CLI::App& parent);

}  // namespace oxlo::cli
