#include "protocol/wire/settings_messages.h"

#include <gtest/gtest.h>

#include "protocol/wire/device_side.h"
#include "protocol/wire/fields.h"
#include "test_bytes.h"

namespace oxlo {
namespace {

using testing::Ascii;
using testing::Concat;
using testing::CutAndClose;
using testing::Hex;
using testing::Zeros;

const MacField kMac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

NetworkSettings SampleNetwork() {
  NetworkSettings s;
  s.networkType = 1;
  s.address = {192, 168, 0, 10};
  s.gateway = {192, 168, 0, 1};
  s.subnetMask = {255, 255, 255, 0};
  s.dns = {8, 8, 4, 4};
  s.name = "Press hall";
  s.portCount = 1;
  s.echoByte = 0x5A;
  return s;
}

PortSettings SamplePort() {
  PortSettings p;
  p.portIndex = 0;
  p.mode = OperationMode::kUdpServer;
  p.localPort = 2057;
  p.alias = "Port A";
  p.portType = kPortTypeModem;
  p.targetAddress = {10, 0, 0, 7};
  p.targetPort = 80;
  p.alive = 30;
  p.latency = 300;
  p.noDelay = true;
  return p;
}

TEST(ReadRequest, CarriesTheKindsCodeAndTheMac) {
  struct Case {
    ReadRequestKind kind;
    std::uint8_t request;
    std::uint8_t reply;
  };
  for (const Case& c :
       {Case{ReadRequestKind::kNetwork, 0x4E, 0x6E},
        Case{ReadRequestKind::kOperationMode, 0x4F, 0x6F}, Case{ReadRequestKind::kCan, 0x43, 0x63},
        Case{ReadRequestKind::kFilterGroupFirst, 0x01, 0x11},
        Case{FilterGroupRequest(4), 0x05, 0x15},
        Case{ReadRequestKind::kFilterGroupLast, 0x08, 0x18}}) {
    EXPECT_EQ(BuildReadRequest(c.kind, kMac),
              Concat({Bytes{0x02, c.request}, Bytes(kMac.begin(), kMac.end()), Hex("03")}));
    EXPECT_EQ(ReplyCode(c.kind), c.reply);
  }
  EXPECT_THROW(BuildReadRequest(static_cast<ReadRequestKind>(11), kMac), std::out_of_range);
  EXPECT_THROW(FilterGroupRequest(-1), std::out_of_range);
  EXPECT_THROW(FilterGroupRequest(8), std::out_of_range);
}

TEST(ApplyCommand, IsNineBytes) {
  EXPECT_EQ(BuildApplyCommand(kMac), Hex("02 41 00 11 22 33 44 55 03"));
}

TEST(NetworkMessage, MatchesTheLayout) {
  NetworkSettings s = SampleNetwork();
  s.name = std::string(15, 'n');
  const Bytes expected =
      Concat({Hex("02 4E 00 11 22 33 44 55 01 C0 A8 00 0A C0 A8 00 01 FF FF FF 00 08 08 04 04"),
              Ascii(std::string(15, 'n')), Zeros(17), Zeros(21), Hex("01 5A 03")});
  const Bytes message = BuildNetworkMessage(kMac, s);
  EXPECT_EQ(message.size(), kNetworkMessageSize);
  EXPECT_EQ(message, expected);
}

TEST(NetworkMessage, NameIsCutToThirtyTwoBytesWithoutPadding) {
  NetworkSettings s = SampleNetwork();
  s.name = std::string(40, 'x');
  const Bytes message = BuildNetworkMessage(kMac, s);
  ASSERT_EQ(message.size(), kNetworkMessageSize);
  EXPECT_EQ(Bytes(message.begin() + 25, message.begin() + 57), Ascii(std::string(32, 'x')));
}

TEST(NetworkReply, RoundTripsAndAlwaysReportsOnePort) {
  for (std::uint8_t portsOnWire : {0, 1, 4}) {
    NetworkSettings sent = SampleNetwork();
    sent.portCount = portsOnWire;
    const NetworkReply reply = ParseNetworkReply(BuildNetworkReply(kMac, sent));
    ASSERT_TRUE(reply.Complete());
    NetworkSettings expected = sent;
    expected.portCount = 1;
    EXPECT_EQ(*reply.Complete(), expected);
    EXPECT_FALSE(reply.stoppedBy);
  }
}

TEST(NetworkReply, NameWithoutTerminatorKeepsWholeCharactersOnly) {
  NetworkSettings sent = SampleNetwork();
  sent.name = std::string(32, 'q');
  EXPECT_EQ(ParseNetworkReply(BuildNetworkReply(kMac, sent)).name, sent.name);
  // The last character cut inside: the prefix survives, so Apply cannot erase the name.
  sent.name = std::string(31, 'q') + "\xC3\xA4";
  EXPECT_EQ(ParseNetworkReply(BuildNetworkReply(kMac, sent)).name, std::string(31, 'q'));
}

TEST(NetworkReply, ShortReplyStopsAtTheFirstMissingField) {
  const Bytes full = BuildNetworkReply(kMac, SampleNetwork());
  struct Case {
    std::size_t size;  // ETX included
    int decoded;       // fields set, in decoding order
  };
  // Fields: type, address, gateway, mask, dns, name, port count, echo.
  for (const Case& c :
       {Case{0, 0}, Case{3, 0}, Case{9, 0}, Case{10, 1}, Case{13, 1}, Case{14, 2}, Case{25, 4},
        Case{26, 5}, Case{57, 5}, Case{58, 6}, Case{79, 6}, Case{80, 7}, Case{81, 8}}) {
    const NetworkReply reply = ParseNetworkReply(CutAndClose(full, c.size));
    const int decoded = reply.networkType.has_value() + reply.address.has_value() +
                        reply.gateway.has_value() + reply.subnetMask.has_value() +
                        reply.dns.has_value() + reply.name.has_value() +
                        reply.portCount.has_value() + reply.echoByte.has_value();
    EXPECT_EQ(decoded, c.decoded) << c.size;
    EXPECT_EQ(reply.stoppedBy.has_value(), c.size < kNetworkMessageSize) << c.size;
    EXPECT_EQ(reply.Complete().has_value(), c.size == kNetworkMessageSize) << c.size;
  }
}

TEST(ModeCodeTable, ReadsEveryCodeAndSendsTheCanonicalOne) {
  const std::optional<OperationMode> byCode[] = {
      OperationMode::kComRedirector, OperationMode::kComRedirector, OperationMode::kTcpServer,
      OperationMode::kTcpClient,     OperationMode::kComRedirector, OperationMode::kComRedirector,
      OperationMode::kUdpServer,     OperationMode::kUdpClient,     std::nullopt};
  for (int code = 0; code <= 8; ++code) EXPECT_EQ(ModeFromCode(code), byCode[code]) << code;
  EXPECT_EQ(ModeFromCode(255), std::nullopt);
  EXPECT_EQ(ModeFromCode(-1), std::nullopt);

  const std::uint8_t sent[] = {1, 2, 3, 6, 7};
  for (std::size_t i = 0; i < kOperationModeNames.size(); ++i) {
    const auto mode = ModeFromName(kOperationModeNames[i]);
    ASSERT_TRUE(mode);
    EXPECT_EQ(ModeToCode(*mode), sent[i]);
    EXPECT_EQ(ModeName(*mode), kOperationModeNames[i]);
  }
  EXPECT_EQ(ModeFromName(""), std::nullopt);
  EXPECT_EQ(ModeFromName("tcp_server"), std::nullopt);
}

TEST(OpModeMessage, MatchesTheLayout) {
  const Bytes expected = Concat({Hex("02 4F 00 11 22 33 44 55 00 06 09 08"), Ascii("Port A"),
                                 Zeros(10), Hex("01 0A 00 00 07 50 00 1E 00 2C 01 01 03")});
  const Bytes message = BuildOpModeMessage(kMac, SamplePort());
  EXPECT_EQ(message.size(), kOpModeMessageSize);
  EXPECT_EQ(message, expected);
}

TEST(OpModeMessage, AliasFillsItsSixteenBytesAndNeverMore) {
  PortSettings p = SamplePort();
  for (const std::string& alias : {std::string(), std::string(16, 'a'), std::string(20, 'b')}) {
    p.alias = alias;
    const Bytes message = BuildOpModeMessage(kMac, p);
    ASSERT_EQ(message.size(), kOpModeMessageSize) << alias;
    Bytes field = Ascii(alias.substr(0, 16));
    field.resize(16, 0x00);
    EXPECT_EQ(Bytes(message.begin() + 12, message.begin() + 28), field);
  }
  p.alias = "\xE4";  // 8-bit bytes travel unconverted
  EXPECT_EQ(BuildOpModeMessage(kMac, p)[12], 0xE4);
}

TEST(OpModeReply, RoundTripsAndNormalisesModeAndNoDelay) {
  const PortSettings sent = SamplePort();
  const OpModeReply reply = ParseOpModeReply(BuildOpModeReply(kMac, sent));
  ASSERT_TRUE(reply.Complete());
  EXPECT_EQ(*reply.Complete(), sent);

  Bytes raw = BuildOpModeReply(kMac, sent);
  raw[9] = 4;   // reads as COM_Redirector...
  raw[39] = 2;  // ...and any non-zero no-delay byte is on
  raw[10] = 0x50;
  raw[11] = 0x00;
  const auto read = ParseOpModeReply(raw).Complete();
  ASSERT_TRUE(read);
  EXPECT_EQ(read->mode, OperationMode::kComRedirector);
  EXPECT_TRUE(read->noDelay);
  EXPECT_EQ(read->localPort, 80);
  const Bytes resent = BuildOpModeMessage(kMac, *read);
  EXPECT_EQ(resent[9], 1);
  EXPECT_EQ(resent[39], 1);
}

TEST(OpModeReply, StopsAtAModeOrPortTypeWithoutAnEntry) {
  Bytes raw = BuildOpModeReply(kMac, SamplePort());
  raw[9] = 8;
  OpModeReply reply = ParseOpModeReply(raw);
  EXPECT_TRUE(reply.portIndex && reply.alias);
  EXPECT_FALSE(reply.mode || reply.localPort || reply.Complete());
  EXPECT_FALSE(reply.stoppedBy);

  raw = BuildOpModeReply(kMac, SamplePort());
  raw[28] = 2;
  reply = ParseOpModeReply(raw);
  EXPECT_TRUE(reply.mode && reply.localPort);
  EXPECT_FALSE(reply.portType || reply.targetAddress || reply.Complete());
}

TEST(OpModeReply, ShortReplyStopsAtTheFirstMissingField) {
  const Bytes full = BuildOpModeReply(kMac, SamplePort());
  struct Case {
    std::size_t size;
    int decoded;  // index, alias, mode, local port, type, target, port, alive, latency, no-delay
  };
  for (const Case& c : {Case{3, 0}, Case{9, 0}, Case{10, 1}, Case{28, 1}, Case{29, 4}, Case{30, 5},
                        Case{33, 5}, Case{34, 6}, Case{36, 7}, Case{40, 9}, Case{41, 10}}) {
    const OpModeReply reply = ParseOpModeReply(CutAndClose(full, c.size));
    const int decoded = reply.portIndex.has_value() + reply.alias.has_value() +
                        reply.mode.has_value() + reply.localPort.has_value() +
                        reply.portType.has_value() + reply.targetAddress.has_value() +
                        reply.targetPort.has_value() + reply.alive.has_value() +
                        reply.latency.has_value() + reply.noDelay.has_value();
    EXPECT_EQ(decoded, c.decoded) << c.size;
    EXPECT_EQ(reply.stoppedBy.has_value(), c.size < kOpModeMessageSize) << c.size;
  }
}

}  // namespace
}  // namespace oxlo
