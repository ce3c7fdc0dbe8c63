#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands/shared.h"
#include "cli/commands/subcommands.h"
#include "cli/output.h"
#include "cli/settings_exchange.h"
#include "protocol/conversation/settings_write.h"
#include "protocol/settings/settings_file.h"

namespace oxlo::cli {
namespace {

struct ImportOptions {
  std::string mac;
  std::string file;
  // For the acknowledgement: the window's five one-second ticks.
  double timeout = std::chrono::duration<double>(kAckTimeout).count();
  bool json = false;
};

void Import(const ImportOptions& options) {
  const MacArgument mac = ParseMacArgument(options.mac);
  CheckTimeout(options.timeout);
  DeviceSettings settings;
  try {
    settings = ParseSettingsFile(ReadInput(options.file, kSettingsFileSize));
  } catch (const SettingsFileError& error) {
    throw SettingsFileError(InputName(options.file) + ": " + error.what());
  }
  SettingsChange change;
  std::string lost;
  try {
    // An acknowledgement says the apply command came, not that every message
    // did: only what the device holds, read back, and shows in use counts.
    change = WriteWholeSettings(mac.bytes, settings, Milliseconds(options.timeout));
  } catch (const AcknowledgementLost&) {
    lost = "Connection Lost. Please try again.";
  }
  const std::string failure = !lost.empty()     ? lost
                              : change.verified ? ""
                                                : mac.text + " " + UnverifiedReason(change);
  if (options.json) {
    Document report = {{"mac", mac.text},
                       {"file", InputName(options.file)},
                       {"verified", failure.empty()},
                       {"not_taken", change.notTaken},
                       {"not_applied", change.notInUse}};
    if (!failure.empty()) report["reason"] = failure;
    PrintJson(std::cout, report);
  }
  if (!failure.empty()) throw DeviceError(failure);
  if (!options.json) {
    std::cout << "Wrote the settings in " << InputName(options.file) << " into " << mac.text
              << "\n";
  }
}

}  // namespace

void AddImport(CLI::App& parent) {
  const auto options = std::make_shared<ImportOptions>();
  CLI::App* i = parent.add_subcommand("import", "Write a settings file into a device and apply it");
  i->add_option("mac", options->mac, kMacHelp + std::string(" (the MAC in the file is not used)"))
      ->required();
  i->add_option("file", options->file, "Settings file to read; - reads standard input")->required();
  i->add_option("--timeout", options->timeout,
                "Seconds to wait for the acknowledgement (default 5)");
  i->add_flag("--json", options->json,
              "Print whether the device holds the file's settings as JSON (verified, "
              "not_taken, not_applied, reason)");
  i->callback([options] { Import(*options); });
}

}  // namespace oxlo::cli
