// What the diagnosis says of listed devices, and the addresses it suggests.
#include "protocol/network_diagnosis.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace oxlo {
namespace {

std::uint32_t A(const char* text) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  std::sscanf(text, "%u.%u.%u.%u", &a, &b, &c, &d);
  return (a << 24) | (b << 16) | (c << 8) | d;
}

SeenDevice Device(const char* mac, const char* ip, const char* mask = "255.255.255.0",
                  const char* gateway = "10.57.0.1", std::vector<std::string> on = {"eth0"}) {
  DeviceRecord record;
  record.mac = mac;
  record.ip = ip;
  record.mask = mask;
  record.gateway = gateway;
  return {record, std::move(on)};
}

const std::vector<HostInterface> kHost{{"eth0", A("10.57.0.1"), 24}, {"eth1", A("10.58.0.1"), 24}};

// "address mask gateway" of the suggested assignment, "" when none.
std::string MendText(const DeviceDiagnosis& d) {
  if (!d.mend) return "";
  return AddressText(d.mend->address) + " " + AddressText(d.mend->mask) + " " +
         AddressText(d.mend->gateway);
}

std::vector<std::string> Kinds(const DeviceDiagnosis& d) {
  std::vector<std::string> kinds;
  for (const Problem& p : d.problems) kinds.emplace_back(ProblemKindName(p.kind));
  return kinds;
}

TEST(NetworkDiagnosis, NamesEachProblemWithAReasonAndAFix) {
  struct Case {
    const char* what;
    SeenDevice device;
    std::vector<std::string> kinds;
    const char* mend;  // "" when none
  };
  const Case cases[] = {
      {"reachable", Device("02-00-00-00-00-01", "10.57.0.101"), {}, ""},
      {"factory address of another subnet",
       Device("02-00-00-00-00-02", "192.168.1.10"),
       {"other_subnet", "gateway_outside_subnet"},
       "10.57.0.2 255.255.255.0 10.57.0.1"},
      {"another subnet with its own gateway",
       Device("02-00-00-00-00-0B", "192.168.1.10", "255.255.255.0", "192.168.1.1", {"eth1"}),
       {"other_subnet"},
       "10.58.0.2 255.255.255.0 0.0.0.0"},
      {"answered on the other adapter",
       Device("02-00-00-00-00-03", "10.57.0.103", "255.255.255.0", "0.0.0.0", {"eth1"}),
       {"other_subnet"},
       "10.58.0.2 255.255.255.0 0.0.0.0"},
      {"the computer's own address",
       Device("02-00-00-00-00-04", "10.57.0.1"),
       {"duplicate_address"},
       "10.57.0.2 255.255.255.0 10.57.0.1"},
      {"no address",
       Device("02-00-00-00-00-05", "0.0.0.0", "255.255.255.0", "0.0.0.0"),
       {"no_usable_address"},
       "10.57.0.2 255.255.255.0 0.0.0.0"},
      {"its subnet's broadcast address",
       Device("02-00-00-00-00-06", "10.57.0.255"),
       {"no_usable_address"},
       "10.57.0.2 255.255.255.0 10.57.0.1"},
      {"a multicast address",
       Device("02-00-00-00-00-07", "224.0.0.5", "255.255.255.0", "0.0.0.0"),
       {"no_usable_address"},
       "10.57.0.2 255.255.255.0 0.0.0.0"},
      {"holes in its mask",
       Device("02-00-00-00-00-08", "10.57.0.108", "255.0.255.0"),
       {"invalid_mask"},
       "10.57.0.2 255.255.255.0 10.57.0.1"},
      {"gateway elsewhere",
       Device("02-00-00-00-00-09", "10.57.0.109", "255.255.255.0", "10.9.9.1"),
       {"gateway_outside_subnet"},
       "10.57.0.109 255.255.255.0 0.0.0.0"},
      {"through both adapters",
       Device("02-00-00-00-00-0A", "10.57.0.110", "255.255.255.0", "10.57.0.1",
              {"eth0", "eth1", "eth0"}),
       {"seen_on_several_interfaces"},
       ""},
  };
  for (const Case& c : cases) {
    const std::vector<DeviceDiagnosis> d = DiagnoseDevices({c.device}, kHost);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(Kinds(d[0]), c.kinds) << c.what;
    EXPECT_EQ(MendText(d[0]), c.mend) << c.what;
    for (const Problem& p : d[0].problems) {
      EXPECT_FALSE(p.reason.empty()) << c.what;
      EXPECT_EQ(p.fix.empty(), p.kind == ProblemKind::kSeenOnSeveralInterfaces) << c.what;
    }
  }
}

// Two devices with one address: both are told, and the suggestions avoid
// every listed address, every gateway and each other.
TEST(NetworkDiagnosis, DuplicatesAreToldAndSuggestionsNeverCollide) {
  const std::vector<DeviceDiagnosis> d =
      DiagnoseDevices({Device("02-00-00-00-00-01", "10.57.0.2"),
                       Device("02-00-00-00-00-02", "10.57.0.2", "255.255.255.0", "10.57.0.3"),
                       Device("02-00-00-00-00-03", "0.0.0.0", "255.255.255.0", "0.0.0.0")},
                      kHost);
  ASSERT_EQ(d.size(), 3u);
  EXPECT_EQ(Kinds(d[0]), std::vector<std::string>{"duplicate_address"});
  EXPECT_NE(d[0].problems[0].reason.find("02-00-00-00-00-02"), std::string::npos);
  EXPECT_EQ(Kinds(d[1]), std::vector<std::string>{"duplicate_address"});
  EXPECT_EQ(MendText(d[0]), "10.57.0.4 255.255.255.0 10.57.0.1");
  EXPECT_EQ(MendText(d[1]), "10.57.0.5 255.255.255.0 10.57.0.3");
  EXPECT_EQ(MendText(d[2]), "10.57.0.6 255.255.255.0 0.0.0.0");
  // An address a probe found in use is skipped as well.
  const std::vector<DeviceDiagnosis> probed =
      DiagnoseDevices({Device("02-00-00-00-00-03", "0.0.0.0", "255.255.255.0", "0.0.0.0")}, kHost,
                      {A("10.57.0.2"), A("10.57.0.3")});
  EXPECT_EQ(MendText(probed[0]), "10.57.0.4 255.255.255.0 0.0.0.0");
}

TEST(NetworkDiagnosis, FreeAddressKeepsToTheSubnetsUsableAddresses) {
  struct Case {
    HostInterface subnet;
    std::vector<const char*> taken;
    const char* free;  // "" when none
  };
  const Case cases[] = {
      {{"eth0", A("10.0.0.1"), 8}, {"10.0.0.1", "10.0.0.2"}, "10.0.0.3"},
      {{"eth0", A("192.168.7.20"), 24}, {"192.168.7.20"}, "192.168.7.1"},
      // A /31 has no network or broadcast address: both ends are usable.
      {{"p2p", A("10.1.1.0"), 31}, {"10.1.1.0"}, "10.1.1.1"},
      {{"p2p", A("10.1.1.1"), 31}, {"10.1.1.1"}, "10.1.1.0"},
      // A /32 holds only the computer itself.
      {{"lo1", A("10.2.2.2"), 32}, {"10.2.2.2"}, ""},
      {{"eth0", A("10.3.3.1"), 30}, {"10.3.3.1", "10.3.3.2"}, ""},
  };
  for (const Case& c : cases) {
    std::unordered_set<std::uint32_t> taken;
    for (const char* t : c.taken) taken.insert(A(t));
    const std::optional<std::uint32_t> free = FreeAddress(c.subnet, taken);
    EXPECT_EQ(free ? AddressText(*free) : "", c.free)
        << c.subnet.name << " " << AddressText(c.subnet.address) << "/" << c.subnet.prefixLength;
  }
}

}  // namespace
}  // namespace oxlo
