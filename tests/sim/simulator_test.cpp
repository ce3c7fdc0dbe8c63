#include "sim/simulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <random>
#include <set>

#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/can_messages.h"
#include "protocol/wire/device_side.h"
#include "protocol/wire/discovery.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/frame.h"
#include "protocol/wire/settings_messages.h"
#include "protocol/wire/text_numbers.h"
#include "sim_test_support.h"
#include "tests/protocol/test_bytes.h"

namespace oxlo::sim {
namespace {

using namespace std::chrono_literals;
using oxlo::testing::CutAndClose;
using oxlo::testing::Hex;
using oxlo::testing::Truncated;
using testing::Image;
using testing::ReaderOver;
using testing::ReadFile;
using testing::TempDir;

const std::string kTool = "10.57.0.1";
constexpr std::uint16_t kToolPort = 40123;

Simulator MakeSimulator(int count, SimulatorOptions options = {}) {
  std::vector<DeviceState> devices;
  for (int i = 1; i <= count; ++i) devices.push_back(GeneratedDevice(i));
  return Simulator(std::move(devices), std::move(options));
}

MacField MacOfDevice(int number) {
  return GeneratedDevice(number).identity.mac;
}

std::vector<Outgoing> Send(Simulator& simulator, const Bytes& datagram) {
  return simulator.Handle(datagram, kTool, kToolPort);
}

Bytes OnlyReply(Simulator& simulator, const Bytes& request) {
  const std::vector<Outgoing> replies = Send(simulator, request);
  EXPECT_EQ(replies.size(), 1u) << "request " << BytesToHex(request);
  return replies.empty() ? Bytes{} : replies.front().data;
}

Bytes WithCode(Bytes message, std::uint8_t code) {
  message[kCodeOffset] = code;
  return message;
}

ReadRequestKind KindAt(int k) {
  return static_cast<ReadRequestKind>(k);
}

// All a device tells the tool: its discovery reply, then its answer to each
// of the eleven read requests.
std::vector<Bytes> Snapshot(Simulator& simulator, const MacField& mac) {
  std::vector<Bytes> view;
  for (const Outgoing& reply : Send(simulator, BuildDiscoveryQuery())) {
    if (MacOf(reply.data) == mac) view.push_back(reply.data);
  }
  EXPECT_EQ(view.size(), 1u);
  for (int k = 0; k < kReadRequestKindCount; ++k) {
    view.push_back(OnlyReply(simulator, BuildReadRequest(KindAt(k), mac)));
  }
  return view;
}

std::vector<std::vector<Bytes>> SnapshotAll(Simulator& simulator) {
  std::vector<std::vector<Bytes>> all;
  for (std::size_t i = 0; i < simulator.DeviceCount(); ++i) {
    all.push_back(Snapshot(simulator, simulator.Device(i).identity.mac));
  }
  return all;
}

Bytes DiscoveryReplyOf(Simulator& simulator, const MacField& mac) {
  return Snapshot(simulator, mac)[0];
}

// Drives a whole upload as the tool does; a missing reply is a time-out.
FirmwareUpload::StateKind Upload(Simulator& simulator, const MacField& mac, const Bytes& image) {
  FirmwareUpload upload(mac, ReaderOver(image));
  while (upload.State() == FirmwareUpload::kReadyToSend) {
    const std::vector<Outgoing> replies = Send(simulator, upload.NextMessage());
    if (replies.empty()) {
      upload.OnTimeout();
    } else {
      upload.OnReply(replies.front().data);
    }
  }
  return upload.State();
}

}  // namespace

TEST(SimulatorDiscovery, EveryDeviceAnswersTheQueryWithItsIdentity) {
  Simulator simulator = MakeSimulator(3);
  const std::vector<Outgoing> replies = Send(simulator, BuildDiscoveryQuery());
  ASSERT_EQ(replies.size(), 3u);
  for (std::size_t i = 0; i < replies.size(); ++i) {
    const DeviceIdentity& device = simulator.Device(i).identity;
    const auto record = ParseDiscoveryReply(replies[i].data);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->mac, MacToText(device.mac));
    EXPECT_EQ(record->ip, Ipv4ToText(device.ip));
    EXPECT_EQ(record->mask, Ipv4ToText(device.mask));
    EXPECT_EQ(record->gateway, Ipv4ToText(device.gateway));
    EXPECT_EQ(record->name, device.name);
    EXPECT_EQ(record->model, device.model);
    EXPECT_EQ(record->version, device.version);
    EXPECT_TRUE(replies[i].IsBroadcast());
    EXPECT_EQ(replies[i].port, kDevicePort);
  }
}

// Only the host a query was sent to gets it: a device holding that address
// answers alone; a broadcast, or an address no device holds (the link's own),
// reaches every device.
TEST(SimulatorDiscovery, AQueryToADevicesAddressIsAnsweredByThatDeviceAlone) {
  Simulator simulator = MakeSimulator(3);
  const std::string second = Ipv4ToText(simulator.Device(1).identity.ip);
  const struct {
    std::string destination;
    std::size_t answers;
  } cases[] = {{second, 1}, {"255.255.255.255", 3}, {"10.57.0.2", 3}, {"", 3}};
  for (const auto& c : cases) {
    const std::vector<Outgoing> replies =
        simulator.Handle(BuildDiscoveryQuery(), kTool, kToolPort, c.destination);
    ASSERT_EQ(replies.size(), c.answers) << c.destination;
    if (c.answers == 1) {
      EXPECT_EQ(ParseDiscoveryReply(replies[0].data)->mac,
                MacToText(simulator.Device(1).identity.mac));
    }
  }
}

TEST(SimulatorDiscovery, GeneratedDevicesAreDistinctAndRepeatable) {
  std::set<MacField> macs;
  std::set<Ipv4Field> addresses;
  for (int number = 1; number <= kMaxGeneratedDevices; ++number) {
    const DeviceState device = GeneratedDevice(number);
    ASSERT_TRUE(macs.insert(device.identity.mac).second) << number;
    ASSERT_TRUE(addresses.insert(device.identity.ip).second) << number;
    ASSERT_NE(device.identity.ip[3], 0) << number;
    ASSERT_NE(device.identity.ip[3], 255) << number;
  }
  EXPECT_EQ(GeneratedDevice(1).identity.name, "Oxlo-1");
  EXPECT_EQ(MacToText(GeneratedDevice(258).identity.mac), "02-00-00-00-01-02");
  const MacField base{0x02, 0x00, 0x00, 0x00, 0x10, 0x00};
  EXPECT_EQ(MacToText(GeneratedDevice(1, base).identity.mac), "02-00-00-00-10-01");
  const MacField carry{0x02, 0x00, 0x00, 0x00, 0xFF, 0xFF};
  EXPECT_EQ(MacToText(GeneratedDevice(2, carry).identity.mac), "02-00-00-01-00-01");
  EXPECT_EQ(BuildDiscoveryReply(GeneratedDevice(7).identity),
            BuildDiscoveryReply(GeneratedDevice(7).identity));
  EXPECT_THROW(GeneratedDevice(0), std::out_of_range);
  EXPECT_THROW(GeneratedDevice(kMaxGeneratedDevices + 1), std::out_of_range);
}

TEST(SimulatorDiscovery, TwoDevicesWithOneMacAreRefused) {
  std::vector<DeviceState> devices = {GeneratedDevice(1), GeneratedDevice(2)};
  devices[1].identity.mac = devices[0].identity.mac;
  EXPECT_THROW(Simulator(devices, {}), std::invalid_argument);
}

// A settings message is stored silently and read back byte for byte, with
// the reply's code; other blocks and other devices keep their values.
TEST(SimulatorSettings, ReadRequestsReturnWhatWasStored) {
  const MacField mac = MacOfDevice(2);
  const NetworkSettings network{1,
                                {192, 168, 5, 20},
                                {192, 168, 5, 1},
                                {255, 255, 255, 0},
                                {8, 8, 4, 4},
                                "Pr\xC3\xBC"
                                "fstand",
                                1,
                                0x5A};
  const PortSettings port{0,
                          OperationMode::kUdpClient,
                          5000,
                          "LINE-A",
                          kPortTypeModem,
                          {192, 168, 5, 99},
                          6000,
                          30,
                          15,
                          true};
  PortSettings unfilled = port;
  unfilled.portType = kPortTypeNone;
  NetworkSettings threePorts = network;
  threePorts.portCount = 3;

  struct Case {
    std::string what;
    Bytes message;
    ReadRequestKind read;
    Bytes expectedReply;
  };
  std::vector<Case> cases = {
      {"network", BuildNetworkMessage(mac, network), ReadRequestKind::kNetwork, {}},
      {"operation mode", BuildOpModeMessage(mac, port), ReadRequestKind::kOperationMode, {}},
      {"operation mode, row never filled",
       BuildOpModeMessage(mac, unfilled),
       ReadRequestKind::kOperationMode,
       {}},
      {"CAN",
       BuildCanSettings(mac, 9, kIdFormat29Bit, "1ABCDEF0", "1FFFFFFF"),
       ReadRequestKind::kCan,
       {}},
  };
  Bytes modeCodeFive = BuildOpModeMessage(mac, port);
  modeCodeFive[9] = 5;  // reads as COM_Redirector, but the device keeps the code
  cases.push_back(
      {"operation mode, mode code 5", modeCodeFive, ReadRequestKind::kOperationMode, {}});
  Bytes networkReply = WithCode(BuildNetworkMessage(mac, threePorts), code::kNetworkReply);
  networkReply[78] = 1;  // the device has one port whatever it was told
  cases.push_back({"network, port count 3", BuildNetworkMessage(mac, threePorts),
                   ReadRequestKind::kNetwork, networkReply});
  for (int group = 0; group < kFilterGroupCount; ++group) {
    const int number = group + 1;
    const std::string g = std::to_string(number);
    cases.push_back(
        {"filter group " + g,
         BuildFilterGroup(mac, group, {1, 2, 0, number}, {"7F" + g, "1234567" + g, "0", g + "00"}),
         FilterGroupRequest(group),
         {}});
  }

  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.expectedReply.empty()) c.expectedReply = WithCode(c.message, ReplyCode(c.read));
    Simulator simulator = MakeSimulator(3);
    const auto before = SnapshotAll(simulator);

    EXPECT_TRUE(Send(simulator, c.message).empty());
    EXPECT_EQ(OnlyReply(simulator, BuildReadRequest(c.read, mac)), c.expectedReply);

    const auto after = SnapshotAll(simulator);
    for (std::size_t device = 0; device < after.size(); ++device) {
      for (std::size_t k = 0; k < after[device].size(); ++k) {
        const bool changed = device == 1 && k == static_cast<std::size_t>(c.read) + 1;
        if (!changed) {
          EXPECT_EQ(after[device][k], before[device][k]) << device << "/" << k;
        }
      }
    }
  }
}

TEST(SimulatorSettings, StoredOperationModeIsReadableAsSettings) {
  Simulator simulator = MakeSimulator(1);
  const MacField mac = MacOfDevice(1);
  const PortSettings port{
      0, OperationMode::kTcpClient, 4002, "X", kPortTypeData, {10, 0, 0, 9}, 502, 1, 2, false};
  Send(simulator, BuildOpModeMessage(mac, port));
  EXPECT_EQ(simulator.Device(0).port, port);

  PortSettings unfilled = port;
  unfilled.portType = kPortTypeNone;
  unfilled.localPort = 9999;
  Send(simulator, BuildOpModeMessage(mac, unfilled));
  EXPECT_EQ(simulator.Device(0).port, port) << "an undecodable row leaves the last decoded one";
  EXPECT_EQ(
      ParseOpModeReply(OnlyReply(simulator, BuildReadRequest(ReadRequestKind::kOperationMode, mac)))
          .localPort,
      9999);
}

TEST(SimulatorAddressAssignment, ChangesOnlyTheAddressedDevice) {
  Simulator simulator = MakeSimulator(3);
  const MacField mac = MacOfDevice(2);
  const auto before = SnapshotAll(simulator);
  const NetworkSettings networkBefore = simulator.Device(1).network;

  EXPECT_TRUE(Send(simulator, BuildAddressAssignment(MacToText(mac), "192.168.7.7", "255.255.0.0",
                                                     "192.168.7.1", "Linie 2"))
                  .empty());

  const auto record = ParseDiscoveryReply(DiscoveryReplyOf(simulator, mac));
  ASSERT_TRUE(record);
  EXPECT_EQ(record->ip, "192.168.7.7");
  EXPECT_EQ(record->mask, "255.255.0.0");
  EXPECT_EQ(record->gateway, "192.168.7.1");
  EXPECT_EQ(record->name, "Linie 2");

  const auto network =
      ParseNetworkReply(OnlyReply(simulator, BuildReadRequest(ReadRequestKind::kNetwork, mac)))
          .Complete();
  ASSERT_TRUE(network);
  NetworkSettings expected = networkBefore;
  expected.address = {192, 168, 7, 7};
  expected.subnetMask = {255, 255, 0, 0};
  expected.gateway = {192, 168, 7, 1};
  expected.name = "Linie 2";
  EXPECT_EQ(*network, expected);

  const auto after = SnapshotAll(simulator);
  EXPECT_EQ(after[0], before[0]);
  EXPECT_EQ(after[2], before[2]);
}

TEST(SimulatorApply, AcknowledgesAndTakesUpTheNetworkSettingsSent) {
  Simulator simulator = MakeSimulator(2);
  const MacField mac = MacOfDevice(1);
  NetworkSettings network = simulator.Device(0).network;
  network.address = {10, 57, 0, 42};
  network.name = "Renamed";
  Send(simulator, BuildNetworkMessage(mac, network));
  EXPECT_EQ(ParseDiscoveryReply(DiscoveryReplyOf(simulator, mac))->ip, "10.57.0.101")
      << "settings wait for the apply command";

  EXPECT_EQ(OnlyReply(simulator, BuildApplyCommand(mac)), BuildApplyAck(mac));
  const auto record = ParseDiscoveryReply(DiscoveryReplyOf(simulator, mac));
  EXPECT_EQ(record->ip, "10.57.0.42");
  EXPECT_EQ(record->name, "Renamed");
  EXPECT_EQ(ParseDiscoveryReply(DiscoveryReplyOf(simulator, MacOfDevice(2)))->ip, "10.57.0.102");
}

// The second apply command is lost; an old acknowledgement comes late in
// its place, and the name written stays stored, not in use.
TEST(SimulatorFaults, ALostApplyKeepsTheSettingsStoredAndALateOldAcknowledgementComes) {
  SimulatorOptions options;
  options.faults.loseApply = 2;
  Simulator simulator = MakeSimulator(1, options);
  const MacField mac = MacOfDevice(1);
  NetworkSettings network = simulator.Device(0).network;
  for (const char* name : {"First", "Second", "Third"}) {
    network.name = name;
    Send(simulator, BuildNetworkMessage(mac, network));
    const std::vector<Outgoing> ack = Send(simulator, BuildApplyCommand(mac));
    ASSERT_EQ(ack.size(), 1u) << name;
    EXPECT_EQ(ack[0].data, BuildApplyAck(mac)) << name;
    const bool lost = std::string(name) == "Second";
    EXPECT_EQ(ack[0].delay > std::chrono::milliseconds(0), lost) << name;
    EXPECT_EQ(
        ParseNetworkReply(OnlyReply(simulator, BuildReadRequest(ReadRequestKind::kNetwork, mac)))
            .name,
        name)
        << "stored";
    EXPECT_EQ(ParseDiscoveryReply(DiscoveryReplyOf(simulator, mac))->name, lost ? "First" : name)
        << "in use";
  }
}

TEST(SimulatorFirmware, AcceptedImagesAreSavedByteForByte) {
  for (std::size_t size : {std::size_t{1}, std::size_t{127}, std::size_t{128}, std::size_t{129},
                           std::size_t{4096}, std::size_t{70001}}) {
    SCOPED_TRACE(size);
    TempDir dir;
    SimulatorOptions options;
    options.firmwareDirectory = dir.Path();
    Simulator simulator = MakeSimulator(2, options);
    const Bytes image = Image(size);
    EXPECT_EQ(Upload(simulator, MacOfDevice(2), image), FirmwareUpload::kSucceeded);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"02-00-00-00-00-02.bin"});
    EXPECT_EQ(ReadFile(dir.Path() / "02-00-00-00-00-02.bin"), image);
  }
}

TEST(SimulatorFirmware, InterleavedUploadsToTwoDevicesStayApart) {
  TempDir dir;
  SimulatorOptions options;
  options.firmwareDirectory = dir.Path();
  Simulator simulator = MakeSimulator(2, options);
  const Bytes first = Image(1000, 1);
  const Bytes second = Image(700, 2);
  FirmwareUpload a(MacOfDevice(1), ReaderOver(first));
  FirmwareUpload b(MacOfDevice(2), ReaderOver(second));
  while (a.State() == FirmwareUpload::kReadyToSend || b.State() == FirmwareUpload::kReadyToSend) {
    for (FirmwareUpload* upload : {&a, &b}) {
      if (upload->State() != FirmwareUpload::kReadyToSend) continue;
      upload->OnReply(OnlyReply(simulator, upload->NextMessage()));
    }
  }
  EXPECT_EQ(a.State(), FirmwareUpload::kSucceeded);
  EXPECT_EQ(b.State(), FirmwareUpload::kSucceeded);
  EXPECT_EQ(ReadFile(dir.Path() / "02-00-00-00-00-01.bin"), first);
  EXPECT_EQ(ReadFile(dir.Path() / "02-00-00-00-00-02.bin"), second);
}

TEST(SimulatorFirmware, RefusalsReachTheToolAndKeepNoImage) {
  const MacField mac = MacOfDevice(1);
  const Bytes image = Image(300);
  struct Case {
    const char* what;
    std::optional<std::uint32_t> rejectAt;
    std::vector<Bytes> messages;  // the last one is refused
    std::uint32_t echo;
    FirmwareStatus status;
  };
  const Bytes chunk0 = BuildFirmwareData(mac, 0, std::span(image).first(128));
  Bytes badChecksum = BuildFirmwareData(mac, 1, std::span(image).subspan(128, 128));
  badChecksum[badChecksum.size() - 2] ^= 0x40;  // a data byte damaged on the way
  const Case cases[] = {
      {"reject at 1",
       1,
       {chunk0, BuildFirmwareData(mac, 1, std::span(image).subspan(128, 128))},
       1,
       FirmwareStatus::kRejectedOnRequest},
      {"reject at the end message",
       1,
       {BuildFirmwareEnd(mac, 1, 0, 0)},
       1,
       FirmwareStatus::kRejectedOnRequest},
      {"wrong chunk checksum",
       std::nullopt,
       {chunk0, badChecksum},
       1,
       FirmwareStatus::kChunkChecksum},
      {"sequence skips",
       std::nullopt,
       {chunk0, BuildFirmwareData(mac, 2, std::span(image).subspan(128, 128))},
       2,
       FirmwareStatus::kOutOfOrder},
      {"end with wrong length",
       std::nullopt,
       {chunk0, BuildFirmwareEnd(mac, 1, 127, FirmwareChecksum::Of(std::span(image).first(128)))},
       1,
       FirmwareStatus::kImageMismatch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    SimulatorOptions options;
    options.firmwareDirectory = dir.Path();
    options.faults.rejectFirmwareAt = c.rejectAt;
    Simulator simulator = MakeSimulator(1, options);
    Bytes reply;
    for (const Bytes& message : c.messages) reply = OnlyReply(simulator, message);
    EXPECT_EQ(reply, BuildFirmwareReply(mac, c.echo, static_cast<std::uint8_t>(c.status)));
    EXPECT_EQ(EvaluateFirmwareReply(ParseFirmwareReply(reply), c.echo), ReplyVerdict::kRejected);
    EXPECT_TRUE(dir.Entries().empty());
  }

  SimulatorOptions rejectAtTwo;
  rejectAtTwo.faults.rejectFirmwareAt = 2;
  Simulator simulator = MakeSimulator(1, rejectAtTwo);
  EXPECT_EQ(Upload(simulator, mac, image), FirmwareUpload::kFailed);
  // The refusal ended that transfer; one that stops short of sequence 2 passes.
  EXPECT_EQ(Upload(simulator, mac, Image(100)), FirmwareUpload::kSucceeded);
}

// Each message reaches the device twice, as when the tool sends from two
// addresses on one network; the reply to the second copy arrives while the
// next message is in flight.
TEST(SimulatorFirmware, EachMessageTwiceStillGivesTheWholeImage) {
  const MacField mac = MacOfDevice(1);
  const Bytes image = Image(1000);
  for (const bool rejectRepeats : {false, true}) {
    SCOPED_TRACE(rejectRepeats ? "refusing repeats" : "acknowledging repeats");
    TempDir dir;
    SimulatorOptions options;
    options.firmwareDirectory = dir.Path();
    options.faults.rejectRepeatedFirmware = rejectRepeats;
    Simulator simulator = MakeSimulator(1, options);
    FirmwareUpload upload(mac, ReaderOver(image));
    std::optional<Bytes> late;
    while (upload.State() == FirmwareUpload::kReadyToSend) {
      const Bytes message = upload.NextMessage();
      const Bytes first = OnlyReply(simulator, message);
      const Bytes second = OnlyReply(simulator, message);
      EXPECT_EQ(ParseFirmwareReply(second).status,
                static_cast<std::uint8_t>(rejectRepeats ? FirmwareStatus::kRepeated
                                                        : FirmwareStatus::kOk));
      if (late) {
        EXPECT_EQ(upload.OnReply(*late), ReplyVerdict::kIgnored);
      }
      EXPECT_EQ(upload.OnReply(first), ReplyVerdict::kAccepted);
      late = second;
    }
    EXPECT_EQ(upload.State(), FirmwareUpload::kSucceeded);
    EXPECT_EQ(ReadFile(dir.Path() / "02-00-00-00-00-01.bin"), image);
  }
}

TEST(SimulatorFaults, FirmwareRepliesAreCutFromTheChosenSequence) {
  const MacField mac = MacOfDevice(1);
  const Bytes image = Image(2000);  // chunks 0 to 15, the end message 16
  struct Case {
    std::size_t size;
    std::uint32_t from;
    std::uint32_t firstCut;
    const char* cutReply;
  };
  const Case cases[] = {
      {10, 10, 10, "02 66 02 00 00 00 00 01 31 03"},
      {17, 0, 0, "02 66 02 00 00 00 00 01 30 00 00 00 00 00 00 00 03"},
      {17, 16, 16, "02 66 02 00 00 00 00 01 31 36 00 00 00 00 00 00 03"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cutReply);
    SimulatorOptions options;
    options.faults.firmwareReplySize = c.size;
    options.faults.cutFirmwareRepliesFrom = c.from;
    Simulator simulator = MakeSimulator(1, options);
    FirmwareUpload upload(mac, ReaderOver(image));
    for (std::uint32_t sequence = 0; sequence < c.firstCut; ++sequence) {
      const Bytes reply = OnlyReply(simulator, upload.NextMessage());
      ASSERT_EQ(reply, BuildFirmwareReply(mac, sequence, 0x00));
      upload.OnReply(reply);
    }
    const Bytes cut = OnlyReply(simulator, upload.NextMessage());
    EXPECT_EQ(cut, Hex(c.cutReply));
    // However its echo reads, a cut reply fails the upload.
    EXPECT_EQ(upload.OnReply(cut), ReplyVerdict::kRejected);
    EXPECT_EQ(Upload(simulator, mac, image), FirmwareUpload::kFailed);
  }
}

TEST(SimulatorFaults, SilencedCodesGoUnansweredButStillTakeEffect) {
  const MacField mac = MacOfDevice(1);
  struct Case {
    const char* silent;
    Bytes request;
    bool answered;
  };
  const Case cases[] = {
      {"g", BuildDiscoveryQuery(), false},
      {"N", BuildReadRequest(ReadRequestKind::kNetwork, mac), false},
      {"n", BuildReadRequest(ReadRequestKind::kNetwork, mac), false},
      {"N", BuildReadRequest(ReadRequestKind::kOperationMode, mac), true},
      {"0x11", BuildReadRequest(FilterGroupRequest(0), mac), false},
      {"0x01", BuildReadRequest(FilterGroupRequest(0), mac), false},
      {"0x11", BuildReadRequest(FilterGroupRequest(1), mac), true},
      {"g, a ,N", BuildApplyCommand(mac), false},
      {"g,N", BuildApplyCommand(mac), true},
      {"F", BuildFirmwareData(mac, 0, Image(10)), false},
      {"c", BuildReadRequest(ReadRequestKind::kCan, mac), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.silent + (" / " + BytesToHex(c.request)));
    SimulatorOptions options;
    options.faults.silentCodes = ParseCodeList(c.silent);
    Simulator simulator = MakeSimulator(1, options);
    EXPECT_EQ(Send(simulator, c.request).size(), c.answered ? 1u : 0u);
  }

  SimulatorOptions options;
  options.faults.silentCodes = ParseCodeList("a");
  Simulator simulator = MakeSimulator(1, options);
  NetworkSettings network = simulator.Device(0).network;
  network.address = {10, 57, 0, 77};
  Send(simulator, BuildNetworkMessage(mac, network));
  EXPECT_TRUE(Send(simulator, BuildApplyCommand(mac)).empty());
  EXPECT_EQ(simulator.Device(0).identity.ip, (Ipv4Field{10, 57, 0, 77}));
}

TEST(SimulatorFaults, OversizedRepliesKeepTheirStartAndEndInETX) {
  const MacField mac = MacOfDevice(1);
  SimulatorOptions options;
  options.faults.oversizeCodes = ParseCodeList("0x13");
  options.faults.oversizeReplySize = 9000;
  Simulator simulator = MakeSimulator(1, options);
  const Bytes normal = OnlyReply(simulator, BuildReadRequest(FilterGroupRequest(1), mac));
  const Bytes padded = OnlyReply(simulator, BuildReadRequest(FilterGroupRequest(2), mac));
  ASSERT_EQ(padded.size(), 9000u);
  EXPECT_EQ(padded.back(), kEtx);
  EXPECT_EQ(padded[kCodeOffset], 0x13);
  EXPECT_EQ(MacOf(padded), mac);
  EXPECT_LT(normal.size(), 9000u);
}

TEST(SimulatorFaults, AFloodAnswersADiscoveryQueryFromRandomMacs) {
  SimulatorOptions options;
  options.faults.floodDiscoveryReplies = 1000;
  Simulator simulator = MakeSimulator(2, options);
  const std::vector<Outgoing> replies = Send(simulator, BuildDiscoveryQuery());
  ASSERT_EQ(replies.size(), 1002u);
  std::set<std::string> macs;
  for (const Outgoing& reply : replies) {
    const auto record = ParseDiscoveryReply(reply.data);
    ASSERT_TRUE(record);
    macs.insert(record->mac);
  }
  EXPECT_EQ(macs.size(), 1002u);  // the real devices among them
  EXPECT_TRUE(macs.count(MacToText(MacOfDevice(1))));
}

TEST(SimulatorFaults, DuplicateDelayAndDestinationApplyToEveryReply) {
  const MacField mac = MacOfDevice(1);
  const std::vector<Bytes> requests = {BuildDiscoveryQuery(), BuildApplyCommand(mac),
                                       BuildReadRequest(ReadRequestKind::kCan, mac),
                                       BuildFirmwareData(mac, 0, Image(5))};
  struct Case {
    const char* what;
    ReplyMode mode;
    bool duplicate;
    int delayMs;
    std::string address;
    std::uint16_t port;
  };
  const Case cases[] = {
      {"broadcast", ReplyMode::kBroadcast, false, 0, "255.255.255.255", 2057},
      {"unicast, twice, late", ReplyMode::kUnicast, true, 250, kTool, kToolPort},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatorOptions options;
    options.replyMode = c.mode;
    options.faults.duplicate = c.duplicate;
    options.faults.delay = std::chrono::milliseconds(c.delayMs);
    Simulator simulator = MakeSimulator(2, options);
    for (const Bytes& request : requests) {
      for (const Outgoing& reply : Send(simulator, request)) {
        EXPECT_EQ(reply.address, c.address);
        EXPECT_EQ(reply.port, c.port);
        EXPECT_EQ(reply.copies, c.duplicate ? 2 : 1);
        EXPECT_EQ(reply.delay.count(), c.delayMs);
      }
    }
  }
  SimulatorOptions options;
  options.broadcastPort = 3000;
  Simulator simulator = MakeSimulator(1, options);
  EXPECT_EQ(Send(simulator, BuildApplyCommand(mac)).front().port, 3000);
}

TEST(SimulatorFaults, DropsFollowTheProbabilityAndTheSeed) {
  const auto kept = [](double probability, std::uint32_t seed) {
    SimulatorOptions options;
    options.faults.dropProbability = probability;
    options.seed = seed;
    Simulator simulator = MakeSimulator(64, options);
    std::vector<Bytes> macs;
    for (const Outgoing& reply : Send(simulator, BuildDiscoveryQuery())) {
      const auto mac = MacOf(reply.data);
      macs.emplace_back(mac->begin(), mac->end());
    }
    return macs;
  };
  EXPECT_TRUE(kept(1.0, 1).empty());
  EXPECT_EQ(kept(0.0, 1).size(), 64u);
  const auto half = kept(0.5, 7);
  EXPECT_EQ(kept(0.5, 7), half) << "one seed, one outcome";
  EXPECT_NE(kept(0.5, 8), half);
  EXPECT_GT(half.size(), 0u);
  EXPECT_LT(half.size(), 64u);
}

namespace {

using std::chrono::milliseconds;

// A monotonic clock the test moves by hand, so a reboot ends when it says.
class ManualClock {
 public:
  std::function<std::chrono::steady_clock::time_point()> Function() {
    return [this] { return now_; };
  }
  void Advance(milliseconds step) { now_ += step; }

 private:
  std::chrono::steady_clock::time_point now_{std::chrono::hours(1)};
};

// Drives an upload as the tool does; returns each reply's status byte.
std::vector<std::uint8_t> UploadStatuses(Simulator& simulator, const MacField& mac,
                                         const Bytes& image) {
  std::vector<std::uint8_t> statuses;
  FirmwareUpload upload(mac, ReaderOver(image));
  while (upload.State() == FirmwareUpload::kReadyToSend) {
    const std::vector<Outgoing> replies = Send(simulator, upload.NextMessage());
    if (replies.empty()) {
      upload.OnTimeout();
      continue;
    }
    statuses.push_back(ParseFirmwareReply(replies.front().data).status.value_or(0xFF));
    upload.OnReply(replies.front().data);
  }
  return statuses;
}

// What a device answers at this moment.
struct Heard {
  std::optional<std::string> version;  // from its discovery reply; nullopt: no reply
  std::size_t othersInDiscovery = 0;
  std::size_t commandReplies = 0;  // to a settings read, an apply command, a firmware chunk
};

Heard Listen(Simulator& simulator, const MacField& mac) {
  Heard heard;
  for (const Outgoing& reply : Send(simulator, BuildDiscoveryQuery())) {
    const auto record = ParseDiscoveryReply(reply.data);
    if (!record) continue;
    if (record->mac == MacToText(mac)) {
      heard.version = record->version;
    } else {
      ++heard.othersInDiscovery;
    }
  }
  for (const Bytes& request : {BuildReadRequest(ReadRequestKind::kNetwork, mac),
                               BuildApplyCommand(mac), BuildFirmwareData(mac, 0, Image(20))}) {
    heard.commandReplies += Send(simulator, request).size();
  }
  return heard;
}

}  // namespace

// The whole upgrade as the tool sees it: every reply to the upload (the one
// to an accepted end message included), then silence for the reboot (flash
// time of the end message plus the reboot), then the device is back with the
// version it was given. Device 2 of three is upgraded; the others answer
// throughout. A device file's "firmware" object wins over the options.
TEST(SimulatorUpgrade, AnAcceptedImageRebootsTheDeviceIntoItsNewVersion) {
  constexpr std::uint8_t kOk = 0x00;
  const auto kRejected = static_cast<std::uint8_t>(FirmwareStatus::kRejectedOnRequest);
  const auto kEndRefused = static_cast<std::uint8_t>(FirmwareStatus::kEndRefusedOnRequest);
  const std::string oldVersion = GeneratedDevice(2).identity.version;
  const char* const old = oldVersion.c_str();
  struct Case {
    const char* what;
    // For every device, then this one's own (nullptr, nullopt: not given).
    const char* versionAfter;
    milliseconds reboot;
    milliseconds flash;
    bool refuseEnd;
    const char* ownVersionAfter;
    std::optional<milliseconds> ownReboot;
    std::optional<bool> ownRefuseEnd;
    std::optional<std::uint32_t> rejectAt;
    std::vector<std::uint8_t> statuses;  // 300 bytes: three chunks and the end message
    milliseconds silence;
    const char* versionReported;
  };
  const Case cases[] = {
      {"defaults: no reboot, same version",
       nullptr,
       0ms,
       0ms,
       false,
       nullptr,
       {},
       {},
       {},
       {kOk, kOk, kOk, kOk},
       0ms,
       old},
      {"reboot and new version",
       "2.0.0",
       3000ms,
       0ms,
       false,
       nullptr,
       {},
       {},
       {},
       {kOk, kOk, kOk, kOk},
       3000ms,
       "2.0.0"},
      {"the reboot starts once the end message is in flash",
       "2.0.0",
       3000ms,
       2ms,
       false,
       nullptr,
       {},
       {},
       {},
       {kOk, kOk, kOk, kOk},
       3002ms,
       "2.0.0"},
      {"new version without a reboot",
       "2.1",
       0ms,
       0ms,
       false,
       nullptr,
       {},
       {},
       {},
       {kOk, kOk, kOk, kOk},
       0ms,
       "2.1"},
      {"the device's own reboot and version win",
       "2.0.0",
       3000ms,
       0ms,
       false,
       old,
       1000ms,
       {},
       {},
       {kOk, kOk, kOk, kOk},
       1000ms,
       old},
      {"the device refuses the end message",
       "2.0.0",
       3000ms,
       0ms,
       false,
       nullptr,
       {},
       true,
       {},
       {kOk, kOk, kOk, kEndRefused},
       0ms,
       old},
      {"the device's own refusal is switched off",
       "2.0.0",
       1000ms,
       0ms,
       true,
       nullptr,
       {},
       false,
       {},
       {kOk, kOk, kOk, kOk},
       1000ms,
       "2.0.0"},
      {"an image refused mid-way",
       "2.0.0",
       3000ms,
       0ms,
       false,
       nullptr,
       {},
       {},
       1,
       {kOk, kRejected},
       0ms,
       old},
  };
  const MacField mac = MacOfDevice(2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ManualClock clock;
    SimulatorOptions options;
    options.clock = clock.Function();
    if (c.versionAfter) options.upgrade.versionAfter = c.versionAfter;
    options.upgrade.reboot = c.reboot;
    options.upgrade.flash = c.flash;
    options.upgrade.refuseEnd = c.refuseEnd;
    options.faults.rejectFirmwareAt = c.rejectAt;
    std::vector<DeviceState> devices = {GeneratedDevice(1), GeneratedDevice(2), GeneratedDevice(3)};
    if (c.ownVersionAfter) devices[1].upgrade.versionAfter = c.ownVersionAfter;
    devices[1].upgrade.reboot = c.ownReboot;
    devices[1].upgrade.refuseEnd = c.ownRefuseEnd;
    Simulator simulator(std::move(devices), options);

    EXPECT_EQ(UploadStatuses(simulator, mac, Image(300)), c.statuses);
    if (c.silence > 0ms) {
      for (const milliseconds at : {0ms, c.silence - 1ms}) {
        SCOPED_TRACE("rebooting, " + std::to_string(at.count()) + " ms after the end message");
        const Heard heard = Listen(simulator, mac);
        EXPECT_EQ(heard.version, std::nullopt);
        EXPECT_EQ(heard.othersInDiscovery, 2u);
        EXPECT_EQ(heard.commandReplies, 0u);
        clock.Advance(c.silence - 1ms - at);
      }
      clock.Advance(1ms);
    }
    const Heard heard = Listen(simulator, mac);
    EXPECT_EQ(heard.version, c.versionReported);
    EXPECT_EQ(heard.othersInDiscovery, 2u);
    EXPECT_EQ(heard.commandReplies, 3u);
    // A second image comes back the same way; nothing the device ignored
    // while rebooting started a transfer.
    EXPECT_EQ(UploadStatuses(simulator, mac, Image(300)), c.statuses);
  }
}

// The device takes in nothing while rebooting: an address, settings or a
// copy of the end message sent then leave no trace.
TEST(SimulatorUpgrade, WhatComesDuringTheRebootIsLost) {
  ManualClock clock;
  SimulatorOptions options;
  options.clock = clock.Function();
  options.upgrade.reboot = 500ms;
  Simulator simulator = MakeSimulator(1, options);
  const MacField mac = MacOfDevice(1);
  const Bytes image = Image(100);
  ASSERT_EQ(Upload(simulator, mac, image), FirmwareUpload::kSucceeded);
  const Bytes end = BuildFirmwareEnd(mac, 1, 100, FirmwareChecksum::Of(image));
  const std::vector<Bytes> lost = {
      BuildAddressAssignment(MacToText(mac), "10.57.0.99", "255.255.255.0", "10.57.0.1", "Lost"),
      BuildNetworkMessage(mac, GeneratedDevice(9).network), end};
  for (const Bytes& datagram : lost) EXPECT_TRUE(Send(simulator, datagram).empty());
  clock.Advance(500ms);
  EXPECT_EQ(Snapshot(simulator, mac), [&] {
    Simulator fresh = MakeSimulator(1);
    return Snapshot(fresh, mac);
  }());
  // The copy of the end message that came while it was down did not start a
  // second reboot, and an answered copy now does not either.
  EXPECT_EQ(OnlyReply(simulator, end), BuildFirmwareReply(mac, 1, 0x00));
  EXPECT_EQ(Send(simulator, BuildDiscoveryQuery()).size(), 1u);
}

// Flash time holds every firmware reply, data and end alike, on top of the
// --delay every reply gets; other replies keep the --delay alone. The hold
// belongs to each reply: 200 devices flashing at once each wait their own
// time, none behind another's.
TEST(SimulatorUpgrade, FlashTimeHoldsFirmwareRepliesOnly) {
  struct Case {
    const char* what;
    milliseconds everyDevice;
    std::optional<milliseconds> thisDevice;
    milliseconds delay;
    milliseconds firmwareDelay;
  };
  const Case cases[] = {
      {"none", 0ms, std::nullopt, 0ms, 0ms},
      {"process-wide", 2ms, std::nullopt, 0ms, 2ms},
      {"added to the delay", 2ms, std::nullopt, 100ms, 102ms},
      {"the device's own", 2ms, 7ms, 0ms, 7ms},
      {"the device's own, none", 2ms, 0ms, 10ms, 10ms},
  };
  const MacField mac = MacOfDevice(1);
  const Bytes image = Image(300);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatorOptions options;
    options.upgrade.flash = c.everyDevice;
    options.faults.delay = c.delay;
    std::vector<DeviceState> devices = {GeneratedDevice(1)};
    devices[0].upgrade.flash = c.thisDevice;
    Simulator simulator(std::move(devices), options);

    FirmwareUpload upload(mac, ReaderOver(image));
    int firmwareReplies = 0;
    while (upload.State() == FirmwareUpload::kReadyToSend) {
      const std::vector<Outgoing> replies = Send(simulator, upload.NextMessage());
      ASSERT_EQ(replies.size(), 1u);
      EXPECT_EQ(replies[0].delay, c.firmwareDelay);
      upload.OnReply(replies[0].data);
      ++firmwareReplies;
    }
    EXPECT_EQ(upload.State(), FirmwareUpload::kSucceeded);
    EXPECT_EQ(firmwareReplies, 4);
    for (const Bytes& request : {BuildDiscoveryQuery(), BuildApplyCommand(mac),
                                 BuildReadRequest(ReadRequestKind::kCan, mac)}) {
      const std::vector<Outgoing> replies = Send(simulator, request);
      ASSERT_EQ(replies.size(), 1u);
      EXPECT_EQ(replies[0].delay, c.delay) << BytesToHex(request);
    }
  }

  SimulatorOptions options;
  options.upgrade.flash = 2ms;
  Simulator simulator = MakeSimulator(200, options);
  std::vector<FirmwareUpload> uploads;
  for (int number = 1; number <= 200; ++number) {
    uploads.emplace_back(MacOfDevice(number), ReaderOver(image));
  }
  for (bool busy = true; busy;) {
    busy = false;
    for (FirmwareUpload& upload : uploads) {
      if (upload.State() != FirmwareUpload::kReadyToSend) continue;
      busy = true;
      const std::vector<Outgoing> replies = Send(simulator, upload.NextMessage());
      ASSERT_EQ(replies.size(), 1u);
      ASSERT_EQ(replies[0].delay, 2ms);
      upload.OnReply(replies[0].data);
    }
  }
  for (const FirmwareUpload& upload : uploads) {
    EXPECT_EQ(upload.State(), FirmwareUpload::kSucceeded);
  }
}

// The simulator hears its own broadcast replies; none may start a reply or
// change a device.
TEST(SimulatorHostileInput, OwnRepliesComingBackAreIgnored) {
  TempDir dir;
  SimulatorOptions options;
  options.firmwareDirectory = dir.Path();
  Simulator simulator = MakeSimulator(2, options);
  const MacField mac = MacOfDevice(1);
  std::vector<Bytes> echoes = Snapshot(simulator, mac);
  echoes.push_back(OnlyReply(simulator, BuildApplyCommand(mac)));
  echoes.push_back(OnlyReply(simulator, BuildFirmwareData(mac, 0, Image(40))));
  const auto before = SnapshotAll(simulator);
  for (const Bytes& echo : echoes) {
    EXPECT_TRUE(Send(simulator, echo).empty()) << BytesToHex(echo);
  }
  EXPECT_EQ(SnapshotAll(simulator), before);
}

TEST(SimulatorHostileInput, MalformedDatagramsAreIgnored) {
  const MacField mac = MacOfDevice(1);
  const MacField stranger{0x02, 0x00, 0x00, 0x00, 0x00, 0x09};
  std::vector<std::pair<std::string, Bytes>> cases = {
      {"empty", {}},
      {"one byte", Hex("02")},
      {"ETX alone", Hex("03")},
      {"two bytes", Hex("02 03")},
      {"query without ETX", Hex("02 67")},
      {"query, wrong end", Hex("02 67 04")},
      {"query, wrong start", Hex("00 67 03")},
      {"query, one byte more", Hex("02 67 03 03")},
      {"three-byte command", Hex("02 4E 03")},
      {"command cut inside the MAC", Hex("02 4E 02 00 00 00 00 03")},
      {"unknown code", Hex("02 7A 02 00 00 00 00 01 03")},
  };
  const std::vector<std::pair<std::string, std::function<Bytes(const MacField&)>>> messages = {
      {"network read",
       [](const MacField& m) { return BuildReadRequest(ReadRequestKind::kNetwork, m); }},
      {"apply", [](const MacField& m) { return BuildApplyCommand(m); }},
      {"network",
       [](const MacField& m) { return BuildNetworkMessage(m, GeneratedDevice(9).network); }},
      {"operation mode",
       [](const MacField& m) {
         return BuildOpModeMessage(
             m, PortSettings{0, OperationMode::kUdpServer, 1, "z", 1, {}, 2, 3, 4, true});
       }},
      {"CAN", [](const MacField& m) { return BuildCanSettings(m, 1, 2, "12345678", "FF"); }},
      {"filter group",
       [](const MacField& m) {
         return BuildFilterGroup(m, 2, {1, 1, 1, 1}, {"1", "2", "3", "4"});
       }},
      {"address",
       [](const MacField& m) {
         return BuildAddressAssignment(MacToText(m), "1.2.3.4", "255.0.0.0", "1.1.1.1", "n");
       }},
      {"firmware data", [](const MacField& m) { return BuildFirmwareData(m, 0, Image(100)); }},
      {"firmware end", [](const MacField& m) { return BuildFirmwareEnd(m, 0, 0, 4294967295u); }},
  };
  for (const auto& [what, build] : messages) {
    const Bytes message = build(mac);
    Bytes noEtx = message;
    noEtx.back() = 0x00;
    cases.emplace_back(what + " without ETX", noEtx);
    cases.emplace_back(what + " to an unknown MAC", build(stranger));
    if (message.size() > kShortCommandSize) {
      Bytes longer = message;
      longer.insert(longer.end() - 1, 0x00);
      cases.emplace_back(what + " one byte long", longer);
    }
    for (std::size_t size = 0; size < message.size(); ++size) {
      // A cut that leaves a read request's length is a read request.
      if (size != kShortCommandSize) {
        cases.emplace_back(what + " cut and closed at " + std::to_string(size),
                           CutAndClose(message, size));
      }
      cases.emplace_back(what + " cut at " + std::to_string(size), Truncated(message, size));
    }
  }

  Simulator simulator = MakeSimulator(2);
  const auto before = SnapshotAll(simulator);
  for (const auto& [what, datagram] : cases) {
    const auto replies = Send(simulator, datagram);
    const bool readRequest = datagram.size() == kShortCommandSize && AcceptDatagram(datagram);
    if (!readRequest) {
      EXPECT_TRUE(replies.empty()) << what;
    }
  }
  EXPECT_EQ(SnapshotAll(simulator), before);
}

TEST(SimulatorHostileInput, RandomDatagramsNeverBreakIt) {
  TempDir dir;
  SimulatorOptions options;
  options.firmwareDirectory = dir.Path();
  Simulator simulator = MakeSimulator(3, options);
  const MacField mac = MacOfDevice(2);
  const std::uint8_t codes[] = {'g', 'S', 'N', 'O', 'C', 'A', 'F', 1, 4, 8, 'n', 0x11};
  std::mt19937 random(2057);
  for (int round = 0; round < 20000; ++round) {
    Bytes datagram(random() % 200);
    for (std::uint8_t& b : datagram) b = static_cast<std::uint8_t>(random());
    // Half of them are framed for a real device, so they get past the frame checks.
    if (round % 2 == 0 && datagram.size() >= 9) {
      datagram[0] = kStx;
      datagram[1] = codes[random() % std::size(codes)];
      std::copy(mac.begin(), mac.end(), datagram.begin() + 2);
      datagram.back() = kEtx;
    }
    EXPECT_NO_THROW(Send(simulator, datagram));
  }
  EXPECT_EQ(Send(simulator, BuildDiscoveryQuery()).size(), 3u);
}

}  // namespace oxlo::sim
