// Many devices of one network segment at once: an inventory of desired
// settings by MAC, applied over one shared line with a concurrency limit,
// and the settings of every device that answers.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/inventory.h"
#include "cli/settings_exchange.h"
#include "protocol/settings/settings_document.h"
#include "protocol/wire/discovery.h"

namespace oxlo::cli {

enum class FleetOutcome { kUnchanged, kApplied, kWouldChange, kFailed };
std::string_view FleetOutcomeName(FleetOutcome outcome);  // "unchanged", ...

struct FleetResult {
  std::string mac;
  FleetOutcome outcome = FleetOutcome::kFailed;
  SettingsChange change{};
  std::string error{};  // for kFailed
};

struct FleetOptions {
  int parallel = 256;
  bool dryRun = false;
  // Where given, judges each device's wanted settings before they are sent.
  std::function<SettingsVet(const std::string& mac)> vetFor{};
  std::chrono::milliseconds readTimeout{2000};
  std::chrono::milliseconds ackTimeout{5000};
};

// Steps each device's conversation over `line` from the calling thread, at
// most `parallel` at once; `progress` is called as each ends. Results keep
// the inventory's order.
std::vector<FleetResult> ApplyFleet(transport::DeviceLine& line,
                                    const std::vector<FleetDevice>& devices,
                                    const FleetOptions& options,
                                    const std::function<void(std::size_t done)>& progress = {});

// Each device's settings, or why they could not be read.
struct FleetReading {
  DeviceRecord device;
  std::optional<DeviceSettings> settings;
  std::string error{};
};
std::vector<FleetReading> ReadFleet(transport::DeviceLine& line,
                                    const std::vector<DeviceRecord>& devices, int parallel,
                                    std::chrono::milliseconds timeout,
                                    const std::function<void(std::size_t done)>& progress = {});

void PrintFleetTable(std::ostream& out, const std::vector<FleetDevice>& devices,
                     const std::vector<FleetResult>& results);
Document FleetReport(const std::vector<FleetResult>& results);

Document FleetReadingsJson(const std::vector<FleetReading>& readings);
// One row per device: its discovery fields, then every dotted settings key.
void PrintFleetCsv(std::ostream& out, const std::vector<FleetReading>& readings);

}  // namespace oxlo::cli
