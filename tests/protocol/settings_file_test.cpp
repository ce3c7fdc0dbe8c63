// The settings file's filter section and its split into sections.
#include <gtest/gtest.h>

#include "protocol/conversion_error.h"
#include "protocol/settings_file.h"
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
      const std::size_t expected = k < c.lastWhole ? 8 : (k == c.lastWhole && c.length % 8 == 3 ? 3 : 0);
      EXPECT_EQ(table.entries[k].id.size(), expected) << c.length << " " << k;
    }
  }
}

TEST(FilterSection, MissingTypeBytesAreAnErrorAndTouchNothing) {
  FilterTable table = SampleTable();
  const Bytes section(31, 0x01);
  EXPECT_THROW(ParseFilterSection(section, table), ConversionError);
  EXPECT_EQ(table, SampleTable());
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
