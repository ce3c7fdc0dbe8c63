// The settings file's filter section and its split into sections.
#include "protocol/settings/settings_file.h"

#include <gtest/gtest.h>

#include "protocol/wire/conversion_error.h"
#include "tests/protocol/test_bytes.h"

namespace oxlo {
namespace {

using testing::Ascii;

FilterTable SampleTable() {
  FilterTable table;
  for (int k = 0; k < kFilterCount; ++k) {
    char id[9];
    std::snprintf(id, sizeof id, "%08X", 0x100 * k + 1);
    table.entries[k] = {k % 3, id};
  }
  return table;
}

TEST(FilterSection, RoundTripsAFullTable) {
  const FilterTable table = SampleTable();
  const Bytes section = BuildFilterSection(table);
  ASSERT_EQ(section.size(), kFilterSectionSize);
  EXPECT_EQ(section[1], 1);
  EXPECT_EQ(Bytes(section.begin() + 32 + 8, section.begin() + 48), Ascii("00000101"));
  FilterTable back;
  ParseFilterSection(section, back);
  EXPECT_EQ(back, table);
}

TEST(FilterSection, ShortIdentifiersKeepTheirSlot) {
  FilterTable table = SampleTable();
  table.entries[0].id = "";
  table.entries[1].id = "7FF";
  table.entries[2].type = 0x102;  // only the low byte is written
  const Bytes section = BuildFilterSection(table);
  ASSERT_EQ(section.size(), kFilterSectionSize);
  EXPECT_EQ(section[2], 0x02);
  EXPECT_EQ(Bytes(section.begin() + 32, section.begin() + 56), Ascii("00000000000007FF00000201"));
}

TEST(FilterSection, ACutSectionLeavesLaterIdentifiersShortOrEmpty) {
  struct Case {
    std::size_t length;
    std::size_t lastWhole;  // identifiers 0..lastWhole-1 are whole
  };
  for (const Case c : {Case{32, 0}, Case{32 + 8 * 5 + 3, 5}, Case{kFilterSectionSize, 32}}) {
    const Bytes whole = BuildFilterSection(SampleTable());
    FilterTable table;
    ParseFilterSection(ByteView(whole).first(c.length), table);
    for (std::size_t k = 0; k < 32; ++k) {
      EXPECT_EQ(table.entries[k].type, static_cast<int>(k % 3));
      const std::size_t expected =
          k < c.lastWhole ? 8 : (k == c.lastWhole && c.length % 8 == 3 ? 3 : 0);
      EXPECT_EQ(table.entries[k].id.size(), expected) << c.length << " " << k;
    }
  }
}

TEST(FilterSection, MissingTypeBytesAreAnErrorAndTouchNothing) {
  FilterTable table = SampleTable();
  const Bytes section(31, 0x01);
  EXPECT_THROW(ParseFilterSection(section, table), MissingBytesError);
  EXPECT_EQ(table, SampleTable());
}

TEST(SettingsFile, ValuesWithoutAListEntryAreRefusedByName) {
  // A file as the window exports it: static address, TCP server, Data, 500 kbit/s, format B.
  Bytes whole(kSettingsFileSize, 0x00);
  whole[81 + 9] = 2;
  whole[122 + 8] = 7;
  whole[122 + 9] = kIdFormat29Bit;
  whole[141] = kFilterExtend;
  EXPECT_NO_THROW(CheckSettingsFileValues(whole));
  EXPECT_NO_THROW(CheckSettingsFileValues(ByteView(whole).first(kSettingsFileMinSize)));
  EXPECT_THROW(CheckSettingsFileValues(ByteView(whole).first(kSettingsFileMinSize - 1)),
               ConversionError);
  struct Case {
    std::size_t offset;
    std::uint8_t value;
    const char* message;  // empty: accepted
  };
  const Case cases[] = {
      {8, 1, ""},
      {8, 2, "The settings file holds network type 2, which has no entry (0 Static IP, 1 DHCP)."},
      {81 + 9, 7, ""},
      {81 + 9, 8, "The settings file holds operation mode code 8, which has no entry (0 to 7)."},
      {81 + 28, 1, ""},
      {81 + 28, 2, "The settings file holds port type 2, which has no entry (0 Data, 1 Modem)."},
      {122 + 8, 9, ""},
      {122 + 8, 10, "The settings file holds CAN bit rate index 10, which has no entry (0 to 9)."},
      {122 + 9, 0, "The settings file holds CAN ID format 0, which has no entry (1 A, 2 B)."},
      {122 + 9, 3, "The settings file holds CAN ID format 3, which has no entry (1 A, 2 B)."},
      {141 + 31, 3,
       "The settings file holds filter 32 type 3, which has no entry (0 Disable, 1 Standard, 2 "
       "Extend)."},
  };
  for (const Case& c : cases) {
    Bytes file = whole;
    file[c.offset] = c.value;
    if (*c.message == '\0') {
      EXPECT_NO_THROW(CheckSettingsFileValues(file)) << c.offset;
      continue;
    }
    try {
      CheckSettingsFileValues(file);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const SettingsFileValueError& error) {
      EXPECT_STREQ(error.what(), c.message);
    }
  }
}

TEST(SettingsFile, SplitsAtTheSectionOffsetsAndIgnoresExtraBytes) {
  Bytes file(500, 0xAA);
  const SettingsFileSections s = SplitSettingsFile(file);
  EXPECT_EQ(s.network.size(), 81u);
  EXPECT_EQ(s.opMode.size(), 41u);
  EXPECT_EQ(s.can.size(), 19u);
  EXPECT_EQ(s.filters.size(), 288u);
  const SettingsFileSections cut = SplitSettingsFile(ByteView(file).first(100));
  EXPECT_EQ(cut.opMode.size(), 19u);
  EXPECT_TRUE(cut.can.empty());
  EXPECT_TRUE(cut.filters.empty());
  EXPECT_EQ(ComposeSettingsFile(Bytes(81, 1), Bytes(41, 2), Bytes(19, 3), SampleTable()).size(),
            kSettingsFileSize);
}

}  // namespace
}  // namespace oxlo
