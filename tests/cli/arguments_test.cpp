// The MAC, address and time-out arguments of the subcommands.
#include "cli/arguments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <sstream>

#include "protocol/conversation/firmware_upload.h"

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

// Every time-out option: the range its message states is exactly the range
// it takes, ends included, and a value just outside either end is refused.
TEST(TimeoutArguments, RefuseExactlyWhatTheirMessageSays) {
  struct Case {
    const char* option;
    std::function<void(double)> check;
    double step;  // the smallest difference the option can express
  };
  const auto replyWait = [](const char* option, std::chrono::milliseconds longest) {
    return [option, longest](double ms) {
      ReplyWaitArgument(option, static_cast<long long>(ms), longest);
    };
  };
  const Case cases[] = {
      {"--timeout", [](double s) { CheckTimeout(s); }, 0.0001},
      {"--data-timeout", replyWait("--data-timeout", kDataReplyTimeout), 1},
      {"--end-timeout", replyWait("--end-timeout", kEndReplyTimeout), 1},
      {"--back-within", [](double s) { BackWithinArgument(static_cast<long long>(s)); }, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    std::string message;
    try {
      c.check(0);
      ADD_FAILURE() << "0 taken";
    } catch (const UsageError& error) {
      message = error.what();
    }
    // "<option> must be <lowest> to <highest> <unit>"
    const std::string prefix = std::string(c.option) + " must be ";
    ASSERT_EQ(message.rfind(prefix, 0), 0u) << message;
    std::istringstream range(message.substr(prefix.size()));
    double lowest = 0;
    double highest = 0;
    std::string to;
    std::string unit;
    range >> lowest >> to >> highest >> unit;
    ASSERT_TRUE(range && to == "to" && (unit == "seconds" || unit == "ms")) << message;
    EXPECT_NO_THROW(c.check(lowest));
    EXPECT_NO_THROW(c.check(highest));
    EXPECT_THROW(c.check(lowest - c.step), UsageError);
    EXPECT_THROW(c.check(highest + c.step), UsageError);
    EXPECT_THROW(c.check(-1), UsageError);
  }
  for (const double odd : {std::nan(""), std::numeric_limits<double>::infinity()}) {
    EXPECT_THROW(CheckTimeout(odd), UsageError) << odd;
  }
}

// A version or model no discovery reply can hold would never match: the
// field's width in printable ASCII, nothing else.
TEST(FixedTextArgument, TakesWhatTheDiscoveryFieldCanHold) {
  const struct {
    std::string text;
    std::size_t width;
    bool taken;
  } cases[] = {
      {"2.0.0", kVersionWidth, true},
      {"12345678", kVersionWidth, true},
      {"123456789", kVersionWidth, false},
      {"", kVersionWidth, false},
      {"2.0 rc 1", kVersionWidth, true},
      {"2.0\x7f", kVersionWidth, false},
      {"2.0\t1", kVersionWidth, false},
      {"2.0\xc2\xb5", kVersionWidth, false},
      {"Oxlo CG-200M", kModelWidth, true},
      {std::string(20, 'M'), kModelWidth, true},
      {std::string(21, 'M'), kModelWidth, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.taken) {
      EXPECT_EQ(FixedTextArgument("--version", c.text, c.width), c.text);
    } else {
      EXPECT_THROW(FixedTextArgument("--version", c.text, c.width), UsageError);
    }
  }
}

TEST(TimeoutArguments, TheShortestTimeoutIsAWaitOfOneMillisecond) {
  EXPECT_EQ(Milliseconds(0.001), std::chrono::milliseconds(1));
  EXPECT_EQ(Milliseconds(0.0015), std::chrono::milliseconds(2));
  EXPECT_EQ(Milliseconds(3600), std::chrono::milliseconds(3600000));
}

}  // namespace
}  // namespace oxlo::cli
