// New firmware for the devices of an inventory: which device the search
// found, the rollout's plan and results as a table and a JSON document, its
// progress line, and the run itself over one shared line.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/inventory.h"
#include "protocol/conversation/firmware_rollout.h"
#include "protocol/network/diagnosis.h"
#include "protocol/settings/settings_document.h"
#include "transport/devices/firmware_fleet.h"
#include "transport/sockets/endpoint.h"

namespace oxlo::transport {
class DeviceLine;
}

namespace oxlo::cli {

// Versions and models travel as 8-bit text, and a reason may quote them:
// text that is no UTF-8 is read as Latin-1.
std::string RolloutText(const std::string& text);

// The inventory's devices in its order, each with the first discovery
// reply of its MAC, if any.
std::vector<RolloutDevice> RolloutDevices(const std::vector<FleetDevice>& inventory,
                                          const std::vector<SeenDevice>& found);

// {"devices": [{"mac", "name", "model", "version_before", "version_after",
// "result", "reason", "seconds"}], "summary": {"upgraded", "unchanged",
// "failed", "not_started"}}. A dry run reports the devices to upgrade as
// "would_upgrade", adds "canary" and "order" (1-based, null when the device
// gets no image) to each, and counts "would_upgrade" in the summary.
Document RolloutReport(const Rollout& rollout, bool dryRun = false);

// The same as a table, device texts escaped, and a summary line; a dry run
// shows the plan: order, canaries and what each device would get.
void PrintRolloutTable(std::ostream& out, const Rollout& rollout, bool dryRun = false);

// "Devices 3 of 40 done, 16 in flight, 1 failed; 10240 of 163840 bytes".
std::string RolloutProgressText(const Rollout& rollout, std::uint64_t acknowledged,
                                std::uint64_t totalBytes);

struct RolloutRun {
  transport::FirmwareFleet::ImageSource image;
  transport::FirmwareFleetSettings settings{};
  std::chrono::milliseconds stepEvery{10};
  // Called after each step, on the calling thread.
  std::function<void(const transport::FirmwareFleet&)> stepped{};
  // Asked before each step; true stops the rollout as Rollout::Stop does.
  std::function<bool()> stopAsked{};
};

// Runs the rollout to its end: every datagram of its devices that `line`
// receives goes to one FirmwareFleet from the line's receiving thread, every
// message leaves through `out` to port 2057, and this thread steps the fleet.
// Throws what a send throws; the uploads are stopped then.
void RunRollout(Rollout& rollout, transport::DeviceLine& line, transport::InterfaceBroadcaster& out,
                const RolloutRun& run);

}  // namespace oxlo::cli
