// Arbitrary datagram sequences (fuzz_support.h SplitDatagrams, framed ones
// addressed to the second of three simulated devices) sent to the
// simulator. It never throws; everything it sends is a framed reply of a
// device it simulates, on the devices' port, that the tool's decoders read
// whole; and whatever it was sent, every device still answers the eleven
// read requests with settings that are whole, but for an 'O' message it
// took as it came (the device keeps its bytes, decodable or not, and
// answers with them).
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "protocol/conversation/firmware_upload.h"
#include "protocol/settings/device_settings.h"
#include "protocol/wire/device_replies.h"
#include "protocol/wire/discovery.h"
#include "protocol/wire/settings_messages.h"
#include "sim/device.h"
#include "sim/simulator.h"

namespace oxlo::fuzz {
namespace {

const char kTool[] = "10.57.0.1";
constexpr std::uint16_t kToolPort = 40000;

bool IsDevice(const sim::Simulator& simulator, const MacField& mac) {
  for (std::size_t i = 0; i < simulator.DeviceCount(); ++i) {
    if (simulator.Device(i).identity.mac == mac) return true;
  }
  return false;
}

void CheckReply(const sim::Simulator& simulator, const sim::Outgoing& out, bool broadcast) {
  OXLO_FUZZ_CHECK(out.copies >= 1 && out.delay.count() == 0);
  if (broadcast) {
    OXLO_FUZZ_CHECK(out.IsBroadcast() && out.port == kDevicePort);
  } else {
    OXLO_FUZZ_CHECK(out.address == kTool && out.port == kToolPort);
  }
  const Bytes& d = out.data;
  OXLO_FUZZ_CHECK(d.size() > 3 && d.back() == kEtx);
  const std::optional<std::uint8_t> code = AcceptDatagram(d);
  OXLO_FUZZ_CHECK(code.has_value());
  // The echo of an 'O' keeps the first byte it came with, which no reader
  // looks at; every reply the device makes starts with STX.
  OXLO_FUZZ_CHECK(d.front() == kStx || *code == code::kOpModeReply);
  const std::optional<MacField> mac = MacOf(d);
  OXLO_FUZZ_CHECK(mac && IsDevice(simulator, *mac));
  if (*code == code::kDiscovery) {
    const std::optional<DeviceRecord> record = ParseDiscoveryReply(d);
    OXLO_FUZZ_CHECK(record.has_value());
    return;
  }
  if (*code == code::kFirmwareReply) {
    const FirmwareReply reply = ParseFirmwareReply(d);  // throws on a bad echo
    OXLO_FUZZ_CHECK(reply.status.has_value());
    return;
  }
  const std::optional<DeviceReply> reply = ParseDeviceReply(d);
  OXLO_FUZZ_CHECK(reply.has_value());
  if (const auto* network = std::get_if<NetworkReply>(&*reply)) {
    OXLO_FUZZ_CHECK(network->Complete().has_value());
  } else if (const auto* can = std::get_if<CanReply>(&*reply)) {
    OXLO_FUZZ_CHECK(can->settings.has_value());
  } else if (const auto* group = std::get_if<FilterGroupReply>(&*reply)) {
    OXLO_FUZZ_CHECK(group->slots.has_value());
  }
}

void CheckSimulator(ByteView d) {
  if (d.empty()) return;
  const bool broadcast = (d[0] & 1) == 0;
  std::vector<sim::DeviceState> devices;
  for (int n = 1; n <= 3; ++n) devices.push_back(sim::GeneratedDevice(n));
  sim::SimulatorOptions options;
  options.replyMode = broadcast ? sim::ReplyMode::kBroadcast : sim::ReplyMode::kUnicast;
  sim::Simulator simulator(std::move(devices), options);
  const MacField target = simulator.Device(1).identity.mac;

  for (const Bytes& datagram : SplitDatagrams(d.subspan(1), target)) {
    for (const sim::Outgoing& out : simulator.Handle(datagram, kTool, kToolPort)) {
      CheckReply(simulator, out, broadcast);
    }
  }

  for (std::size_t i = 0; i < simulator.DeviceCount(); ++i) {
    const MacField mac = simulator.Device(i).identity.mac;
    const std::optional<Bytes>& opModeAsSent = simulator.Device(i).opModeAsSent;
    SettingsCollector collector;
    for (int kind = 0; kind < kReadRequestKindCount; ++kind) {
      const Bytes request = BuildReadRequest(static_cast<ReadRequestKind>(kind), mac);
      for (const sim::Outgoing& out : simulator.Handle(request, kTool, kToolPort)) {
        CheckReply(simulator, out, broadcast);
        OXLO_FUZZ_CHECK(MacOf(out.data) == mac);
        collector.Take(out.data);
        // An 'O' the device took is answered as it came, but for the code.
        if (kind == static_cast<int>(ReadRequestKind::kOperationMode) && opModeAsSent) {
          Bytes sent = *opModeAsSent;
          sent[kCodeOffset] = code::kOpModeReply;
          OXLO_FUZZ_CHECK(out.data == sent);
        }
      }
    }
    // Only such an 'O', holding what the tool cannot read, leaves a part out.
    const std::vector<std::string> missing = collector.Missing();
    OXLO_FUZZ_CHECK(
        missing.empty() ||
        (opModeAsSent && missing == std::vector<std::string>{"operation mode (unreadable reply)"}));
  }
}

}  // namespace
}  // namespace oxlo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  oxlo::fuzz::CheckSimulator(oxlo::ByteView(data, size));
  return 0;
}
