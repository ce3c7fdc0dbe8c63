// The MAC and address arguments of the subcommands.
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
  for (const Case& c :
       {Case{"02-00-00-00-00-01", "02-00-00-00-00-01", {0x02, 0, 0, 0, 0, 0x01}},
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

// What the checks accept is what gets sent: the form sockets and the
// wire take, so "010.57.0.02" does not end in a socket error.
TEST(AddressArgument, GivesTheDottedQuadTheCheckReadOrIsAUsageError) {
  struct Case {
    const char* text;
    const char* address;  // nullptr: refused
    const char* host;     // for a query; nullptr: refused
  };
  const Case cases[] = {
      {"10.57.0.2", "10.57.0.2", "10.57.0.2"},
      {"010.57.0.02", "10.57.0.2", "10.57.0.2"},
      {" 10.57.0.2 ", "10.57.0.2", "10.57.0.2"},
      {"$0A.57.0.2", "10.57.0.2", "10.57.0.2"},
      {"255.255.255.000", "255.255.255.0", nullptr},
      {"0.0.0.0", "0.0.0.0", nullptr},
      {"10.57.0.255", "10.57.0.255", nullptr},
      {"10.57.0.256", nullptr, nullptr},
      {"10.57.0", nullptr, nullptr},
      {"", nullptr, nullptr},
      {"10.57.0.2x", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("'") + c.text + "'");
    if (c.address) {
      EXPECT_EQ(AddressArgument("--ip", c.text), c.address);
    } else {
      EXPECT_THROW(AddressArgument("--ip", c.text), UsageError);
    }
    if (c.host) {
      EXPECT_EQ(HostAddressArgument("--ip", c.text), c.host);
    } else {
      EXPECT_THROW(HostAddressArgument("--ip", c.text), UsageError);
    }
  }
  try {
    AddressArgument("--gateway", "1..2.3");
    ADD_FAILURE() << "taken";
  } catch (const UsageError& error) {
    EXPECT_STREQ(error.what(), "--gateway: '1..2.3' is not an IPv4 address (four numbers 0-255)");
  }
}

}  // namespace
}  // namespace oxlo::cli
