#include "cli/commands.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <iostream>
#include <memory>
#include <optional>
#include <span>

#include "cli/address_checks.h"
#include "cli/arguments.h"
#include "cli/device_cache.h"
#include "cli/device_commands.h"
#include "cli/device_search.h"
#include "cli/exit_codes.h"
#include "cli/fleet.h"
#include "cli/fleet_firmware.h"
#include "cli/network_doctor.h"
#include "cli/output.h"
#include "cli/upload_progress.h"
#include "protocol/discovery.h"
#include "transport/address_probe.h"
#include "transport/endpoint.h"
#include "transport/files.h"
#include "transport/firmware_fleet.h"

namespace oxlo::cli {
namespace {

struct DiscoverOptions {
  std::optional<std::string> ip;  // given, even empty: ask that host only
  std::string interface;          // empty: every interface
  double timeout = 3.0;
  bool json = false;
  bool stats = false;
};

struct DoctorOptions {
  std::string interface;
  double timeout = 3.0;
  bool json = false;
};

struct FleetApplyOptions {
  std::string inventory;
  std::string report;
  bool dryRun = false;
  bool json = false;
  bool force = false;
  double searchTimeout = 3.0;
  int parallel = 256;
  double timeout = 2.0;
  double ackTimeout = 5.0;
};

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

struct FleetInventoryOptions {
  std::string interface;
  bool json = false;
  bool csv = false;
  int parallel = 256;
  double searchTimeout = 3.0;
  double timeout = 2.0;
};

struct AssignOptions {
  std::string mac;
  std::string ip;
  std::string mask;
  std::string gateway;
  std::optional<std::string> name;
  bool verify = false;
  bool force = false;
  double timeout = 3.0;
};

// One line on stderr: socket messages carry a CR LF, and a message may quote
// what a device or a file held.
std::string ErrorText(const std::exception& error) {
  std::string message = error.what();
  for (char& c : message) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return EscapeControls(message);
}

// Searches by broadcast (or asks one host) and waits `timeout` for replies.
std::vector<SeenDevice> Search(const std::string& interface, const std::string& ip, double timeout,
                               std::size_t* ignored = nullptr,
                               std::optional<std::chrono::microseconds>* lastArrival = nullptr) {
  if (!interface.empty()) {
    const std::vector<HostInterface> up = transport::HostInterfaces();
    if (std::none_of(up.begin(), up.end(),
                     [&interface](const HostInterface& i) { return i.name == interface; })) {
      throw UsageError("--interface: no interface " + interface + " with an IPv4 address is up");
    }
  }
  DeviceSearch search;
  search.KeepToInterface(interface);
  search.Open();
  if (ip.empty()) {
    search.Broadcast();
  } else {
    search.AskHost(ip);
  }
  std::vector<SeenDevice> devices = search.Collect(Milliseconds(timeout));
  search.Close();
  if (ignored != nullptr) *ignored = search.IgnoredReplies();
  if (lastArrival != nullptr) *lastArrival = search.LastArrival();
  return devices;
}

int Discover(const DiscoverOptions& options) {
  // An empty --ip is a mistake, not a request to broadcast.
  const std::string ip = options.ip ? HostAddressArgument("--ip", *options.ip) : "";
  CheckTimeout(options.timeout);

  std::size_t ignored = 0;
  std::optional<std::chrono::microseconds> last;
  const std::vector<SeenDevice> devices =
      Search(options.interface, ip, options.timeout, &ignored, &last);
  RememberDevices(devices);

  if (options.json) {
    PrintDeviceJson(std::cout, devices, DiagnoseDevices(devices, transport::HostInterfaces()));
  } else if (devices.empty()) {
    std::cout << "No Oxlo device found.\n";
  } else {
    PrintDeviceTable(std::cout, devices);
  }
  if (ignored > 0) {
    std::cerr << "oxlo: list full: " << devices.size() << " devices shown, " << ignored
              << " more replies ignored\n";
  }
  if (options.stats) {
    std::cerr << "devices " << devices.size() << ", last reply after " << (last ? last->count() : 0)
              << " us\n";
  }
  return kExitOk;
}

int Doctor(const DoctorOptions& options) {
  CheckTimeout(options.timeout);
  std::vector<SeenDevice> devices = Search(options.interface, "", options.timeout);
  const Examination examination = Examine(
      std::move(devices), transport::HostInterfaces(),
      [](const std::vector<ProbeRequest>& asked) { return transport::ProbeAddresses(asked); });
  if (options.json) {
    PrintDoctorJson(std::cout, examination);
  } else {
    PrintDoctorText(std::cout, examination);
  }
  const bool problems = std::any_of(examination.diagnoses.begin(), examination.diagnoses.end(),
                                    [](const DeviceDiagnosis& d) { return HasProblem(d); });
  return problems ? kExitFailure : kExitOk;
}

// An inventory file read with bounded work; throws InventoryError naming the file.
std::vector<FleetDevice> ReadInventory(const std::string& file) {
  // A wrong file is not read whole.
  const Bytes bytes = transport::ReadFileStart(file, kLargestInventory + 1);
  if (bytes.size() > kLargestInventory) {
    throw InventoryError(file + ": larger than an inventory can be");
  }
  try {
    return ParseInventory(std::string(bytes.begin(), bytes.end()));
  } catch (const InventoryError& error) {
    throw InventoryError(file + ": " + error.what());
  }
}

// The report is written at the end; a path it cannot go to is known before
// anything is sent.
void CheckReportPath(const std::string& report) {
  if (report.empty() || transport::IsStandardOutput(report)) return;
  try {
    transport::CheckWritable(report);
  } catch (const std::runtime_error& error) {
    throw UsageError(std::string("--report: ") + error.what());
  }
}

// Writes the report where --report names, replacing a file whole or adding
// to standard output; says on stderr why it could not.
bool WriteReport(const std::string& path, const Document& report) {
  if (path.empty()) return true;
  const std::string text = report.dump(2, ' ', false, Document::error_handler_t::replace) + "\n";
  try {
    if (transport::IsStandardOutput(path)) {
      std::cout.flush();
      transport::WriteStandardOutput(Bytes(text.begin(), text.end()));
    } else {
      transport::WriteFileAtomically(path, Bytes(text.begin(), text.end()));
    }
  } catch (const std::runtime_error& error) {
    std::cerr << "oxlo: " << ErrorText(error) << "\n";
    return false;
  }
  return true;
}

void CheckParallel(int parallel) {
  if (parallel < 1 || parallel > 1024) throw UsageError("--parallel: from 1 to 1024");
}

int FleetApply(const FleetApplyOptions& options) {
  CheckParallel(options.parallel);
  CheckTimeout(options.timeout);
  CheckTimeout(options.ackTimeout);
  std::vector<FleetDevice> devices = ReadInventory(options.inventory);
  // Every device's document is checked as far as it can be without the
  // device before anything is sent to any of them: one bad value would
  // otherwise leave the fleet half applied.
  for (const FleetDevice& device : devices) {
    try {
      CheckDocumentShape(device.desired);
      CheckDocumentValues(device.desired);
    } catch (const DocumentError& error) {
      throw InventoryError(options.inventory + ": " + device.mac + ": " + error.what());
    }
  }
  CheckReportPath(options.report);
  // Addresses given to two devices, or held by this computer or a device
  // outside the inventory, or that the doctor would call a problem.
  FleetOptions fleet;
  const bool givesAddresses = std::any_of(devices.begin(), devices.end(), [](const FleetDevice& d) {
    const Document network = d.desired.value("network", Document::object());
    return network.is_object() &&
           (network.contains("ip") || network.contains("mask") || network.contains("gateway"));
  });
  if (!options.force && givesAddresses) {
    CheckTimeout(options.searchTimeout);
    const std::vector<SeenDevice> found = Search("", "", options.searchTimeout);
    std::vector<PlannedNetwork> planned;
    for (const FleetDevice& d : devices) {
      planned.push_back({d.mac, d.desired.value("network", Document::object())});
    }
    try {
      CheckPlannedAddresses(planned, found, transport::HostInterfaces());
    } catch (const AddressRefused& error) {
      throw InventoryError(options.inventory + ": " + error.what());
    }
    // What the inventory leaves to the device is judged once it is read.
    std::vector<SeenDevice> others;
    for (const SeenDevice& d : found) {
      if (std::none_of(devices.begin(), devices.end(),
                       [&d](const FleetDevice& f) { return f.mac == d.record.mac; })) {
        others.push_back(d);
      }
    }
    fleet.vetFor = [others](const std::string& mac) {
      return AddressVet(mac, [others] { return others; });
    };
  }

  fleet.parallel = options.parallel;
  fleet.dryRun = options.dryRun;
  fleet.readTimeout = Milliseconds(options.timeout);
  fleet.ackTimeout = Milliseconds(options.ackTimeout);
  DeviceLine line;
  line.Open();
  // A bar on a terminal only: logs get the table and the report.
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  UploadProgress progress(std::cerr, terminal, devices.size(), "devices", "Done");
  const std::vector<FleetResult> results = ApplyFleet(line, devices, fleet, [&](std::size_t done) {
    if (terminal) progress.Update(done);
  });
  progress.Finish();
  line.Close();

  const Document report = FleetReport(results);
  if (options.json) {
    std::cout << report.dump(2, ' ', false, Document::error_handler_t::replace) << "\n";
  } else {
    PrintFleetTable(std::cout, devices, results);
  }
  bool failed = false;
  for (const FleetResult& r : results) {
    if (r.outcome != FleetOutcome::kFailed) continue;
    std::cerr << "oxlo: " << r.mac << ": " << ErrorText(std::runtime_error(r.error)) << "\n";
    failed = true;
  }
  // Last, so a report that cannot be written after all loses nothing else.
  if (!WriteReport(options.report, report)) failed = true;
  return failed ? kExitFailure : kExitOk;
}

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

int FleetFirmware(const FleetFirmwareOptions& options) {
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

  Rollout plan(RolloutDevices(devices, Search("", "", options.searchTimeout)), rollout);
  if (!options.dryRun && !plan.Plan().empty()) {
    const std::vector<std::string> local = transport::LocalAddresses();
    if (local.empty()) {
      throw std::runtime_error("no network interface with an IPv4 address to send from");
    }
    transport::EveryInterface out(local);
    DeviceLine line;
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
    std::cout << report.dump(2, ' ', false, Document::error_handler_t::replace) << "\n";
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
  return failed ? kExitFailure : kExitOk;
}

int FleetInventory(const FleetInventoryOptions& options) {
  CheckParallel(options.parallel);
  CheckTimeout(options.timeout);
  std::vector<DeviceRecord> devices;
  for (SeenDevice& seen : Search(options.interface, "", options.searchTimeout)) {
    devices.push_back(std::move(seen.record));
  }
  DeviceLine line;
  line.Open();
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  UploadProgress progress(std::cerr, terminal, devices.size(), "devices", "Read");
  const std::vector<FleetReading> readings = ReadFleet(
      line, devices, options.parallel, Milliseconds(options.timeout), [&](std::size_t done) {
        if (terminal) progress.Update(done);
      });
  progress.Finish();
  line.Close();
  if (options.csv) {
    PrintFleetCsv(std::cout, readings);
  } else if (options.json) {
    std::cout << FleetReadingsJson(readings).dump(2, ' ', false, Document::error_handler_t::replace)
              << "\n";
  } else if (readings.empty()) {
    std::cout << "No Oxlo device found.\n";
  } else {
    for (const FleetReading& r : readings) {
      std::cout << r.device.mac << "  " << EscapeControls(r.device.name) << "  "
                << (r.settings ? "read" : "not read: " + EscapeControls(r.error)) << "\n";
    }
  }
  bool failed = false;
  for (const FleetReading& r : readings) {
    if (r.settings) continue;
    std::cerr << "oxlo: " << ErrorText(std::runtime_error(r.error)) << "\n";
    failed = true;
  }
  return failed ? kExitFailure : kExitOk;
}

std::optional<DeviceRecord> FindByMac(const std::vector<SeenDevice>& devices,
                                      const std::string& mac) {
  for (const SeenDevice& d : devices) {
    if (d.record.mac == mac) return d.record;
  }
  return std::nullopt;
}

int Assign(const AssignOptions& options) {
  const std::string mac = NormalizeMac(options.mac);
  const std::string ip = AddressArgument("--ip", options.ip);
  const std::string mask = AddressArgument("--mask", options.mask);
  const std::string gateway = AddressArgument("--gateway", options.gateway);
  CheckTimeout(options.timeout);

  DeviceSearch search;
  search.Open();
  // The answers tell the device's name and who holds which address; a
  // forced assignment with a name needs neither.
  std::vector<SeenDevice> found;
  if (!options.force || !options.name) {
    search.Broadcast();
    found = search.Collect(Milliseconds(options.timeout));
  }

  // The message always carries a name: keep the device's own unless told.
  std::string name;
  if (options.name) {
    name = *options.name;
  } else {
    const auto device = FindByMac(found, mac);
    if (!device) {
      std::cerr << "oxlo: " << mac << " did not answer; give --name to assign without its answer\n";
      return kExitFailure;
    }
    // A name that is no UTF-8 text goes back as the bytes it was.
    name = device->unreadableName.empty() ? device->name : device->unreadableName;
  }
  // What the doctor would call a problem is not sent: an address no device
  // can be reached at, a broken mask or gateway, an address already held.
  if (!options.force) {
    const std::string problems =
        AddressProblemText({ip, mask, gateway}, mac, found, transport::HostInterfaces());
    if (!problems.empty()) {
      std::cerr << "oxlo: refused: " << problems << "; give --force to assign it anyway\n";
      return kExitFailure;
    }
  }

  const std::vector<std::string> local = transport::LocalAddresses();
  if (local.empty()) {
    std::cerr << "oxlo: no network interface with an IPv4 address to send from\n";
    return kExitFailure;
  }
  transport::EveryInterface interfaces(local);
  interfaces.SendOnEveryInterface(BuildAddressAssignment(mac, ip, mask, gateway, name),
                                  kDevicePort);
  std::cout << "Sent " << ip << " / " << mask << " via " << gateway << " to " << mac << "\n";

  if (!options.verify) return kExitOk;
  search.Forget();
  search.Broadcast();
  const auto device = FindByMac(search.Collect(Milliseconds(options.timeout)), mac);
  if (!device) {
    std::cerr << "oxlo: " << mac << " did not answer after the assignment\n";
    return kExitFailure;
  }
  const bool took = device->ip == ip && device->mask == mask && device->gateway == gateway;
  if (!took) {
    std::cerr << "oxlo: " << mac << " still reports " << device->ip << " / " << device->mask
              << " via " << device->gateway << "\n";
    return kExitFailure;
  }
  std::cout << "Verified: " << mac << " answers at " << device->ip << "\n";
  return kExitOk;
}

}  // namespace

struct Commands::Options {
  DiscoverOptions discover;
  DoctorOptions doctor;
  AssignOptions assign;
  ConfigGetOptions configGet;
  ConfigChangeOptions configSet;
  ConfigChangeOptions configApply;
  FleetApplyOptions fleetApply;
  FleetInventoryOptions fleetInventory;
  FleetFirmwareOptions fleetFirmware;
  ExportOptions exportFile;
  ImportOptions importFile;
  FirmwareOptions firmware;
};

Commands::Commands(CLI::App& app) : options_(std::make_shared<Options>()) {
  DiscoverOptions* discover = &options_->discover;
  CLI::App* d = discover_ =
      app.add_subcommand("discover", "List the devices that answer the discovery query");
  d->add_option("--ip", discover->ip, "Ask only the device at this address (no broadcast)");
  d->add_option("--timeout", discover->timeout, "Seconds to collect replies (default 3)");
  d->add_flag("--json", discover->json, "Print a JSON array instead of a table");
  d->add_flag("--stats", discover->stats, "Report on stderr when the last reply arrived");
  const char* interfaceHelp = "Search on this network interface only, like eth0";
  d->add_option("--interface", discover->interface, interfaceHelp)->excludes("--ip");

  DoctorOptions* doctor = &options_->doctor;
  CLI::App* n = doctor_ = app.add_subcommand(
      "doctor", "Search, say why a device cannot be reached, and print the commands that mend it");
  n->add_flag("--json", doctor->json, "Print a JSON array instead of text");
  n->add_option("--timeout", doctor->timeout, "Seconds to collect replies (default 3)");
  n->add_option("--interface", doctor->interface, interfaceHelp);
  n->footer(
      "Exit status: 0 when no device has a problem (devices seen on several interfaces are\n"
      "information only), 1 when some do or the search failed, 2 for bad usage.\n"
      "Each suggested address is first probed on the device's interface: by ARP as root,\n"
      "otherwise by one datagram and the kernel's neighbour table.");

  AssignOptions* assign = &options_->assign;
  CLI::App* a = assign_ =
      app.add_subcommand("assign", "Give a device a new address, mask, gateway and name");
  a->add_option("mac", assign->mac, "MAC address of the device, like 00-1A-2B-3C-4D-5E")
      ->required();
  a->add_option("--ip", assign->ip, "New IPv4 address")->required();
  a->add_option("--mask", assign->mask, "New subnet mask")->required();
  a->add_option("--gateway", assign->gateway, "New gateway")->required();
  a->add_option("--name", assign->name, "New device name (default: keep the device's name)");
  a->add_flag("--verify", assign->verify, "Search again and check the device took the address");
  a->add_flag("--force", assign->force,
              "Assign even what the doctor calls a problem: an address this computer or "
              "another device holds, no usable address, a broken mask or gateway");
  a->add_option("--timeout", assign->timeout, "Seconds to wait for answers (default 3)");

  const char* macHelp = "MAC address of the device, like 02-00-00-00-00-01";
  ConfigGetOptions* get = &options_->configGet;
  CLI::App* config = app.add_subcommand("config", "Show or change a device's settings");
  config->require_subcommand(1);
  CLI::App* g = config_get_ =
      config->add_subcommand("get", "Read and print the network, port, CAN and filter settings");
  g->add_option("mac", get->mac, macHelp)->required();
  g->add_flag("--json", get->json, "Print a JSON object instead of text");
  g->add_option("--timeout", get->timeout, "Seconds to wait for the replies (default 2)");

  const auto changeOptions = [](CLI::App* c, ConfigChangeOptions* o) {
    c->add_flag("--dry-run", o->dryRun, "Print the difference and send nothing");
    c->add_flag("--force", o->force,
                "Send even an address, mask or gateway the doctor calls a problem");
    c->add_flag("--json", o->json,
                "Print {\"changed\", \"diff\", \"verified\"} as JSON instead of text");
    c->add_option("--timeout", o->timeout, "Seconds to wait for the read replies (default 2)");
    c->add_option("--ack-timeout", o->ackTimeout,
                  "Seconds to wait for the acknowledgement (default 5)");
    c->footer(
        "Reads the device, sends only the groups that differ and the apply command, then\n"
        "reads it back. Values are checked as the configuration window checks them; a bad\n"
        "one is named and nothing is sent, as is a new address the doctor would call a\n"
        "problem (unless --force). Exit status 1 when the device did not take all.");
  };
  ConfigChangeOptions* set = &options_->configSet;
  CLI::App* st = config_set_ = config->add_subcommand("set", "Change some settings of a device");
  st->add_option("mac", set->mac, macHelp)->required();
  st->add_option("settings", set->assignments,
                 "KEY=VALUE with dotted keys as config get --json names them: "
                 "port.local_port=4001 can.bitrate_kbps=250 filters.3.2.id=1FF")
      ->required();
  changeOptions(st, set);
  ConfigChangeOptions* apply = &options_->configApply;
  CLI::App* ap = config_apply_ = config->add_subcommand(
      "apply", "Bring a device to the settings of a JSON document or settings file");
  ap->add_option("mac", apply->mac, macHelp)->required();
  ap->add_option("file", apply->file,
                 "A whole or partial JSON document as config get --json prints, or a *.oxl file")
      ->required();
  changeOptions(ap, apply);

  CLI::App* fleet = app.add_subcommand("fleet", "Many devices of this network segment at once");
  fleet->require_subcommand(1);
  FleetApplyOptions* fa = &options_->fleetApply;
  CLI::App* fap = fleet_apply_ = fleet->add_subcommand(
      "apply", "Bring every device of a YAML inventory to its settings, many at once");
  fap->add_option("inventory", fa->inventory, "YAML inventory: defaults and devices by MAC")
      ->required();
  fap->add_flag("--dry-run", fa->dryRun, "Read each device and show what would change");
  fap->add_flag("--json", fa->json, "Print the JSON report instead of the table");
  fap->add_option("--report", fa->report,
                  "Also write the JSON report into this file (checked before anything is sent)");
  fap->add_flag("--force", fa->force,
                "Apply even addresses given twice, held by this computer or another device, or "
                "that the doctor calls a problem");
  fap->add_option("--search-timeout", fa->searchTimeout,
                  "Seconds to collect discovery replies for the address checks (default 3)");
  fap->add_option("--parallel", fa->parallel, "Devices at once, 1 to 1024 (default 256)");
  fap->add_option("--timeout", fa->timeout,
                  "Seconds to wait for a device's read replies (default 2)");
  fap->add_option("--ack-timeout", fa->ackTimeout,
                  "Seconds to wait for an acknowledgement (default 5)");
  fap->footer(
      "Exit status: 0 when every device holds its settings, 1 when any failed (each is\n"
      "named on stderr), 2 for bad usage or an unusable inventory: a bad value, or an\n"
      "address refused as above. Nothing is sent then.");
  FleetInventoryOptions* fi = &options_->fleetInventory;
  CLI::App* fin = fleet_inventory_ =
      fleet->add_subcommand("inventory", "Search, and read the settings of every device found");
  fin->add_flag("--json", fi->json, "Print a JSON array of devices with their settings");
  fin->add_flag("--csv", fi->csv, "Print CSV: one row per device, one column per setting")
      ->excludes("--json");
  fin->add_option("--interface", fi->interface, "Search on this network interface only");
  fin->add_option("--parallel", fi->parallel, "Devices read at once, 1 to 1024 (default 256)");
  fin->add_option("--search-timeout", fi->searchTimeout, "Seconds to collect replies (default 3)");
  fin->add_option("--timeout", fi->timeout, "Seconds to wait for a device's replies (default 2)");

  FleetFirmwareOptions* ff = &options_->fleetFirmware;
  CLI::App* ffw = fleet_firmware_ = fleet->add_subcommand(
      "firmware", "Upload a firmware image to every device of a YAML inventory and confirm it");
  ffw->add_option("inventory", ff->inventory,
                  "YAML inventory as for fleet apply (only mac is used)")
      ->required();
  ffw->add_option("image", ff->image, "Firmware image file")->required();
  ffw->add_option("--version", ff->version,
                  "The firmware version the image brings, as the devices report it")
      ->required();
  ffw->add_option("--model", ff->model, "Refuse devices that report another model");
  ffw->add_flag("--force", ff->force, "Upgrade devices that report --version already too");
  ffw->add_option("--canary", ff->canary,
                  "Devices upgraded and confirmed before all others (default 1; 0: none)");
  ffw->add_option("--parallel", ff->parallel, "Uploads at once, 1 to 1024 (default 16)");
  ffw->add_option("--max-failures", ff->maxFailures,
                  "Start no new upload once this many failed (default 1)");
  ffw->add_option("--back-within", ff->backWithin,
                  "Seconds a device may take to come back with --version, 1 to 3600 (default 180)");
  ffw->add_option("--search-timeout", ff->searchTimeout,
                  "Seconds to collect discovery replies first (default 3)");
  ffw->add_option("--data-timeout", ff->dataTimeoutMs,
                  "Milliseconds to wait for each chunk's reply (default and most 4000)");
  ffw->add_option("--end-timeout", ff->endTimeoutMs,
                  "Milliseconds to wait for the final reply (default and most 41000)");
  ffw->add_flag("--dry-run", ff->dryRun, "Search and print the plan; send no firmware");
  ffw->add_flag("--json", ff->json, "Print the JSON report instead of the table");
  ffw->add_option("--report", ff->report,
                  "Also write the JSON report into this file (checked before anything is sent)");
  ffw->footer(
      "Searches, then upgrades the canaries, then the others, each confirmed by the version\n"
      "its discovery reply reports once it is back. Exit status: 0 when every device is\n"
      "upgraded or unchanged, 1 when any failed or was not started (each failed one is\n"
      "named on stderr), 2 for bad usage or an inventory or image it cannot use: nothing\n"
      "is sent then.");

  ExportOptions* exportFile = &options_->exportFile;
  CLI::App* e = export_ =
      app.add_subcommand("export", "Save a device's settings in a settings file");
  e->add_option("mac", exportFile->mac, macHelp)->required();
  e->add_option("file", exportFile->file,
                "Settings file to write (replaced whole, or left as it was); "
                "- or /dev/stdout writes to standard output")
      ->required();
  e->add_option("--timeout", exportFile->timeout, "Seconds to wait for the replies (default 2)");

  ImportOptions* importFile = &options_->importFile;
  CLI::App* i = import_ =
      app.add_subcommand("import", "Write a settings file into a device and apply it");
  i->add_option("mac", importFile->mac, macHelp + std::string(" (the MAC in the file is not used)"))
      ->required();
  i->add_option("file", importFile->file, "Settings file to read")->required();
  i->add_option("--timeout", importFile->timeout,
                "Seconds to wait for the acknowledgement (default 5)");

  FirmwareOptions* firmware = &options_->firmware;
  CLI::App* f = firmware_ = app.add_subcommand("firmware", "Upload a firmware image to a device");
  f->add_option("mac", firmware->mac, macHelp)->required();
  f->add_option("image", firmware->image, "Firmware image file")->required();
  f->add_option("--data-timeout", firmware->dataTimeoutMs,
                "Milliseconds to wait for each chunk's reply (default and most 4000)");
  f->add_option("--end-timeout", firmware->endTimeoutMs,
                "Milliseconds to wait for the final reply (default and most 41000)");
  f->add_option("--version", firmware->version,
                "Wait for the device to come back reporting this firmware version");
  f->add_option("--back-within", firmware->backWithin,
                "Seconds the device may take to come back with --version, 1 to 3600 (default 180)");
  f->footer(
      "Exit status: 0 when the device took the image (and, with --version, reports that\n"
      "version again), 1 when it refused it, did not answer, came back with another\n"
      "version or not in time, 2 for bad usage.");
}

int Commands::Run() {
  try {
    if (discover_->parsed()) return Discover(options_->discover);
    if (doctor_->parsed()) return Doctor(options_->doctor);
    if (assign_->parsed()) return Assign(options_->assign);
    if (config_get_->parsed()) return ConfigGet(options_->configGet);
    if (config_set_->parsed()) return ConfigSet(options_->configSet);
    if (config_apply_->parsed()) return ConfigApply(options_->configApply);
    if (fleet_apply_->parsed()) return FleetApply(options_->fleetApply);
    if (fleet_inventory_->parsed()) return FleetInventory(options_->fleetInventory);
    if (fleet_firmware_->parsed()) return FleetFirmware(options_->fleetFirmware);
    if (export_->parsed()) return Export(options_->exportFile);
    if (import_->parsed()) return Import(options_->importFile);
    if (firmware_->parsed()) return Firmware(options_->firmware);
    return kExitUsage;
  } catch (const InventoryError& error) {
    std::cerr << "oxlo: " << ErrorText(error) << "\n";
    return kExitUsage;
  } catch (const UsageError& error) {
    std::cerr << "oxlo: " << ErrorText(error) << "\n";
    return kExitUsage;
  } catch (const std::exception& error) {
    std::cerr << "oxlo: " << ErrorText(error) << "\n";
    return kExitFailure;
  }
}

}  // namespace oxlo::cli
