#include "sim/faults.h"

#include <gtest/gtest.h>

#include <vector>

namespace oxlo::sim {

TEST(CodeList, ReadsCharactersAndHexBytes) {
  struct Case {
    const char* text;
    std::vector<std::uint8_t> codes;
  };
  const Case cases[] = {
      {"", {}},
      {"  ", {}},
      {"g", {'g'}},
      {"g,a,N", {'g', 'a', 'N'}},
      {" g , a ", {'g', 'a'}},
      {"0x01,0X1f,0xff", {0x01, 0x1F, 0xFF}},
      {"0", {'0'}},
      {"x", {'x'}},
      {"F,F", {'F'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CodeSet expected;
    for (std::uint8_t code : c.codes) expected.set(code);
    EXPECT_EQ(ParseCodeList(c.text), expected);
  }
}

TEST(CodeList, RefusesAnythingElseNamingTheItem) {
  struct Case {
    const char* text;
    const char* item;
  };
  const Case cases[] = {
      {"ga", "'ga'"},       {"g,,a", "''"},     {"g,", "''"},       {"0x", "'0x'"},
      {"0x123", "'0x123'"}, {"0xG1", "'0xG1'"}, {"1x01", "'1x01'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseCodeList(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const CodeListError& error) {
      EXPECT_NE(std::string(error.what()).find(c.item), std::string::npos) << error.what();
    }
  }
}

}  // namespace oxlo::sim
