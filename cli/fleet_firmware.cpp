#include "cli/fleet_firmware.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <thread>
#include <unordered_map>

#include "cli/output.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/frame.h"
#include "transport/devices/device_line.h"

namespace oxlo::cli {
namespace {

Document TextOrNull(const std::string& text) {
  return text.empty() ? Document(nullptr) : Document(RolloutText(text));
}

// Where each device to upgrade comes in the order the rollout starts them, 1-based.
std::vector<std::size_t> OrderOf(const Rollout& rollout) {
  std::vector<std::size_t> order(rollout.Entries().size(), 0);
  const std::vector<std::size_t> plan = rollout.Plan();
  for (std::size_t n = 0; n < plan.size(); ++n) order[plan[n]] = n + 1;
  return order;
}

// A name that is no UTF-8 text is shown by its bytes.
std::string NameOf(const RolloutDevice& device) {
  if (!device.found) return {};
  return device.found->name.empty() ? device.found->unreadableName : device.found->name;
}

bool WouldUpgrade(const Rollout::Entry& entry, bool dryRun) {
  return dryRun && entry.needsUpgrade && entry.phase == Rollout::Phase::kWaiting;
}

std::string ResultName(const Rollout::Entry& entry, bool dryRun) {
  return WouldUpgrade(entry, dryRun) ? "would_upgrade"
                                     : std::string(RolloutResultName(entry.result));
}

std::string Seconds(const Rollout::Entry& entry) {
  const double tenths = std::round(static_cast<double>(entry.took.count()) / 100.0);
  const auto whole = static_cast<long long>(tenths) / 10;
  return std::to_string(whole) + "." + std::to_string(static_cast<long long>(tenths) % 10);
}

}  // namespace

std::string RolloutText(const std::string& text) {
  const ByteView bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return IsValidUtf8(bytes) ? text : Latin1ToUtf8(text);
}

std::vector<RolloutDevice> RolloutDevices(const std::vector<FleetDevice>& inventory,
                                          const std::vector<SeenDevice>& found) {
  // Linear in both: a plant's inventory against a whole segment's replies.
  std::unordered_map<std::string, const DeviceRecord*> byMac;
  for (const SeenDevice& s : found) byMac.emplace(s.record.mac, &s.record);
  std::vector<RolloutDevice> devices;
  devices.reserve(inventory.size());
  for (const FleetDevice& d : inventory) {
    RolloutDevice device{d.mac, d.macBytes, std::nullopt};
    if (const auto seen = byMac.find(d.mac); seen != byMac.end()) device.found = *seen->second;
    devices.push_back(std::move(device));
  }
  return devices;
}

Document RolloutReport(const Rollout& rollout, bool dryRun) {
  const std::vector<std::size_t> order = OrderOf(rollout);
  Document devices = Document::array();
  std::size_t wouldUpgrade = 0;
  for (std::size_t i = 0; i < rollout.Entries().size(); ++i) {
    const Rollout::Entry& e = rollout.At(i);
    const std::optional<DeviceRecord>& found = e.device.found;
    Document device = {
        {"mac", e.device.mac},
        {"name", found ? Document(RolloutText(NameOf(e.device))) : Document(nullptr)},
        {"model", found ? TextOrNull(found->model) : Document(nullptr)},
        {"version_before", TextOrNull(e.versionBefore)},
        {"version_after", WouldUpgrade(e, dryRun) ? Document(rollout.Options().version)
                                                  : TextOrNull(e.versionAfter)},
        {"result", ResultName(e, dryRun)},
        {"reason", TextOrNull(e.reason)},
        {"seconds", e.started
                        ? Document(std::round(static_cast<double>(e.took.count()) / 100.0) / 10.0)
                        : Document(nullptr)}};
    if (dryRun) {
      device["canary"] = e.canary;
      device["order"] = order[i] > 0 ? Document(order[i]) : Document(nullptr);
    }
    if (WouldUpgrade(e, dryRun)) ++wouldUpgrade;
    devices.push_back(std::move(device));
  }
  const Rollout::Summary tally = rollout.Tally();
  Document summary = {{"upgraded", tally.upgraded},
                      {"unchanged", tally.unchanged},
                      {"failed", tally.failed},
                      {"not_started", tally.notStarted}};
  if (dryRun) summary["would_upgrade"] = wouldUpgrade;
  return {{"devices", devices}, {"summary", summary}};
}

void PrintRolloutTable(std::ostream& out, const Rollout& rollout, bool dryRun) {
  using Row = std::vector<std::string>;
  std::vector<Row> rows;
  if (dryRun) {
    rows.push_back({"ORDER", "MAC", "NAME", "BEFORE", "AFTER", "RESULT", "REASON"});
  } else {
    rows.push_back({"MAC", "NAME", "BEFORE", "AFTER", "RESULT", "REASON", "SECONDS"});
  }
  const std::vector<std::size_t> order = OrderOf(rollout);
  std::size_t wouldUpgrade = 0;
  for (std::size_t i = 0; i < rollout.Entries().size(); ++i) {
    const Rollout::Entry& e = rollout.At(i);
    const bool would = WouldUpgrade(e, dryRun);
    wouldUpgrade += would ? 1 : 0;
    Row row{e.device.mac,
            EscapeControls(NameOf(e.device)),
            EscapeControls(RolloutText(e.versionBefore)),
            EscapeControls(RolloutText(would ? rollout.Options().version : e.versionAfter)),
            ResultName(e, dryRun),
            would && e.canary ? std::string("canary") : EscapeControls(RolloutText(e.reason))};
    if (dryRun) {
      row.insert(row.begin(), order[i] > 0 ? std::to_string(order[i]) : "-");
    } else {
      row.push_back(e.started ? Seconds(e) : "-");
    }
    rows.push_back(std::move(row));
  }
  PrintTable(out, rows);
  const Rollout::Summary tally = rollout.Tally();
  const RolloutOptions& options = rollout.Options();
  out << rollout.Entries().size() << " devices: ";
  if (dryRun) {
    const std::size_t canaries = std::min(options.canary, wouldUpgrade);
    out << wouldUpgrade << " would upgrade to " << EscapeControls(options.version) << " ("
        << canaries << (canaries == 1 ? " canary" : " canaries") << " first, " << options.parallel
        << " at once, stop after " << options.maxFailures
        << (options.maxFailures == 1 ? " failure" : " failures") << "), ";
  } else {
    out << tally.upgraded << " upgraded, ";
  }
  out << tally.unchanged << " unchanged, " << tally.failed << " failed";
  if (!dryRun) out << ", " << tally.notStarted << " not started";
  out << '\n';
}

std::string RolloutProgressText(const Rollout& rollout, std::uint64_t acknowledged,
                                std::uint64_t totalBytes) {
  const Rollout::Summary tally = rollout.Tally();
  const std::size_t done = tally.upgraded + tally.unchanged + tally.failed + tally.notStarted;
  return "Devices " + std::to_string(done) + " of " + std::to_string(rollout.Entries().size()) +
         " done, " + std::to_string(tally.running) + " in flight, " + std::to_string(tally.failed) +
         " failed; " + std::to_string(acknowledged) + " of " + std::to_string(totalBytes) +
         " bytes";
}

void RunRollout(Rollout& rollout, transport::DeviceLine& line, transport::InterfaceBroadcaster& out,
                const RolloutRun& run) {
  transport::FirmwareFleet fleet(rollout, out, kDevicePort, run.image, run.settings);
  // After the fleet, so they are closed first: once closed, the line's
  // receiving thread hands the fleet nothing more.
  std::vector<std::unique_ptr<transport::DeviceSession>> sessions;
  for (const Rollout::Entry& entry : rollout.Entries()) {
    if (!entry.needsUpgrade) continue;
    sessions.push_back(std::make_unique<transport::DeviceSession>(
        line, entry.device.macBytes,
        std::vector<std::uint8_t>{code::kFirmwareReply, code::kDiscovery}));
    sessions.back()->SetReplySink([&fleet](const transport::Datagram& d) { fleet.Post(d); });
    sessions.back()->Open();
  }
  auto next = std::chrono::steady_clock::now();
  while (!fleet.Over()) {
    if (run.stopAsked && run.stopAsked()) fleet.Stop();
    fleet.Step();
    if (run.stepped) run.stepped(fleet);
    // A late step is not made up for with a burst of them.
    next = std::max(next + run.stepEvery, std::chrono::steady_clock::now());
    std::this_thread::sleep_until(next);
  }
  if (run.stepped) run.stepped(fleet);
}

}  // namespace oxlo::cli
