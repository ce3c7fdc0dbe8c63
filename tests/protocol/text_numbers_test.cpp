#include "protocol/wire/text_numbers.h"

#include <gtest/gtest.h>

#include "protocol/wire/conversion_error.h"

namespace oxlo {
namespace {

TEST(BytesToHex, WritesTwoUppercaseDigitsPerByte) {
  const Bytes bytes{0x00, 0x1A, 0xFF};
  EXPECT_EQ(BytesToHex(bytes), "001AFF");
  EXPECT_EQ(BytesToHex(Bytes{}), "");
}

TEST(HexToInt, ReadsEitherCaseAndKeepsTheLastEightDigits) {
  struct Case {
    const char* text;
    std::int32_t value;
  };
  for (const Case& c : {Case{"1a", 26}, Case{"FF", 255}, Case{"", 0}, Case{"7fffffff", 0x7FFFFFFF},
                        Case{"FFFFFFFF", -1}, Case{"123456789", 0x23456789}}) {
    EXPECT_EQ(HexToInt(c.text), c.value) << c.text;
  }
}

TEST(HexToInt, RejectsAnythingButHexDigits) {
  for (const char* text : {"0x10", "-1", "1 ", " 1", "$10", "G", "X"}) {
    try {
      HexToInt(text);
      ADD_FAILURE() << "accepted " << text;
    } catch (const ConversionError& error) {
      EXPECT_STREQ(error.what(), "No Hex-Number");
    }
  }
}

TEST(HexDigits, ReadAndWriteWithoutPadding) {
  EXPECT_EQ(HexDigitsToInt("001AFF"), 0x1AFF);
  EXPECT_EQ(HexDigitsToInt(""), 0);
  EXPECT_EQ(IntToHexDigits(0), "");
  EXPECT_EQ(IntToHexDigits(10), "A");
  EXPECT_EQ(IntToHexDigits(255), "FF");
  EXPECT_EQ(IntToHexDigits(-1), "FFFFFFFF");
}

TEST(HexPairToByte, ReadsTheFirstPairOrGivesZero) {
  EXPECT_EQ(HexPairToByte("0A"), 10);
  EXPECT_EQ(HexPairToByte("ff00"), 255);
  EXPECT_EQ(HexPairToByte("0"), 0);
  EXPECT_EQ(HexPairToByte(""), 0);
  EXPECT_EQ(HexPairToByte("G1"), 0);
}

TEST(SeparatedToHex, WritesEachPartAsAtLeastTwoDigits) {
  EXPECT_EQ(SeparatedToHex("192.168.0.1", '.', PartKind::kDecimal), "C0A80001");
  EXPECT_EQ(SeparatedToHex("00-1A-2B-3C-4D-5E", '-', PartKind::kHexadecimal), "001A2B3C4D5E");
  EXPECT_EQ(SeparatedToHex("10.0.0.300", '.', PartKind::kDecimal), "0A000012C");
}

TEST(SeparatedToHex, ReportsTheOffendingPart) {
  try {
    SeparatedToHex("192.x.0.1", '.', PartKind::kDecimal);
    FAIL();
  } catch (const ConversionError& error) {
    EXPECT_STREQ(error.what(), "'x' is not a valid integer value");
  }
  EXPECT_THROW(SeparatedToHex("00-1G-00", '-', PartKind::kHexadecimal), ConversionError);
  EXPECT_THROW(SeparatedToHex("1..2", '.', PartKind::kDecimal), ConversionError);
}

TEST(ParsePlatformInteger, AcceptsBlanksSignsAndHexPrefixes) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;
  };
  const Case cases[] = {
      {"0", 0},
      {"255", 255},
      {"  7", 7},
      {"-1", -1},
      {"+12", 12},
      {"$1F", 31},
      {"x1f", 31},
      {"X10", 16},
      {"0x10", 16},
      {"0X10", 16},
      {"-$10", -16},
      {"2147483647", 2147483647},
      {"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {"$FFFFFFFF", -1},
      {"", std::nullopt},
      {" ", std::nullopt},
      {"1 ", std::nullopt},
      {"1.5", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"2147483648", std::nullopt},
      {"$100000000", std::nullopt},
      {"--1", std::nullopt},
      {"a", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParsePlatformInteger(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
}  // namespace oxlo
