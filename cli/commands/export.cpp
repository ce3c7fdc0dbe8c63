#include <iostream>
#include <memory>
#include <string>

#include "cli/arguments.h"
#include "cli/commands/shared.h"
#include "cli/commands/subcommands.h"
#include "cli/settings_exchange.h"
#include "protocol/settings/settings_file.h"
#include "transport/files/files.h"

namespace oxlo::cli {
namespace {

struct ExportOptions {
  std::string mac;
  std::string file;
  double timeout = 2.0;
  bool json = false;
};

void Export(const ExportOptions& options) {
  const MacArgument mac = ParseMacArgument(options.mac);
  CheckTimeout(options.timeout);
  // Standard output is written where it leads (a pipe, a log appended to),
  // never replaced; the line saying so goes to stderr then.
  const bool toStandardOutput = transport::IsStandardOutput(options.file);
  if (toStandardOutput && options.json) {
    throw UsageError("--json needs a file: the settings file itself goes to standard output");
  }
  // A FIFO or device in the file's place is refused before the device is asked.
  if (!toStandardOutput) transport::CheckReplaceable(options.file);
  const DeviceSettings settings = ReadDeviceSettings(mac.bytes, Milliseconds(options.timeout));
  if (toStandardOutput) {
    std::cout.flush();
    transport::WriteStandardOutput(BuildSettingsFile(mac.bytes, settings));
    std::cerr << "Saved the settings of " << mac.text << " on standard output\n";
    return;
  }
  const Bytes file = BuildSettingsFile(mac.bytes, settings);
  transport::WriteFileAtomically(options.file, file);
  if (options.json) {
    PrintJson(std::cout, {{"mac", mac.text}, {"file", options.file}, {"bytes", file.size()}});
    return;
  }
  std::cout << "Saved the settings of " << mac.text << " in " << options.file << "\n";
}

}  // namespace

void AddExport(CLI::App& parent) {
  const auto options = std::make_shared<ExportOptions>();
  CLI::App* e = parent.add_subcommand("export", "Save a device's settings in a settings file");
  e->add_option("mac", options->mac, kMacHelp)->required();
  e->add_option("file", options->file,
                "Settings file to write (replaced whole, or left as it was); "
                "- or /dev/stdout writes to standard output")
      ->required();
  e->add_option("--timeout", options->timeout, "Seconds to wait for the replies (default 2)");
  e->add_flag("--json", options->json, "Print the MAC, the file and its size as JSON");
  e->callback([options] { Export(*options); });
}

}  // namespace oxlo::cli
