#include "cli/device_commands.h"

#include <unistd.h>

#include <iostream>

#include "cli/arguments.h"
#include "cli/exit_codes.h"
#include "cli/file_io.h"
#include "cli/firmware_transfer.h"
#include "cli/output.h"
#include "cli/settings_exchange.h"
#include "cli/upload_progress.h"
#include "protocol/settings_file.h"

namespace oxlo::cli {
namespace {

std::chrono::milliseconds ReplyWait(const std::string& option, long long ms,
                                    std::chrono::milliseconds longest) {
  if (ms < 1 || ms > longest.count()) {
    throw UsageError(option + " must be 1 to " + std::to_string(longest.count()) + " ms");
  }
  return std::chrono::milliseconds(ms);
}

}  // namespace

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

int Export(const ExportOptions& options) {
  const MacArgument mac = ParseMacArgument(options.mac);
  CheckTimeout(options.timeout);
  const DeviceSettings settings = ReadDeviceSettings(mac.bytes, Milliseconds(options.timeout));
  WriteFileAtomically(options.file, BuildSettingsFile(mac.bytes, settings));
  std::cout << "Saved the settings of " << mac.text << " in " << options.file << "\n";
  return kExitOk;
}

int Import(const ImportOptions& options) {
  const MacArgument mac = ParseMacArgument(options.mac);
  CheckTimeout(options.timeout);
  DeviceSettings settings;
  try {
    settings = ParseSettingsFile(ReadFileStart(options.file, kSettingsFileSize));
  } catch (const SettingsFileError& error) {
    throw SettingsFileError(options.file + ": " + error.what());
  }
  if (!WriteDeviceSettings(mac.bytes, settings, Milliseconds(options.timeout))) {
    std::cerr << "oxlo: Connection Lost. Please try again.\n";
    return kExitFailure;
  }
  std::cout << "Wrote the settings in " << options.file << " into " << mac.text << "\n";
  return kExitOk;
}

int Firmware(const FirmwareOptions& options) {
  const MacArgument mac = ParseMacArgument(options.mac);
  FirmwareTimeouts timeouts;
  timeouts.data = ReplyWait("--data-timeout", options.dataTimeoutMs, kDataReplyTimeout);
  timeouts.end = ReplyWait("--end-timeout", options.endTimeoutMs, kEndReplyTimeout);
  ImageFile image(options.image);
  UploadProgress progress(std::cout, ::isatty(STDOUT_FILENO) == 1, image.Size());
  const TransferResult result = SendFirmware(mac.bytes, image, timeouts, progress);
  if (!result.succeeded) {
    std::cerr << "oxlo: Updating firmware was failed"
              << (result.failure.empty() ? "" : ": " + result.failure) << "\n";
    return kExitFailure;
  }
  std::cout << "Updating firmware was successful\n";
  return kExitOk;
}

}  // namespace oxlo::cli
