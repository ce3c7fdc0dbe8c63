#include "protocol/wire/can_messages.h"

#include <gtest/gtest.h>

#include "protocol/wire/conversion_error.h"
#include "protocol/wire/device_replies.h"
#include "protocol/wire/device_side.h"
#include "test_bytes.h"

namespace oxlo {
namespace {

using testing::CutAndClose;
using testing::Hex;

const MacField kMac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

TEST(CanIdToBytes, PacksPairsFromTheRightLeastSignificantFirst) {
  struct Case {
    const char* text;
    const char* bytes;
  };
  for (const Case& c :
       {Case{"", "00 00 00 00"}, Case{"5", "05 00 00 00"}, Case{"7FF", "FF 07 00 00"},
        Case{"7ff", "FF 07 00 00"}, Case{"800", "00 08 00 00"}, Case{"12345", "45 23 01 00"},
        Case{"1234567", "67 45 23 01"}, Case{"1FFFFFFF", "FF FF FF 1F"},
        Case{"12345678", "78 56 34 12"},
        // A bad piece zeroes only its own byte.
        Case{"G", "00 00 00 00"}, Case{"1G23", "23 00 00 00"}, Case{"ABCDEFGH", "00 EF CD AB"},
        Case{" 7FF", "FF 00 00 00"}}) {
    const auto bytes = CanIdToBytes(c.text);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), Hex(c.bytes)) << c.text;
  }
  EXPECT_THROW(CanIdToBytes("123456789"), ConversionError);
}

TEST(CanIdFromBytes, WritesEightDigitsMostSignificantFirst) {
  EXPECT_EQ(CanIdFromBytes(Hex("FF 07 00 00")), "000007FF");
  EXPECT_EQ(CanIdFromBytes(Hex("78 56 34 12")), "12345678");
  for (const char* text : {"7ff", "1", "abcdef", "1FFFFFFF"}) {
    const auto bytes = CanIdToBytes(text);
    const std::string back = CanIdFromBytes(bytes);
    EXPECT_EQ(back.size(), 8u);
    EXPECT_EQ(std::stoul(back, nullptr, 16), std::stoul(text, nullptr, 16)) << text;
  }
}

TEST(CanFormCheck, LimitsElevenBitsForKindOneAndTwentyNineOtherwise) {
  struct Case {
    const char* text;
    int kind;
    bool ok;
  };
  for (const Case& c :
       {Case{"7FF", 1, true}, Case{"7ff", 1, true}, Case{"", 1, true}, Case{"800", 1, false},
        Case{" 7FF", 1, false}, Case{"7FF ", 1, false}, Case{"1FFFFFFF", 2, true},
        Case{"20000000", 2, false}, Case{"FFFFFFFF", 2, false}, Case{"7FF", 0, true},
        Case{"800", 0, true}, Case{"1FFFFFFF", -5, true}, Case{"xyz", 2, false},
        // Only the last eight digits count.
        Case{"100000001", 1, true}}) {
    EXPECT_EQ(CanFormCheck(c.text, c.kind), c.ok) << c.text << " kind " << c.kind;
  }
}

TEST(CanSettings, MatchesTheLayoutAndReadsBack) {
  const Bytes message = BuildCanSettings(kMac, 7, 2, "12345678", "1FFFFFFF");
  EXPECT_EQ(message, Hex("02 43 00 11 22 33 44 55 07 02 78 56 34 12 FF FF FF 1F 03"));
  EXPECT_EQ(ParseCanSettings(message), (CanSettings{7, 2, "12345678", "1FFFFFFF"}));

  Bytes reply = BuildCanReply(kMac, CanSettings{3, 1, "7ff", ""});
  EXPECT_EQ(reply[1], 0x63);
  EXPECT_EQ(ParseCanSettings(reply), (CanSettings{3, 1, "000007FF", "00000000"}));
  reply[8] = 0xEE;  // out-of-table bytes come back as they are
  EXPECT_EQ(ParseCanSettings(reply)->baudIndex, 0xEE);
}

TEST(CanSettings, ShortReplyIsRejectedWhole) {
  const Bytes reply = BuildCanReply(kMac, CanSettings{3, 1, "7FF", "0"});
  for (std::size_t size : {0u, 1u, 2u, 3u, 9u, 18u}) {
    EXPECT_FALSE(ParseCanSettings(CutAndClose(reply, size))) << size;
  }
}

TEST(FilterGroup, MatchesTheLayout) {
  const Bytes message = BuildFilterGroup(kMac, 2, {1, 2, 0, 258}, {"7FF", "1FFFFFFF", "", "12"});
  EXPECT_EQ(message, Hex("02 03 00 11 22 33 44 55 01 02 00 02"
                         " FF 07 00 00 FF FF FF 1F 00 00 00 00 12 00 00 00 03"));
}

TEST(FilterGroup, ReplyFillsItsFourEntriesAndNothingElse) {
  FilterTable table;
  table.entries[7] = {1, "00000007"};
  table.entries[12] = {2, "0000000C"};
  Bytes reply = BuildFilterGroupReply(kMac, 2,
                                      {FilterEntry{1, "100"}, FilterEntry{2, "1ABCDEF"},
                                       FilterEntry{0, "0"}, FilterEntry{1, "7FF"}});
  EXPECT_EQ(reply[1], 0x13);
  reply[9] = 5;  // kept as received
  const std::optional<DeviceReply> decoded = ParseDeviceReply(reply);
  ASSERT_TRUE(decoded && std::holds_alternative<FilterGroupReply>(*decoded));
  const FilterGroupReply& group = std::get<FilterGroupReply>(*decoded);
  EXPECT_EQ(group.group, 2);
  ASSERT_TRUE(group.slots);
  table.StoreGroup(group.group, *group.slots);
  EXPECT_EQ(table.entries[8], (FilterEntry{1, "00000100"}));
  EXPECT_EQ(table.entries[9], (FilterEntry{5, "01ABCDEF"}));
  EXPECT_EQ(table.entries[10], (FilterEntry{0, "00000000"}));
  EXPECT_EQ(table.entries[11], (FilterEntry{1, "000007FF"}));
  EXPECT_EQ(table.entries[7], (FilterEntry{1, "00000007"}));
  EXPECT_EQ(table.entries[12], (FilterEntry{2, "0000000C"}));
}

TEST(FilterGroup, AShortOrForeignReplyGivesNoSlots) {
  const Bytes reply = BuildFilterGroupReply(kMac, 7, {});
  for (std::size_t size : {0u, 1u, 2u, 3u, 12u, 28u}) {
    const std::optional<DeviceReply> decoded = ParseDeviceReply(CutAndClose(reply, size));
    const auto* group = decoded ? std::get_if<FilterGroupReply>(&*decoded) : nullptr;
    EXPECT_TRUE(group == nullptr || !group->slots) << size;
  }
  for (std::uint8_t code : {0x10, 0x19, 0x01, 0x63}) {
    Bytes foreign = reply;
    foreign[1] = code;
    const std::optional<DeviceReply> decoded = ParseDeviceReply(foreign);
    EXPECT_FALSE(decoded && std::holds_alternative<FilterGroupReply>(*decoded)) << int{code};
  }
}

TEST(FilterGroup, DecodesTheMessagesTheToolSends) {
  const auto group =
      ParseFilterGroup(BuildFilterGroup(kMac, 0, {2, 0, 0, 1}, {"ABC", "", "", "1"}));
  ASSERT_TRUE(group);
  EXPECT_EQ(group->group, 0);
  EXPECT_EQ(group->slots[0], (FilterEntry{2, "00000ABC"}));
  EXPECT_EQ(group->slots[3], (FilterEntry{1, "00000001"}));
}

TEST(FilterSlotValid, ChecksTypeAgainstIdentifierAndIdFormat) {
  struct Case {
    std::int32_t type;
    const char* id;
    int format;
    bool ok;
  };
  for (const Case& c :
       {Case{0, "not hex", 1, true}, Case{-1, "zz", 2, true}, Case{1, "7FF", 1, true},
        Case{1, "800", 2, false}, Case{2, "1FFFFFFF", 2, true}, Case{2, "1FFFFFFF", 1, false},
        Case{2, "20000000", 2, false}, Case{1, "7G", 2, false}, Case{3, "1", 2, false}}) {
    EXPECT_EQ(FilterSlotValid(c.type, c.id, c.format), c.ok)
        << c.type << " " << c.id << " format " << c.format;
  }
}

}  // namespace
}  // namespace oxlo
