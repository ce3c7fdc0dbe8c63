// config set (assignments) and config apply (a file): both read the
// device, send what differs and read it back.
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/address_checks.h"
#include "cli/arguments.h"
#include "cli/commands/shared.h"
#include "cli/commands/subcommands.h"
#include "cli/device_search.h"
#include "cli/output.h"
#include "cli/settings_exchange.h"
#include "protocol/conversation/settings_write.h"
#include "protocol/settings/settings_file.h"

namespace oxlo::cli {
namespace {

struct ConfigChangeOptions {
  std::string mac;
  std::vector<std::string> assignments;  // config set
  std::string file;                      // config apply
  bool dryRun = false;
  bool json = false;
  bool force = false;  // send even an address the doctor calls a problem
  double timeout = 2.0;
  double ackTimeout = std::chrono::duration<double>(kAckTimeout).count();
};

// A settings document in a file: JSON (whole or partial) or a settings file
// (*.oxl) taken whole.
Document ReadDocumentFile(const std::string& file) {
  // Far more than any settings document; a wrong file is not read whole.
  constexpr std::size_t kLargestDocument = 1 << 20;
  const Bytes bytes = ReadInput(file, kLargestDocument + 1);
  if (bytes.size() > kLargestDocument) {
    throw UsageError(InputName(file) + ": larger than a settings document can be");
  }
  const std::string text(bytes.begin(), bytes.end());
  // Told apart by what it holds, not by its name.
  if (LooksLikeSettingsFile(text)) {
    try {
      return SettingsToDocument(ParseSettingsFile(bytes));
    } catch (const SettingsFileError& error) {
      throw SettingsFileError(InputName(file) + ": " + error.what());
    }
  }
  // A document that is no JSON or names what no settings have is bad usage.
  try {
    Document document = ParseSettingsDocument(text);
    CheckDocumentShape(document);
    return document;
  } catch (const DocumentError& error) {
    throw UsageError(InputName(file) + ": " + error.what());
  }
}

void ChangeSettings(const ConfigChangeOptions& options, const Document& document) {
  const MacArgument mac = ParseMacArgument(options.mac);
  CheckTimeout(options.timeout);
  CheckTimeout(options.ackTimeout);
  // A new address is judged as the doctor would judge it, against the
  // devices that answer a search made only then.
  const auto search = [&options] {
    DeviceSearch search;
    search.Open();
    search.Broadcast();
    std::vector<SeenDevice> devices = search.Collect(Milliseconds(options.timeout));
    search.Close();
    return devices;
  };
  const SettingsChange change =
      ChangeDeviceSettings(mac.bytes, document, options.dryRun, Milliseconds(options.timeout),
                           Milliseconds(options.ackTimeout), nullptr,
                           options.force ? SettingsVet() : AddressVet(mac.text, search));
  if (options.json) {
    PrintChangeJson(std::cout, mac.text, change);
  } else {
    PrintChangeText(std::cout, mac.text, change, options.dryRun);
  }
  if (change.written && !change.verified) {
    throw DeviceError(mac.text + " " + UnverifiedReason(change));
  }
}

void ConfigSet(const ConfigChangeOptions& options) {
  Document document;
  try {
    document = DocumentOfAssignments(options.assignments);
  } catch (const DocumentError& error) {
    throw UsageError(error.what());
  }
  ChangeSettings(options, document);
}

void ConfigApply(const ConfigChangeOptions& options) {
  ChangeSettings(options, ReadDocumentFile(options.file));
}

void AddChangeOptions(CLI::App& c, ConfigChangeOptions& o) {
  c.add_flag("--dry-run", o.dryRun, "Print the difference and send nothing");
  c.add_flag("--force", o.force,
             "Send even an address, mask or gateway the doctor calls a problem");
  c.add_flag("--json", o.json,
             "Print {\"changed\", \"diff\", \"verified\"} as JSON instead of text");
  c.add_option("--timeout", o.timeout, "Seconds to wait for the read replies (default 2)");
  c.add_option("--ack-timeout", o.ackTimeout,
               "Seconds to wait for the acknowledgement (default 5)");
  c.footer(
      "Reads the device, sends only the groups that differ and the apply command, then\n"
      "reads it back. Values are checked as the configuration window checks them; a bad\n"
      "one is named and nothing is sent, as is a new address the doctor would call a\n"
      "problem (unless --force). Exit status 1 when the device did not take all.");
}

}  // namespace

void AddConfigSet(CLI::App& config) {
  const auto options = std::make_shared<ConfigChangeOptions>();
  CLI::App* s = config.add_subcommand("set", "Change some settings of a device");
  s->add_option("mac", options->mac, kMacHelp)->required();
  s->add_option("settings", options->assignments,
                "KEY=VALUE with dotted keys as config get --json names them: "
                "port.local_port=4001 can.bitrate_kbps=250 filters.3.2.id=1FF")
      ->required();
  AddChangeOptions(*s, *options);
  s->callback([options] { ConfigSet(*options); });
}

void AddConfigApply(CLI::App& config) {
  const auto options = std::make_shared<ConfigChangeOptions>();
  CLI::App* a = config.add_subcommand(
      "apply", "Bring a device to the settings of a JSON document or settings file");
  a->add_option("mac", options->mac, kMacHelp)->required();
  a->add_option("file", options->file,
                "A whole or partial JSON document as config get --json prints, or a *.oxl file; "
                "- reads standard input")
      ->required();
  AddChangeOptions(*a, *options);
  a->callback([options] { ConfigApply(*options); });
}

}  // namespace oxlo::cli
