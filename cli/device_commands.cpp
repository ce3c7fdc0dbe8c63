#include "cli/device_commands.h"

#include <unistd.h>

#include <iostream>

#include "cli/address_checks.h"
#include "cli/arguments.h"
#include "cli/device_search.h"
#include "cli/exit_codes.h"
#include "cli/firmware_transfer.h"
#include "cli/output.h"
#include "cli/settings_exchange.h"
#include "cli/upload_progress.h"
#include "protocol/settings_file.h"
#include "transport/files.h"

namespace oxlo::cli {
int ConfigGet(const ConfigGetOptions& options) {
  const MacArgument mac = ParseMacArgument(options.mac);
  CheckTimeout(options.timeout);
  const DeviceSettings settings = ReadDeviceSettings(mac.bytes, Milliseconds(options.timeout));
  if (options.json) {
    PrintSettingsJson(std::cout, mac.text, settings);
  } else {
    PrintSettingsText(std::cout, mac.text, settings);
  }
  return kExitOk;
}

namespace {

// A settings document in a file: JSON (whole or partial) or a settings file
// (*.oxl) taken whole.
Document ReadDocumentFile(const std::string& file) {
  // Far more than any settings document; a wrong file is not read whole.
  constexpr std::size_t kLargestDocument = 1 << 20;
  const Bytes bytes = transport::ReadFileStart(file, kLargestDocument + 1);
  if (bytes.size() > kLargestDocument) {
    throw UsageError(file + ": larger than a settings document can be");
  }
  const std::string text(bytes.begin(), bytes.end());
  // Told apart by what it holds, not by its name.
  if (LooksLikeSettingsFile(text)) {
    try {
      return SettingsToDocument(ParseSettingsFile(bytes));
    } catch (const SettingsFileError& error) {
      throw SettingsFileError(file + ": " + error.what());
    }
  }
  // A document that is no JSON or names what no settings have is bad usage.
  try {
    Document document = ParseSettingsDocument(text);
    CheckDocumentShape(document);
    return document;
  } catch (const DocumentError& error) {
    throw UsageError(file + ": " + error.what());
  }
}

int ChangeSettings(const ConfigChangeOptions& options, const Document& document) {
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
    std::cerr << "oxlo: " << mac.text << " " << UnverifiedReason(change) << "\n";
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

int ConfigSet(const ConfigChangeOptions& options) {
  Document document;
  try {
    document = DocumentOfAssignments(options.assignments);
  } catch (const DocumentError& error) {
    throw UsageError(error.what());
  }
  return ChangeSettings(options, document);
}

int ConfigApply(const ConfigChangeOptions& options) {
  return ChangeSettings(options, ReadDocumentFile(options.file));
}

int Export(const ExportOptions& options) {
  const MacArgument mac = ParseMacArgument(options.mac);
  CheckTimeout(options.timeout);
  // Standard output is written where it leads (a pipe, a log appended to),
  // never replaced; the line saying so goes to stderr then.
  const bool toStandardOutput = transport::IsStandardOutput(options.file);
  // A FIFO or device in the file's place is refused before the device is asked.
  if (!toStandardOutput) transport::CheckReplaceable(options.file);
  const DeviceSettings settings = ReadDeviceSettings(mac.bytes, Milliseconds(options.timeout));
  if (toStandardOutput) {
    std::cout.flush();
    transport::WriteStandardOutput(BuildSettingsFile(mac.bytes, settings));
    std::cerr << "Saved the settings of " << mac.text << " on standard output\n";
    return kExitOk;
  }
  transport::WriteFileAtomically(options.file, BuildSettingsFile(mac.bytes, settings));
  std::cout << "Saved the settings of " << mac.text << " in " << options.file << "\n";
  return kExitOk;
}

int Import(const ImportOptions& options) {
  const MacArgument mac = ParseMacArgument(options.mac);
  CheckTimeout(options.timeout);
  DeviceSettings settings;
  try {
    settings = ParseSettingsFile(transport::ReadFileStart(options.file, kSettingsFileSize));
  } catch (const SettingsFileError& error) {
    throw SettingsFileError(options.file + ": " + error.what());
  }
  if (!WriteDeviceSettings(mac.bytes, settings, Milliseconds(options.timeout))) {
    std::cerr << "oxlo: Connection Lost. Please try again.\n";
    return kExitFailure;
  }
  // An acknowledgement says the apply command came, not that every message
  // did: what the device holds is read back and compared.
  const std::vector<std::string> notTaken =
      PartsNotTakenAfterWrite(mac.bytes, settings, Milliseconds(options.timeout));
  if (!notTaken.empty()) {
    std::string parts;
    for (const std::string& part : notTaken) parts += (parts.empty() ? "" : ", ") + part;
    std::cerr << "oxlo: " << mac.text << " did not take: " << parts << "\n";
    return kExitFailure;
  }
  // Stored is not yet in use: a lost apply command answered by a late copy of
  // an earlier acknowledgement shows only in the discovery reply.
  SettingsChange change;
  change.notInUse =
      PartsNotInUseAfterWrite(mac.bytes, settings.network, Milliseconds(options.timeout));
  if (!change.notInUse.empty()) {
    std::cerr << "oxlo: " << mac.text << " " << UnverifiedReason(change) << "\n";
    return kExitFailure;
  }
  std::cout << "Wrote the settings in " << options.file << " into " << mac.text << "\n";
  return kExitOk;
}

int Firmware(const FirmwareOptions& options) {
  const MacArgument mac = ParseMacArgument(options.mac);
  FirmwareTimeouts timeouts;
  timeouts.data = ReplyWaitArgument("--data-timeout", options.dataTimeoutMs, kDataReplyTimeout);
  timeouts.end = ReplyWaitArgument("--end-timeout", options.endTimeoutMs, kEndReplyTimeout);
  std::optional<ComebackCheck> comeback;
  const std::chrono::seconds within = BackWithinArgument(options.backWithin);
  if (options.version) {
    comeback =
        ComebackCheck{FixedTextArgument("--version", *options.version, kVersionWidth), within};
  }
  transport::ImageFile image(options.image);
  UploadProgress progress(std::cout, ::isatty(STDOUT_FILENO) == 1, image.Size());
  const TransferResult result = SendFirmware(mac.bytes, image, timeouts, progress, comeback, [&] {
    std::cout << "The device took the image; waiting up to " << within.count()
              << " s for it to report version " << comeback->version << "\n"
              << std::flush;
  });
  if (!result.succeeded) {
    std::cerr << "oxlo: Updating firmware was failed"
              << (result.failure.empty() ? "" : ": " + EscapeControls(Latin1ToUtf8(result.failure)))
              << "\n";
    return kExitFailure;
  }
  if (comeback) {
    std::cout << "Updating firmware was successful: the device reports version "
              << comeback->version << "\n";
  } else {
    std::cout << "Updating firmware was successful (not confirmed: give --version to wait for "
                 "the device to report it)\n";
  }
  return kExitOk;
}

}  // namespace oxlo::cli
