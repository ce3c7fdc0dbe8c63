// oxlo-sim: answers the configuration tool as a set of devices would.
#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "oxlo/version.h"
#include "protocol/wire/fields.h"
#include "sim/datagram_log.h"
#include "sim/device_config.h"
#include "sim/reply_sender.h"
#include "sim/simulator.h"
#include "transport/sockets/endpoint.h"

namespace {

using namespace oxlo;
using namespace oxlo::sim;

constexpr int kUsageError = 2;
constexpr int kRuntimeError = 1;

struct Options {
  int devices = 1;
  std::string macBase;
  std::string config;
  std::string reply = "broadcast";
  double drop = 0.0;
  int delayMs = 0;
  std::string silent;
  std::optional<std::uint32_t> rejectFirmwareAt;
  bool rejectRepeats = false;
  std::optional<std::size_t> firmwareReplySize;
  std::uint32_t cutFirmwareRepliesFrom = 0;
  bool duplicate = false;
  std::string oversize;
  std::size_t floodDiscovery = 0;
  std::optional<std::uint32_t> loseApply;
  std::uint32_t seed = 1;
  std::string log;
  std::string firmwareOut;
  int rebootMs = 0;
  std::optional<std::string> versionAfter;
  int flashMs = 0;
  std::uint16_t port = kDevicePort;
  std::string bind;
};

// Send failures are reported, but a burst of thousands must not flood stderr.
class SendErrorReport {
 public:
  void Report(const std::string& what) {
    const auto count = ++count_;
    if (count <= 10 || count % 1000 == 0) {
      std::fprintf(stderr, "oxlo-sim: send failed (%llu so far): %s\n",
                   static_cast<unsigned long long>(count), what.c_str());
    }
  }

 private:
  std::atomic<std::uint64_t> count_{0};
};

// SIGINT and SIGTERM are taken by sigwait on the main thread; blocking them
// before any thread starts keeps them away from the others.
sigset_t BlockStopSignals() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  return stop;
}

int Run(const Options& options) {
  std::vector<DeviceState> devices;
  SimulatorOptions simulation;
  std::unique_ptr<DatagramLog> log;
  std::optional<Simulator> simulator;
  try {
    if (!options.config.empty()) {
      devices = LoadDeviceFile(options.config);
    } else {
      MacField base = kGeneratedMacBase;
      if (!options.macBase.empty()) {
        const auto parsed = ParseMacText(options.macBase);
        if (!parsed) {
          throw std::runtime_error("--mac-base: '" + options.macBase +
                                   "' is not a MAC like 02-00-00-00-10-00");
        }
        base = *parsed;
      }
      for (int i = 1; i <= options.devices; ++i) devices.push_back(GeneratedDevice(i, base));
    }
    simulation.replyMode = options.reply == "unicast" ? ReplyMode::kUnicast : ReplyMode::kBroadcast;
    simulation.seed = options.seed;
    simulation.faults.dropProbability = options.drop;
    simulation.faults.delay = std::chrono::milliseconds(options.delayMs);
    simulation.faults.silentCodes = ParseCodeList(options.silent);
    simulation.faults.rejectFirmwareAt = options.rejectFirmwareAt;
    simulation.faults.rejectRepeatedFirmware = options.rejectRepeats;
    simulation.faults.firmwareReplySize = options.firmwareReplySize;
    simulation.faults.cutFirmwareRepliesFrom = options.cutFirmwareRepliesFrom;
    simulation.faults.duplicate = options.duplicate;
    simulation.faults.oversizeCodes = ParseCodeList(options.oversize);
    simulation.faults.oversizeReplySize = transport::kReceiveBufferSize + 1;
    simulation.faults.floodDiscoveryReplies = options.floodDiscovery;
    simulation.faults.loseApply = options.loseApply;
    simulation.upgrade.reboot = std::chrono::milliseconds(options.rebootMs);
    simulation.upgrade.versionAfter = options.versionAfter;
    simulation.upgrade.flash = std::chrono::milliseconds(options.flashMs);
    if (!options.firmwareOut.empty()) {
      simulation.firmwareDirectory = options.firmwareOut;
      std::filesystem::create_directories(simulation.firmwareDirectory);
      if (!std::filesystem::is_directory(simulation.firmwareDirectory)) {
        throw std::runtime_error(options.firmwareOut + ": not a directory");
      }
    }
    if (!options.log.empty()) log = std::make_unique<DatagramLog>(options.log);
    // Broadcast replies go to the port we serve, as the devices answer on
    // 2057; a system-chosen port (0) cannot be named in advance, so 2057.
    simulation.broadcastPort = options.port != 0 ? options.port : kDevicePort;
    simulator.emplace(std::move(devices), std::move(simulation));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "oxlo-sim: %s\n", error.what());
    return kUsageError;
  }

  const sigset_t stopSignals = BlockStopSignals();

  transport::Endpoint endpoint({transport::Binding{options.bind, options.port}});
  // Replies are broadcasts unless --reply unicast; the option stays on
  // instead of being switched around each send.
  endpoint.SetBroadcastEnabled(true);
  // Thousands of devices answer one broadcast query, and their replies come
  // back to us as well; a deep queue keeps the tool's requests from being lost.
  endpoint.SetSocketReceiveBuffer(transport::kBurstReceiveBuffer);

  SendErrorReport sendErrors;
  ReplySender sender([&endpoint, &sendErrors](const Outgoing& reply) {
    try {
      if (reply.IsBroadcast()) {
        endpoint.Broadcast(reply.data, reply.port);
      } else {
        endpoint.SendTo(reply.address, reply.port, reply.data);
      }
    } catch (const std::exception& error) {
      sendErrors.Report(error.what());
    }
  });

  // Runs on the endpoint's receiving thread, the only thread that touches
  // the simulator and the log; sending is left to the sender's thread.
  endpoint.SetReadHandler([&](const transport::Datagram& datagram) {
    try {
      if (log) log->Record(datagram.sourceAddress, datagram.sourcePort, datagram.data);
      sender.Submit(simulator->Handle(datagram.data, datagram.sourceAddress, datagram.sourcePort,
                                      datagram.destinationAddress));
    } catch (const std::exception& error) {
      std::fprintf(stderr, "oxlo-sim: datagram from %s:%u not handled: %s\n",
                   datagram.sourceAddress.c_str(), datagram.sourcePort, error.what());
    }
  });

  try {
    endpoint.Open();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "oxlo-sim: %s\n", error.what());
    return kRuntimeError;
  }
  // Replies leave from the sender's thread, started only now: the endpoint
  // must be seen open there, or its sends would fail.
  sender.Start();
  std::fprintf(stderr, "oxlo-sim: %zu device(s) on port %u\n", simulator->DeviceCount(),
               static_cast<unsigned>(endpoint.CurrentBinding()->port));
  std::fflush(stderr);

  int signal = 0;
  while (sigwait(&stopSignals, &signal) != 0) {
  }
  // The sender stops first: a send after Close fails.
  sender.Stop();
  endpoint.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  CLI::App app{"oxlo-sim: simulated Oxlo devices answering on UDP"};
  app.set_version_flag("--version", std::string("oxlo-sim ") + oxlo::kVersionText);
  // The usage line names the program, not the path it was started by.
  app.name("oxlo-sim");
  app.add_option("--devices", options.devices, "Number of generated devices")
      ->capture_default_str()
      ->check(CLI::Range(1, oxlo::sim::kMaxGeneratedDevices));
  auto* config = app.add_option("--config", options.config,
                                "JSON file describing the devices (an array of objects)");
  app.get_option("--devices")->excludes(config);
  app.add_option("--mac-base", options.macBase,
                 "Generated device i gets this MAC plus i (default 02-00-00-00-00-00)")
      ->excludes(config);
  app.add_option("--reply", options.reply,
                 "broadcast: to 255.255.255.255 as devices do; unicast: back to the sender")
      ->capture_default_str()
      ->check(CLI::IsMember({"broadcast", "unicast"}));
  app.add_option("--drop", options.drop, "Probability of dropping each reply")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--delay", options.delayMs, "Milliseconds to hold each reply")
      ->capture_default_str()
      ->check(CLI::Range(0, 3600 * 1000));
  app.add_option("--silent", options.silent,
                 "Codes to leave unanswered, e.g. g,a,N or 0x01 (request or reply codes)");
  app.add_option("--reject-firmware-at", options.rejectFirmwareAt,
                 "Refuse the firmware message with this sequence number");
  app.add_flag(
      "--reject-repeats", options.rejectRepeats,
      "Refuse a copy of the firmware message accepted last instead of acknowledging it again");
  auto* cut = app.add_option("--cut-firmware-replies", options.firmwareReplySize,
                             "Cut each firmware reply to this many bytes, the last one ETX "
                             "(10 keeps one digit of the echo)")
                  ->check(CLI::Range(2, 17));
  app.add_option("--cut-firmware-replies-from", options.cutFirmwareRepliesFrom,
                 "Cut only the replies to this sequence number and later ones")
      ->capture_default_str()
      ->needs(cut);
  app.add_flag("--duplicate", options.duplicate, "Send every reply twice");
  app.add_option("--oversize", options.oversize,
                 "Codes whose replies are padded to one byte more than the tool takes, e.g. "
                 "0x13 (request or reply codes)");
  app.add_option("--flood-discovery", options.floodDiscovery,
                 "Answer each discovery query with this many more replies from random MACs")
      ->capture_default_str()
      ->check(CLI::Range(0, 1000000));
  app.add_option("--lose-apply", options.loseApply,
                 "Lose the apply command with this number (1: the first): the settings stay "
                 "stored, not in use, and a late copy of an earlier acknowledgement comes instead")
      ->check(CLI::PositiveNumber);
  app.add_option("--seed", options.seed, "Seed for the drop decisions")->capture_default_str();
  app.add_option("--log", options.log, "Write every received datagram as a JSON line here");
  app.add_option("--firmware-out", options.firmwareOut,
                 "Save accepted firmware images here as <MAC>.bin");
  const auto upgradeTime = CLI::Range(0, static_cast<int>(oxlo::sim::kMaxUpgradeTime.count()));
  app.add_option("--reboot-ms", options.rebootMs,
                 "After an accepted firmware image, answer nothing for this many milliseconds "
                 "(the device reboots)")
      ->capture_default_str()
      ->check(upgradeTime);
  app.add_option("--version-after", options.versionAfter,
                 "Version the discovery reply reports after an accepted firmware image "
                 "(at most 8 characters; default: the version stays)")
      ->check(CLI::Validator(
          [](const std::string& text) {
            return text.size() <= oxlo::sim::kVersionTextMax
                       ? std::string()
                       : "'" + text + "' is longer than " +
                             std::to_string(oxlo::sim::kVersionTextMax) + " characters";
          },
          ""));
  app.add_option("--flash-ms", options.flashMs,
                 "Hold each firmware reply this many milliseconds more, data and end alike "
                 "(the device writes to flash; adds to --delay)")
      ->capture_default_str()
      ->check(upgradeTime);
  app.add_option("--port", options.port, "UDP port to serve (0: chosen by the system)")
      ->capture_default_str();
  app.add_option("--bind", options.bind, "Local address to bind (default: every address)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : kUsageError;
  }
  return Run(options);
}
