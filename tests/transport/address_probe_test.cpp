// What an unprivileged probe reads in the kernel's neighbour table.
#include "transport/sockets/address_probe.h"

#include <gtest/gtest.h>

namespace oxlo::transport {
namespace {

// Only a complete entry (flag 0x2: a host answered) on the asked interface
// says the address is in use; an entry the kernel is still asking about, or
// one on another link, says nothing.
TEST(AddressProbe, OnlyACompleteEntryOnTheAskedLinkIsAHolder) {
  const std::string table =
      "IP address       HW type     Flags       HW address            Mask     Device\n"
      "10.57.0.2        0x1         0x2         9a:1b:2c:3d:4e:5f     *        eth0\n"
      "10.57.0.3        0x1         0x0         00:00:00:00:00:00     *        eth0\n"
      "10.58.0.2        0x1         0x6         9a:1b:2c:3d:4e:60     *        eth1\n"
      "garbage\n"
      "10.57.0.4        0x1         0xZZ        9a:1b:2c:3d:4e:61     *        eth0\n";
  const struct {
    const char* interfaceName;
    std::uint32_t address;
    bool held;
  } cases[] = {
      {"eth0", 0x0A390002, true},  {"eth1", 0x0A390002, false}, {"eth0", 0x0A390003, false},
      {"eth1", 0x0A3A0002, true},  {"eth0", 0x0A390004, false}, {"eth0", 0x0A390005, false},
      {"eth0", 0x0A3A0002, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NeighbourAnswered(table, c.interfaceName, c.address), c.held)
        << c.interfaceName << " " << std::hex << c.address;
  }
  EXPECT_FALSE(NeighbourAnswered("", "eth0", 0x0A390002));
}

// Without an interface nothing can ask, and the reason says so.
TEST(AddressProbe, NoInterfaceIsNotProbedWithTheReason) {
  const ProbeFinding finding = ProbeAddress("", 0x0A390002);
  EXPECT_EQ(finding.verdict, ProbeVerdict::kNotProbed);
  EXPECT_EQ(finding.detail, "no interface to ask on");
}

}  // namespace
}  // namespace oxlo::transport
