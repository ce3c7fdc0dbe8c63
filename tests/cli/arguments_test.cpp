// The MAC argument of the device subcommands.
#include "cli/arguments.h"

#include <gtest/gtest.h>

namespace oxlo::cli {
namespace {

TEST(MacArgument, TakesSixHexPairs) {
  struct Case {
    const char* text;
    const char* normal;
    MacField bytes;
  };
  for (const Case& c : {Case{"02-00-00-00-00-01", "02-00-00-00-00-01", {0x02, 0, 0, 0, 0, 0x01}},
                        Case{"0a-bC-De-f0-12-34", "0A-BC-DE-F0-12-34", {0x0A, 0xBC, 0xDE, 0xF0, 0x12, 0x34}},
                        Case{"FF:BC:DE:F0:12:34", "FF-BC-DE-F0-12-34", {0xFF, 0xBC, 0xDE, 0xF0, 0x12, 0x34}}}) {
    const MacArgument mac = ParseMacArgument(c.text);
    EXPECT_EQ(mac.text, c.normal);
    EXPECT_EQ(mac.bytes, c.bytes) << c.text;
  }
  for (const char* bad : {"", "02-00-00-00-00", "02-00-00-00-00-01-", "02-00-00-00-00-0G",
                          "02_00_00_00_00_01", "020-00-00-00-00-1", " 02-00-00-00-00-01"}) {
    EXPECT_THROW(ParseMacArgument(bad), UsageError) << bad;
  }
}

}  // namespace
}  // namespace oxlo::cli
