#include "protocol/wire/fields.h"

#include <gtest/gtest.h>

#include "protocol/wire/conversion_error.h"

namespace oxlo {
namespace {

NameField FieldOf(std::string_view bytes) {
  NameField field{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), field.size()), field.begin());
  return field;
}

const std::string kEuro = "\xE2\x82\xAC";  // three bytes
const std::string kUmlaut = "\xC3\xA4";    // two bytes

TEST(Mac, TextAndBothReadingsAgreeOnMacTexts) {
  const MacField mac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  EXPECT_EQ(MacToText(mac), "00-1A-2B-3C-4D-5E");
  EXPECT_EQ(MacToBytes("00-1A-2B-3C-4D-5E"), mac);
  EXPECT_EQ(MacToBytes("00-1a-2b-3c-4d-5e"), mac);
  EXPECT_EQ(MacToBytesSeparated("00-1A-2B-3C-4D-5E"), mac);
  const MacField high{0xFF, 0xEE, 0x00, 0x01, 0x80, 0x7F};
  EXPECT_EQ(MacToBytes(MacToText(high)), high);
  EXPECT_EQ(MacToBytesSeparated(MacToText(high)), high);
}

TEST(Mac, ConfigurationReadingZeroesBadOrMissingPairsAndNeverFails) {
  EXPECT_EQ(MacToBytes("00-ZZ-2B-3C-4D-5E"), (MacField{0x00, 0x00, 0x2B, 0x3C, 0x4D, 0x5E}));
  EXPECT_EQ(MacToBytes("00-1A"), (MacField{0x00, 0x1A, 0, 0, 0, 0}));
  EXPECT_EQ(MacToBytes(""), MacField{});
}

TEST(Mac, ListReadingRejectsNonHexGroups) {
  EXPECT_THROW(MacToBytesSeparated("00-ZZ-2B-3C-4D-5E"), ConversionError);
}

TEST(Ipv4, TextIsDottedDecimalWithoutLeadingZeros) {
  EXPECT_EQ(Ipv4ToText({0xC0, 0xA8, 0x00, 0x01}), "192.168.0.1");
  EXPECT_EQ(Ipv4ToText({255, 255, 255, 255}), "255.255.255.255");
}

TEST(Ipv4, ToBytesKeepsLowEightBitsOfEachPart) {
  EXPECT_EQ(Ipv4ToBytes("192.168.0.1"), (Ipv4Field{0xC0, 0xA8, 0x00, 0x01}));
  EXPECT_EQ(Ipv4ToBytes("10.0.0.300"), (Ipv4Field{0x0A, 0x00, 0x00, 0x2C}));
  EXPECT_EQ(Ipv4ToBytes("-1.0.0.0"), (Ipv4Field{0xFF, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Ipv4ToBytesSeparated("192.168.0.10"), (Ipv4Field{0xC0, 0xA8, 0x00, 0x0A}));
}

TEST(Ipv4, ToBytesNamesTheBadPart) {
  struct Case {
    const char* text;
    const char* message;
  };
  for (const Case& c : {Case{"10.0.0", "'' is not a valid integer value"},
                        Case{"a.b.c.d", "'a' is not a valid integer value"},
                        Case{"1.2.3.4.5", "'4.5' is not a valid integer value"},
                        Case{"1.2.3.", "'' is not a valid integer value"},
                        Case{"1.2.%3.4", "'%3' is not a valid integer value"},
                        Case{"", "'' is not a valid integer value"}}) {
    try {
      Ipv4ToBytes(c.text);
      ADD_FAILURE() << "accepted " << c.text;
    } catch (const ConversionError& error) {
      EXPECT_STREQ(error.what(), c.message) << c.text;
    }
  }
}

TEST(NameToField, CutsAtThirtyTwoBytesAndPads) {
  const NameField abc = NameToField("abc");
  EXPECT_EQ(std::string(abc.begin(), abc.begin() + 3), "abc");
  EXPECT_TRUE(std::all_of(abc.begin() + 3, abc.end(), [](auto b) { return b == 0; }));

  const std::string forty(40, 'x');
  EXPECT_EQ(NameToField(forty), FieldOf(forty));

  // 10 euro signs are 30 bytes; the eleventh is cut after its second byte.
  std::string euros;
  for (int i = 0; i < 11; ++i) euros += kEuro;
  const NameField cut = NameToField(euros);
  EXPECT_EQ(std::string(cut.begin(), cut.end()), euros.substr(0, 32));
}

TEST(NameFromField, ReadsUpToTheFirstZero) {
  EXPECT_EQ(NameFromField(FieldOf("abc")), "abc");
  EXPECT_EQ(NameFromField(FieldOf("")), "");
  EXPECT_EQ(NameFromField(FieldOf(kUmlaut + "b")), kUmlaut + "b");
}

TEST(NameFromField, KeepsAWholeThirtyTwoByteName) {
  const std::string full(32, 'A');
  EXPECT_EQ(NameFromField(FieldOf(full)), full);
  std::string mixed = std::string(29, 'A') + kEuro;
  EXPECT_EQ(NameFromField(FieldOf(mixed)), mixed);
}

TEST(NameFromField, RecoversANameWhoseLastCharacterWasCut) {
  struct Case {
    std::string name;      // before NameToField cut it
    std::string expected;  // the longest whole-character prefix
  };
  const std::string a30(30, 'a');
  const std::string a31(31, 'a');
  const std::string a29(29, 'a');
  const Case cases[] = {
      {a30 + kEuro, a30},               // cut leaves 2 of 3 bytes
      {a31 + kEuro, a31},               // cut leaves 1 of 3 bytes
      {a31 + kUmlaut, a31},             // cut leaves 1 of 2 bytes
      {a29 + "\xF0\x9F\x98\x80", a29},  // cut leaves 3 of 4 bytes
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NameFromField(NameToField(c.name)), c.expected) << c.name;
    EXPECT_EQ(NameFromFieldWhole(NameToField(c.name)), c.expected) << c.name;
  }
}

TEST(NameFromField, GivesTheEmptyNameForUndecodableBytes) {
  EXPECT_EQ(NameFromField(FieldOf("ab\xFF")), "");
  EXPECT_EQ(NameFromField(FieldOf(std::string(32, '\xFF'))), "");
  // A prefix before the zero that does not decode, and garbage after it.
  EXPECT_EQ(NameFromField(FieldOf(std::string("\xC3", 1) + std::string(1, '\0') + "xyz")), "");
}

TEST(NameFromFieldWhole, DecodesTheWholeFieldUpToTheFirstNul) {
  EXPECT_EQ(NameFromFieldWhole(FieldOf("abc")), "abc");
  EXPECT_EQ(NameFromFieldWhole(FieldOf("")), "");
  const std::string full(32, 'Z');
  EXPECT_EQ(NameFromFieldWhole(FieldOf(full)), full);
  std::string twentyTwo;
  for (int i = 0; i < 11; ++i) twentyTwo += kUmlaut;
  EXPECT_EQ(NameFromFieldWhole(NameToField(twentyTwo)), twentyTwo);
}

TEST(WordToBytes, IsLittleEndianForSixteenBitValues) {
  struct Case {
    const char* text;
    std::array<std::uint8_t, 2> bytes;
  };
  for (const Case& c :
       {Case{"2057", {0x09, 0x08}}, Case{"0", {0, 0}}, Case{"65535", {0xFF, 0xFF}},
        Case{"80", {0x50, 0x00}}, Case{"70000", {0x70, 0x11}}, Case{"-1", {0xFF, 0x00}}}) {
    EXPECT_EQ(WordToBytes(c.text), c.bytes) << c.text;
  }
  EXPECT_EQ(WordFromText("2057"), 2057);
  EXPECT_THROW(WordToBytes(""), ConversionError);
  EXPECT_THROW(WordToBytes("12a"), ConversionError);
}

TEST(SmallFieldToInt, ReadsOneOrTwoBytesAndRejectsNone) {
  EXPECT_EQ(SmallFieldToInt(Bytes{0x09, 0x08}), 2057);
  EXPECT_EQ(SmallFieldToInt(Bytes{0x7F}), 127);
  EXPECT_EQ(SmallFieldToInt(Bytes{0xFF}), 255);
  try {
    SmallFieldToInt(Bytes{});
    ADD_FAILURE() << "no bytes were read";
  } catch (const MissingBytesError& error) {
    EXPECT_STREQ(error.what(),
                 "'' is not a valid integer value");  // the words the empty text gives
  }
}

TEST(IsValidUtf8, RejectsMalformedSequences) {
  auto valid = [](std::string_view s) {
    return IsValidUtf8(ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
  };
  EXPECT_TRUE(valid("plain"));
  EXPECT_TRUE(valid(kEuro + kUmlaut + "\xF0\x9F\x98\x80"));
  EXPECT_FALSE(valid("\xC3"));              // cut
  EXPECT_FALSE(valid("\x80"));              // stray continuation
  EXPECT_FALSE(valid("\xC0\xAF"));          // overlong
  EXPECT_FALSE(valid("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(valid("\xF4\x90\x80\x80"));  // beyond U+10FFFF
}

// The strict readings of the command line and the simulator's files.
TEST(StrictTexts, OnlyTheExactFormReads) {
  EXPECT_EQ(ParseMacText("02:00:5e:00:00:0A"), (MacField{2, 0, 0x5E, 0, 0, 0x0A}));
  EXPECT_EQ(ParseMacText("02-00-5E-00-00-0a"), (MacField{2, 0, 0x5E, 0, 0, 0x0A}));
  for (const char* bad : {"", "02-00-5E-00-00", "02-00-5E-00-00-0G", "02-00-5E-00-00-001",
                          "02.00.5E.00.00.01", "02-00-5E-00-00-1 ", " 2-00-5E-00-00-01"}) {
    EXPECT_FALSE(ParseMacText(bad)) << bad;
  }
  EXPECT_EQ(ParseIpv4Text("10.57.0.255"), (Ipv4Field{10, 57, 0, 255}));
  EXPECT_EQ(ParseIpv4Text("010.0.0.1"), (Ipv4Field{10, 0, 0, 1}));
  for (const char* bad : {"", "10.57.0", "10.57.0.256", "10..0.1", "10.57.0.1.", " 10.57.0.1",
                          "10.57.0.0001", "$A.0.0.1", "1.2.3.-4"}) {
    EXPECT_FALSE(ParseIpv4Text(bad)) << bad;
  }
  EXPECT_TRUE(IsHexText("1fFfFfFf", 8));
  EXPECT_FALSE(IsHexText("", 8));
  EXPECT_FALSE(IsHexText("123456789", 8));
  EXPECT_FALSE(IsHexText("7G", 8));
}

}  // namespace
}  // namespace oxlo
