#include "cli/fleet_firmware.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands/shared.h"
#include "cli/commands/subcommands.h"
#include "cli/exit_codes.h"
#include "cli/output.h"
#include "cli/settings_exchange.h"
#include "cli/upload_progress.h"
#include "protocol/conversation/firmware_upload.h"
#include "transport/devices/firmware_fleet.h"
#include "transport/files/files.h"
#include "transport/sockets/endpoint.h"

namespace oxlo::cli {
namespace {

struct FleetFirmwareOptions {
  std::string inventory;
  std::string image;
  std::string version;
  std::optional<std::string> model;
  bool force = false;
  int canary = 1;
  int parallel = 16;
  int maxFailures = 1;
  long long backWithin = 180;
  double searchTimeout = 3.0;
  long long dataTimeoutMs = 4000;
  long long endTimeoutMs = 41000;
  bool dryRun = false;
  bool json = false;
  std::string report;
};

// The operator's Ctrl-C during a rollout: the program's one piece of
// signal state. Uploads cut off halfway leave devices waiting for the rest,
// so the first one lets the running uploads finish and starts no more.
volatile std::sig_atomic_t interrupted = 0;

class GentleInterrupt {
 public:
  GentleInterrupt() {
    interrupted = 0;
    struct sigaction action {};
    action.sa_handler = [](int) { interrupted = 1; };
    // A second Ctrl-C ends the program at once.
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previous_);
  }
  ~GentleInterrupt() { ::sigaction(SIGINT, &previous_, nullptr); }
  GentleInterrupt(const GentleInterrupt&) = delete;
  GentleInterrupt& operator=(const GentleInterrupt&) = delete;
  bool Asked() const { return interrupted != 0; }

 private:
  struct sigaction previous_ {};
};

void FleetFirmware(const FleetFirmwareOptions& options) {
  RolloutOptions rollout;
  rollout.version = FixedTextArgument("--version", options.version, kVersionWidth);
  if (options.model) rollout.model = FixedTextArgument("--model", *options.model, kModelWidth);
  rollout.force = options.force;
  if (options.canary < 0) throw UsageError("--canary must be 0 or more");
  rollout.canary = static_cast<std::size_t>(options.canary);
  CheckParallel(options.parallel);
  rollout.parallel = static_cast<std::size_t>(options.parallel);
  if (options.maxFailures < 1) throw UsageError("--max-failures must be 1 or more");
  rollout.maxFailures = static_cast<std::size_t>(options.maxFailures);
  transport::FirmwareFleetSettings settings;
  settings.backWithin = BackWithinArgument(options.backWithin);
  settings.timeouts.data =
      ReplyWaitArgument("--data-timeout", options.dataTimeoutMs, kDataReplyTimeout);
  settings.timeouts.end =
      ReplyWaitArgument("--end-timeout", options.endTimeoutMs, kEndReplyTimeout);
  CheckTimeout(options.searchTimeout);
  const std::vector<FleetDevice> devices = ReadInventory(options.inventory);
  // Each upload opens the image again; one that cannot be sent is known now.
  std::uint64_t imageSize = 0;
  try {
    imageSize = transport::ImageFile(options.image).Size();
  } catch (const std::exception& error) {
    throw UsageError(error.what());
  }
  CheckReportPath(options.report);

  Rollout plan(RolloutDevices(devices, SearchDevices("", "", options.searchTimeout)), rollout);
  if (!options.dryRun && !plan.Plan().empty()) {
    const std::vector<std::string> local = transport::LocalAddresses();
    if (local.empty()) {
      throw Failure("no network interface with an IPv4 address to send from");
    }
    transport::EveryInterface out(local);
    transport::DeviceLine line;
    line.Open();
    const std::string image = options.image;
    RolloutRun run;
    run.image = [image] {
      auto file = std::make_shared<transport::ImageFile>(image);
      return FirmwareUpload::ImageReader(
          [file](std::span<std::uint8_t> buffer) { return file->Read(buffer); });
    };
    run.settings = settings;
    // A status line on a terminal only: logs get the table and the report.
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const std::uint64_t totalBytes = imageSize * plan.Plan().size();
    StatusLine status(std::cerr);
    std::chrono::steady_clock::time_point drawn{};
    run.stepped = [&](const transport::FirmwareFleet& fleet) {
      const auto now = std::chrono::steady_clock::now();
      if (!terminal || (now - drawn < std::chrono::milliseconds(100) && !fleet.Over())) return;
      drawn = now;
      status.Show(RolloutProgressText(plan, fleet.AcknowledgedTotal(), totalBytes));
    };
    const GentleInterrupt interrupt;
    run.stopAsked = [&interrupt] { return interrupt.Asked(); };
    try {
      RunRollout(plan, line, out, run);
    } catch (...) {
      status.Finish();  // the error goes on a line of its own
      throw;
    }
    status.Finish();
    line.Close();
  }

  const Document report = RolloutReport(plan, options.dryRun);
  if (options.json) {
    PrintJson(std::cout, report);
  } else {
    PrintRolloutTable(std::cout, plan, options.dryRun);
  }
  bool failed = false;
  std::size_t notStarted = 0;
  for (const Rollout::Entry& e : plan.Entries()) {
    if (e.result == RolloutResult::kFailed) {
      std::cerr << "oxlo: " << e.device.mac << ": "
                << ErrorText(std::runtime_error(RolloutText(e.reason))) << "\n";
      failed = true;
    } else if (e.result == RolloutResult::kNotStarted && e.phase == Rollout::Phase::kDone) {
      ++notStarted;
    }
  }
  if (notStarted > 0) {
    const Rollout::Entry& first =
        *std::find_if(plan.Entries().begin(), plan.Entries().end(), [](const Rollout::Entry& e) {
          return e.result == RolloutResult::kNotStarted && e.phase == Rollout::Phase::kDone;
        });
    std::cerr << "oxlo: " << notStarted << (notStarted == 1 ? " device" : " devices")
              << " not started: " << ErrorText(std::runtime_error(first.reason)) << "\n";
    failed = true;
  }
  if (!WriteReport(options.report, report)) failed = true;
  if (failed) throw FailuresShown();
}

}  // namespace

void AddFleetFirmware(CLI::App& fleet) {
  const auto options = std::make_shared<FleetFirmwareOptions>();
  CLI::App* f = fleet.add_subcommand(
      "firmware", "Upload a firmware image to every device of a YAML inventory and confirm it");
  f->add_option("inventory", options->inventory,
                "YAML inventory as for fleet apply (only mac is used); - reads standard input")
      ->required();
  f->add_option("image", options->image, "Firmware image file")->required();
  f->add_option("--version", options->version,
                "The firmware version the image brings, as the devices report it")
      ->required();
  f->add_option("--model", options->model, "Refuse devices that report another model");
  f->add_flag("--force", options->force, "Upgrade devices that report --version already too");
  f->add_option("--canary", options->canary,
                "Devices upgraded and confirmed before all others (default 1; 0: none)");
  f->add_option("--parallel", options->parallel, "Uploads at once, 1 to 1024 (default 16)");
  f->add_option("--max-failures", options->maxFailures,
                "Start no new upload once this many failed (default 1)");
  f->add_option("--back-within", options->backWithin,
                "Seconds a device may take to come back with --version, 1 to 3600 (default 180)");
  f->add_option("--search-timeout", options->searchTimeout,
                "Seconds to collect discovery replies first (default 3)");
  f->add_option("--data-timeout", options->dataTimeoutMs,
                "Milliseconds to wait for each chunk's reply (default and most 4000)");
  f->add_option("--end-timeout", options->endTimeoutMs,
                "Milliseconds to wait for the final reply (default and most 41000)");
  f->add_flag("--dry-run", options->dryRun, "Search and print the plan; send no firmware");
  f->add_flag("--json", options->json, "Print the JSON report instead of the table");
  f->add_option("--report", options->report,
                "Also write the JSON report into this file (checked before anything is sent)");
  f->footer(
      "Searches, then upgrades the canaries, then the others, each confirmed by the version\n"
      "its discovery reply reports once it is back. Exit status: 0 when every device is\n"
      "upgraded or unchanged, 1 when any failed or was not started (each failed one is\n"
      "named on stderr), 2 for bad usage or an inventory or image it cannot use: nothing\n"
      "is sent then.");
  f->callback([options] { FleetFirmware(*options); });
}

}  // namespace oxlo::cli
