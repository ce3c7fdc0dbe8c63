#include "protocol/wire/device_side.h"

#include <gtest/gtest.h>

#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/discovery.h"
#include "protocol/wire/frame.h"
#include "test_bytes.h"

namespace oxlo {
namespace {

using testing::Hex;

const MacField kMac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

TEST(DeviceReplies, ShortRepliesCarryTheFrameAndMac) {
  EXPECT_EQ(BuildApplyAck(kMac), Hex("02 61 00 11 22 33 44 55 03"));
  EXPECT_EQ(BuildUReply(kMac), Hex("02 75 00 11 22 33 44 55 03"));
  EXPECT_EQ(MacOf(BuildApplyAck(kMac)), kMac);
  EXPECT_EQ(MacOf(Hex("02 61 00 11 22 33 44 03")), std::nullopt);
  EXPECT_EQ(BuildFirmwareReply(kMac, 12, 0x00),
            Hex("02 66 00 11 22 33 44 55 31 32 00 00 00 00 00 00 00 03"));
}

TEST(AddressAssignmentReader, ReadsWhatTheToolBuilds) {
  const auto assignment = ParseAddressAssignment(BuildAddressAssignment(
      "00-11-22-33-44-55", "10.57.0.2", "255.255.255.0", "10.57.0.1", "Hall \xC3\xA4"));
  ASSERT_TRUE(assignment);
  EXPECT_EQ(assignment->mac, kMac);
  EXPECT_EQ(assignment->ip, (Ipv4Field{10, 57, 0, 2}));
  EXPECT_EQ(assignment->gateway, (Ipv4Field{10, 57, 0, 1}));
  EXPECT_EQ(assignment->mask, (Ipv4Field{255, 255, 255, 0}));
  EXPECT_EQ(assignment->name, "Hall \xC3\xA4");

  Bytes wrongSize =
      BuildAddressAssignment("00-11-22-33-44-55", "1.2.3.4", "1.2.3.4", "1.2.3.4", "");
  wrongSize.insert(wrongSize.begin() + 10, 0x00);
  EXPECT_FALSE(ParseAddressAssignment(wrongSize));
}

TEST(FirmwareMessageReader, RejectsMalformedMessages) {
  const Bytes data = BuildFirmwareData(kMac, 7, Hex("61 62 63"));
  const auto read = ParseFirmwareMessage(data);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->sequence, 7u);
  EXPECT_EQ(read->data, Hex("61 62 63"));

  struct Case {
    const char* what;
    std::size_t offset;
    std::uint8_t value;
  };
  for (const Case& c : {Case{"letter in sequence", 9, 'A'}, Case{"digit after fill", 10, '1'},
                        Case{"empty sequence", 8, 0x00}, Case{"count disagrees", 17, '4'},
                        Case{"unknown kind", 16, 0x02}, Case{"end with data", 16, 0x01},
                        Case{"no ETX", 42, 0x00}}) {
    Bytes broken = data;
    broken[c.offset] = c.value;
    EXPECT_FALSE(ParseFirmwareMessage(broken)) << c.what;
  }
  EXPECT_FALSE(ParseFirmwareMessage(Hex("02 46 00 11 22 33 44 55 03")));
  EXPECT_TRUE(ParseFirmwareMessage(BuildFirmwareEnd(kMac, 1, 3, 4294966998u)));
}

}  // namespace
}  // namespace oxlo
