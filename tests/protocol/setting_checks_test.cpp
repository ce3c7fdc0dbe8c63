// The refusals the window and the settings documents share: where each
// boundary lies, and the text the operator reads.
#include "protocol/settings/setting_checks.h"

#include <gtest/gtest.h>

#include "protocol/settings/code_names.h"

namespace oxlo {
namespace {

// "" when the values may go.
std::string Said(const std::optional<std::string>& refusal) {
  return refusal.value_or("");
}

constexpr int k11 = kIdFormat11Bit;
constexpr int k29 = kIdFormat29Bit;
const std::string kIdRefused = "Please Check CAN ID Fomat";
const std::string kMaskRefused = "Please Check CAN ID Mask Fomat";

TEST(CheckCanSettings, JudgesTheIdentifierThenTheMaskAgainstTheFormat) {
  struct Case {
    const char* id;
    const char* mask;
    int format;
    std::string refusal;
  };
  for (const Case& c : {
           Case{"7FF", "7FF", k11, ""},
           Case{"7ff", "7fF", k11, ""},  // either case
           Case{"", "", k11, ""},        // the empty text is 0
           Case{"000007FF", "0", k11, ""},
           Case{"800", "0", k11, kIdRefused},
           Case{"00000800", "0", k11, kIdRefused},
           Case{"0", "800", k11, kMaskRefused},
           Case{"800", "G", k11, kIdRefused},  // the identifier first
           Case{"1FFFFFFF", "1FFFFFFF", k29, ""},
           Case{"20000000", "0", k29, kIdRefused},
           Case{"0", "FFFFFFFF", k29, kMaskRefused},
           Case{"7g1", "0", k29, kIdRefused},
           Case{" 7FF", "0", k29, kIdRefused},
           Case{"7FF ", "0", k29, kIdRefused},
           Case{"-1", "0", k29, kIdRefused},
           // Nine digits: the message has room for eight, though the value fits.
           Case{"000000001", "0", k29, kIdRefused},
           Case{"0", "000000000", k29, kMaskRefused},
           // No format chosen, or one no list names: 29-bit limits.
           Case{"1FFFFFFF", "800", 0, ""},
           Case{"20000000", "0", 0, kIdRefused},
           Case{"1FFFFFFF", "0", 7, ""},
       }) {
    EXPECT_EQ(Said(CheckCanSettings({0, static_cast<std::uint8_t>(c.format), c.id, c.mask})),
              c.refusal)
        << c.id << " / " << c.mask << " format " << c.format;
  }
}

TEST(CheckFilterSlot, JudgesTheTypeAgainstItsIdentifierAndTheFormat) {
  struct Case {
    int slot;  // 0-3
    std::int32_t type;
    const char* id;
    int format;
    std::string refusal;
  };
  for (const Case& c : {
           Case{0, kFilterDisable, "not hex", k11, ""},
           Case{3, -1, "zz", k29, ""},  // no type chosen
           Case{1, kFilterStandard, "7FF", k11, ""},
           Case{1, kFilterStandard, "", k11, ""},
           Case{1, kFilterStandard, "800", k29, "Please Check Filter Type and Format 2"},
           Case{3, kFilterStandard, "7G", k29, "Please Check Filter Type and Format 4"},
           Case{0, kFilterExtend, "1FFFFFFF", k29, ""},
           Case{2, kFilterExtend, "20000000", k29, "Please Check Filter Type and Format 3"},
           // A type wider than the format, whatever the identifier.
           Case{0, kFilterExtend, "0", k11, "Please Check Filter Type and Format 1"},
           Case{2, 255, "1", k29, "Please Check Filter Type and Format 3"},
           // Even a disabled slot goes out in a message with room for eight digits.
           Case{0, kFilterDisable, "000000001", k29, "Please Check Filter Type and Format 1"},
           Case{1, kFilterStandard, "000007FF", k11, ""},
       }) {
    EXPECT_EQ(Said(CheckFilterSlot(c.slot, c.type, c.id, c.format)), c.refusal)
        << "slot " << c.slot << " type " << c.type << " " << c.id << " format " << c.format;
  }
}

TEST(CheckFilterGroup, NamesTheFirstSlotRefused) {
  using Slots = std::array<FilterEntry, kSlotsPerGroup>;
  const struct {
    Slots slots;
    int format;
    std::string refusal;
  } cases[] = {
      {Slots{}, k11, ""},
      {Slots{{{kFilterStandard, "7FF"}, {kFilterExtend, "1FFFFFFF"}, {-1, ""}, {0, "x"}}}, k29, ""},
      {Slots{{{kFilterStandard, "1"}, {kFilterExtend, "1"}, {}, {kFilterStandard, "800"}}}, k11,
       "Please Check Filter Type and Format 2"},
      {Slots{{{}, {}, {}, {kFilterStandard, "800"}}}, k29, "Please Check Filter Type and Format 4"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Said(CheckFilterGroup(c.slots, c.format)), c.refusal) << c.refusal;
  }
}

TEST(CheckPortMode, TakesOnlyAModeByItsExactName) {
  for (std::string_view name : kOperationModeNames) {
    EXPECT_EQ(Said(CheckPortMode(name)), "") << name;
  }
  for (const char* name : {"", "TCP", "tcp_server", "TCP_Server ", "unknown (3)"}) {
    EXPECT_EQ(Said(CheckPortMode(name)), "Please Check Operation Mode") << name;
  }
}

// The one table both the command line's text and the documents read.
TEST(CodeNames, NameEachListedCodeAndSayWhenThereIsNone) {
  const struct {
    std::string name;
    std::string expected;
  } cases[] = {
      {IdFormatName(kIdFormat11Bit), "11-bit"},
      {IdFormatName(kIdFormat29Bit), "29-bit"},
      {IdFormatName(0), "unknown (0)"},
      {IdFormatName(3), "unknown (3)"},
      {BitRateName(0), "20 kbps"},
      {BitRateName(9), "1000 kbps"},
      {BitRateName(10), "unknown (10)"},
      {BitRateName(-1), "unknown (-1)"},
      {NetworkTypeName(kNetworkTypeDhcp), "DHCP"},
      {NetworkTypeName(2), "unknown (2)"},
      {PortTypeName(kPortTypeModem), "Modem"},
      {PortTypeName(kPortTypeNone), "unknown (255)"},
      {FilterTypeName(kFilterExtend), "Extend"},
      {FilterTypeName(-1), "unknown (-1)"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.name, c.expected);
}

}  // namespace
}  // namespace oxlo
