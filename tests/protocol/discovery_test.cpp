#include "protocol/wire/discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "protocol/wire/conversion_error.h"
#include "protocol/wire/device_side.h"
#include "protocol/wire/frame.h"
#include "test_bytes.h"

namespace oxlo {
namespace {

using testing::Ascii;
using testing::Concat;
using testing::Hex;
using testing::Zeros;

DeviceIdentity SampleDevice() {
  DeviceIdentity device;
  device.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  device.ip = {192, 168, 0, 10};
  device.gateway = {192, 168, 0, 1};
  device.mask = {255, 255, 255, 0};
  device.extra = {9, 9, 9, 9};
  device.name = "Line 3 gateway";
  device.version = "1.0.0";
  device.model = "OXLO-CE100";
  return device;
}

TEST(AcceptDatagram, AcceptsFramedDatagramsOfAnyOtherLength) {
  struct Case {
    Bytes datagram;
    std::optional<std::uint8_t> code;
  };
  const Case cases[] = {
      {Hex("02 67 03"), std::nullopt},  // our own query echoed back
      {Hex("02 67 00 03"), 0x67},
      {Hex("FF 61 03"), std::nullopt},  // any 3 bytes
      {Hex("FF 61 00 03"), 0x61},       // byte 0 is not examined
      {Concat({Hex("02 53"), Zeros(54), Hex("03")}), 0x53},
      {Hex("02 67 00 02"), std::nullopt},  // no ETX at the end
      {Bytes{}, std::nullopt},
      {Hex("03"), std::nullopt},  // no code to match
      {Hex("02"), std::nullopt},
      {Hex("02 03"), 0x03},
  };
  for (const Case& c : cases) EXPECT_EQ(AcceptDatagram(c.datagram), c.code);
}

TEST(DiscoveryQuery, IsThreeBytes) {
  EXPECT_EQ(BuildDiscoveryQuery(), Hex("02 67 03"));
}

TEST(DiscoveryReply, ReadsEveryFieldFromItsOffset) {
  const Bytes reply =
      Concat({Hex("02 67 00 1A 2B 3C 4D 5E C0 A8 00 0A C0 A8 00 01 FF FF FF 00"), Ascii("abc"),
              Zeros(29), Hex("01 02 03 04"), Hex("31 2E 30 2E 30 00 00 00"), Ascii("OXLO-CE100"),
              Zeros(10), Hex("03")});
  ASSERT_EQ(reply.size(), kDiscoveryReplyMinSize);
  const std::optional<DeviceRecord> record = ParseDiscoveryReply(reply);
  ASSERT_TRUE(record);
  EXPECT_EQ(*record, (DeviceRecord{"OXLO-CE100", "00-1A-2B-3C-4D-5E", "1.0.0", "abc",
                                   "192.168.0.10", "255.255.255.0", "192.168.0.1"}));
}

TEST(DiscoveryReply, IgnoresTrailingBytesAndRoundTripsTheDeviceEncoder) {
  const DeviceIdentity device = SampleDevice();
  Bytes reply = BuildDiscoveryReply(device);
  ASSERT_EQ(reply.size(), kDiscoveryReplyMinSize);
  reply.insert(reply.end() - 1, 15, 0xEE);  // a 100-byte reply
  const auto record = ParseDiscoveryReply(reply);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->model, device.model);
  EXPECT_EQ(record->version, device.version);
  EXPECT_EQ(record->name, device.name);
  EXPECT_EQ(record->gateway, "192.168.0.1");
  EXPECT_EQ(record->mask, "255.255.255.0");
}

TEST(DiscoveryReply, FullLengthFixedTextsHaveNoTerminator) {
  DeviceIdentity device = SampleDevice();
  device.version = "12345678";
  device.model = std::string(20, 'M');
  device.name = std::string(32, 'N');
  const auto record = ParseDiscoveryReply(BuildDiscoveryReply(device));
  ASSERT_TRUE(record);
  EXPECT_EQ(record->version, device.version);
  EXPECT_EQ(record->model, device.model);
  EXPECT_EQ(record->name, device.name);
}

// A name that is no UTF-8 text lists as empty but is kept as its bytes, so
// an assignment that keeps the name gives those back, not an empty name.
TEST(DiscoveryReply, KeepsTheBytesOfANameThatIsNoText) {
  DeviceIdentity device = SampleDevice();
  for (const auto& [name, unreadable] :
       std::vector<std::pair<std::string, std::string>>{{"Pr\xFC"
                                                         "fstand",
                                                         "Pr\xFC"
                                                         "fstand"},
                                                        {"\xC3", "\xC3"},
                                                        {"Pr\xC3\xBC"
                                                         "fstand",
                                                         ""},
                                                        {"", ""}}) {
    device.name = name;
    const auto record = ParseDiscoveryReply(BuildDiscoveryReply(device));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->name, unreadable.empty() ? name : "");
    EXPECT_EQ(record->unreadableName, unreadable);
    const Bytes assignment = BuildAddressAssignment(
        record->mac, record->ip, record->mask, record->gateway,
        record->unreadableName.empty() ? record->name : record->unreadableName);
    EXPECT_EQ(std::string(assignment.begin() + 24, assignment.begin() + 24 + name.size()), name);
  }
}

TEST(DiscoveryReply, ShorterThanTheLayoutYieldsNoRecord) {
  const Bytes reply = BuildDiscoveryReply(SampleDevice());
  for (std::size_t size : {0u, 1u, 2u, 3u, 8u, 52u, 84u}) {
    EXPECT_FALSE(ParseDiscoveryReply(testing::CutAndClose(reply, size))) << size;
  }
}

TEST(AddressAssignment, MatchesTheLayoutWithGatewayBeforeMask) {
  const Bytes expected = Concat({Hex("02 53 00 1A 2B 3C 4D 5E C0 A8 00 0A C0 A8 00 01 FF FF FF 00"),
                                 Zeros(4), Ascii("abc"), Zeros(29), Hex("03")});
  const Bytes message = BuildAddressAssignment("00-1A-2B-3C-4D-5E", "192.168.0.10", "255.255.255.0",
                                               "192.168.0.1", "abc");
  EXPECT_EQ(message.size(), kAddressAssignmentSize);
  EXPECT_EQ(message, expected);
}

TEST(AddressAssignment, FailsOnTextsThatDoNotConvert) {
  EXPECT_THROW(BuildAddressAssignment("00-1A-2B-3C-4D-ZZ", "1.2.3.4", "1.2.3.4", "1.2.3.4", ""),
               ConversionError);
  EXPECT_THROW(BuildAddressAssignment("00-1A-2B-3C-4D-5E", "1.2.x.4", "1.2.3.4", "1.2.3.4", ""),
               ConversionError);
}

}  // namespace
}  // namespace oxlo
