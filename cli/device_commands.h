// The subcommands that work on one device's settings and firmware.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "protocol/settings_write.h"

namespace oxlo::cli {

struct ConfigGetOptions {
  std::string mac;
  bool json = false;
  double timeout = 2.0;
};

// config set (assignments) and config apply (a file).
struct ConfigChangeOptions {
  std::string mac;
  std::vector<std::string> assignments;
  std::string file;
  bool dryRun = false;
  bool json = false;
  bool force = false;  // send even an address the doctor calls a problem
  double timeout = 2.0;
  double ackTimeout = std::chrono::duration<double>(AcknowledgementWait().Timeout()).count();
};

struct ExportOptions {
  std::string mac;
  std::string file;
  double timeout = 2.0;
};

struct ImportOptions {
  std::string mac;
  std::string file;
  // For the acknowledgement: the window's five one-second ticks.
  double timeout = std::chrono::duration<double>(AcknowledgementWait().Timeout()).count();
};

struct FirmwareOptions {
  std::string mac;
  std::string image;
  long long dataTimeoutMs = 4000;
  long long endTimeoutMs = 41000;
  // The version the device must report once it is back; none: not waited for.
  std::optional<std::string> version;
  long long backWithin = 180;  // seconds
};

// Each returns the exit code; bad arguments throw UsageError, failures
// other exceptions whose message is shown.
int ConfigGet(const ConfigGetOptions& options);
int ConfigSet(const ConfigChangeOptions& options);
int ConfigApply(const ConfigChangeOptions& options);
int Export(const ExportOptions& options);
int Import(const ImportOptions& options);
int Firmware(const FirmwareOptions& options);

}  // namespace oxlo::cli
