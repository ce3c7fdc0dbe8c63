#include "protocol/settings/address_check.h"

#include <gtest/gtest.h>

namespace oxlo {
namespace {

TEST(SplitAddressParts, FollowsTheDelimitedTextRules) {
  using Parts = std::vector<std::string>;
  EXPECT_EQ(SplitAddressParts("192.168.0.1"), (Parts{"192", "168", "0", "1"}));
  EXPECT_EQ(SplitAddressParts(""), Parts{});
  EXPECT_EQ(SplitAddressParts("1..2.3"), (Parts{"1", "", "2", "3"}));
  EXPECT_EQ(SplitAddressParts("1.2.3."), (Parts{"1", "2", "3", ""}));
  EXPECT_EQ(SplitAddressParts(" 1 . 2.3.4 "), (Parts{"1", "2", "3", "4"}));
  EXPECT_EQ(SplitAddressParts("1 2.3.4"), (Parts{"1", "2", "3", "4"}));  // a blank ends a part
  EXPECT_EQ(SplitAddressParts("\"1.2\".3"), (Parts{"1.2", "3"}));
  EXPECT_EQ(SplitAddressParts(std::string("1.2\0.3.4", 8)), (Parts{"1", "2"}));
}

TEST(CheckAddressText, AcceptsFourPartsFromZeroTo255) {
  struct Case {
    const char* text;
    bool ok;
  };
  for (const Case& c :
       {Case{"192.168.0.1", true}, Case{"0.0.0.0", true}, Case{"255.255.255.255", true},
        Case{"$C0.168.0.x1", true}, Case{"\"1\".2.3.4", true}, Case{"192.168.0", false},
        Case{"192.168.0.256", false}, Case{"1..2.3", false}, Case{"", false},
        Case{"1.2.3.4.5", false}, Case{"1.2.3.-1", false}, Case{"1.2.3.", false},
        Case{"a.b.c.d", false}, Case{"1.2.3.4%", false}, Case{"1.2.3.'4", false}}) {
    EXPECT_EQ(CheckAddressText(c.text), c.ok) << c.text;
  }
}

TEST(CanonicalAddressText, WritesTheValuesTheCheckReadOrNothing) {
  struct Case {
    const char* text;
    std::optional<std::string> canonical;
  };
  for (const Case& c : {Case{"10.57.0.2", "10.57.0.2"}, Case{"010.57.0.02", "10.57.0.2"},
                        Case{" 10.57.0.2 ", "10.57.0.2"}, Case{"10 . 57.0.2", "10.57.0.2"},
                        Case{"$0A.57.0.x2", "10.57.0.2"}, Case{"\"10\".57.0.2", "10.57.0.2"},
                        Case{"+10.57.0.2", "10.57.0.2"}, Case{"10.57.0.256", std::nullopt},
                        Case{"10.57.0", std::nullopt}, Case{"", std::nullopt}}) {
    EXPECT_EQ(CanonicalAddressText(c.text), c.canonical) << c.text;
  }
}

TEST(CheckHostAddressText, RefusesNetworkBroadcastAndReservedEnds) {
  struct Case {
    const char* text;
    bool ok;
  };
  for (const Case& c :
       {Case{"192.168.0.10", true}, Case{"1.0.0.1", true}, Case{"253.254.254.253", true},
        Case{"0.1.1.1", false}, Case{"254.1.1.1", false}, Case{"10.255.1.1", false},
        Case{"10.1.255.1", false}, Case{"10.1.1.0", false}, Case{"10.1.1.254", false},
        Case{"10.1.1.255", false}, Case{"10.1.1", false}}) {
    EXPECT_EQ(CheckHostAddressText(c.text), c.ok) << c.text;
  }
}

}  // namespace
}  // namespace oxlo
