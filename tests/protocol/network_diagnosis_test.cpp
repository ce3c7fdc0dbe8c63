// What the diagnosis says of listed devices, and the addresses it suggests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "protocol/network/diagnosis.h"

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
      {"a loopback address",
       Device("02-00-00-00-00-0C", "127.0.0.1", "255.0.0.0", "0.0.0.0"),
       {"no_usable_address"},
       "10.57.0.2 255.255.255.0 0.0.0.0"},
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

// The commands judge an address they are to send by the doctor's rules.
TEST(NetworkDiagnosis, AddressProblemsAreTheDoctorsFindings) {
  const std::vector<SeenDevice> listed{Device("02-00-00-00-00-01", "10.57.0.101"),
                                       Device("02-00-00-00-00-02", "10.57.0.102")};
  struct Case {
    AddressSetting setting;
    std::vector<std::string> kinds;
    const char* reason;  // of the first, "" when none
  };
  const Case cases[] = {
      {{"10.57.0.50", "255.255.255.0", "10.57.0.1"}, {}, ""},
      {{"10.57.0.50", "255.255.255.0", "0.0.0.0"}, {}, ""},     // no gateway
      {{"10.1.1.1", "255.255.255.254", "0.0.0.0"}, {}, ""},     // a /31 has no broadcast
      {{"10.57.0.101", "255.255.255.0", "10.57.0.1"}, {}, ""},  // the device's own
      {{"0.0.0.0", "255.255.255.0", "0.0.0.0"},
       {"no_usable_address"},
       "0.0.0.0 is not an address a device can be reached at"},
      {{"255.255.255.255", "255.255.255.0", "0.0.0.0"}, {"no_usable_address"}, ""},
      {{"239.1.2.3", "255.255.255.0", "0.0.0.0"}, {"no_usable_address"}, ""},
      {{"127.0.0.5", "255.0.0.0", "0.0.0.0"}, {"no_usable_address"}, ""},
      {{"10.57.0.255", "255.255.255.0", "10.57.0.1"}, {"no_usable_address"}, ""},
      {{"10.57.0.0", "255.255.255.0", "10.57.0.1"}, {"no_usable_address"}, ""},
      {{"10.57.0.50", "255.0.255.0", "10.57.0.1"},
       {"invalid_mask"},
       "255.0.255.0 is not a subnet mask (its ones are not contiguous)"},
      {{"10.57.0.50", "255.255.255.0", "10.9.9.1"},
       {"gateway_outside_subnet"},
       "gateway 10.9.9.1 is outside its subnet 10.57.0.0/24"},
      {{"10.57.0.1", "255.255.255.0", "10.57.0.1"},
       {"duplicate_address"},
       "10.57.0.1 is also held by this computer (eth0)"},
      {{"10.57.0.102", "255.255.255.0", "10.9.9.1"},
       {"duplicate_address", "gateway_outside_subnet"},
       "10.57.0.102 is also held by 02-00-00-00-00-02"},
  };
  for (const Case& c : cases) {
    const std::vector<Problem> problems =
        AddressProblems(c.setting, "02-00-00-00-00-01", listed, kHost);
    std::vector<std::string> kinds;
    for (const Problem& p : problems) kinds.emplace_back(ProblemKindName(p.kind));
    EXPECT_EQ(kinds, c.kinds) << c.setting.ip << " " << c.setting.mask << " " << c.setting.gateway;
    if (*c.reason != '\0' && !problems.empty()) {
      EXPECT_EQ(problems[0].reason, c.reason);
    }
  }
}

// A scripted prober: the addresses a host holds, per interface, and every
// request it was asked.
struct ScriptedProber {
  std::vector<ProbeRequest> held;
  ProbeVerdict otherwise = ProbeVerdict::kFree;
  std::vector<ProbeRequest> asked{};
  ProbeBatch Batch() {
    return [this](const std::vector<ProbeRequest>& requests) {
      std::vector<ProbeFinding> out;
      for (const ProbeRequest& r : requests) {
        asked.push_back(r);
        const bool inUse = std::find(held.begin(), held.end(), r) != held.end();
        out.push_back({inUse ? ProbeVerdict::kInUse : otherwise, "a scripted probe"});
      }
      return out;
    };
  }
};

// A probed suggestion a host holds is passed over, and its replacement is
// probed in turn on the interface the device answered on; two devices to
// mend still never share an address.
TEST(NetworkDiagnosis, ProbedSuggestionsSkipAddressesAHostHolds) {
  const std::vector<SeenDevice> devices{
      Device("02-00-00-00-00-01", "192.168.1.10", "255.255.255.0", "0.0.0.0"),
      Device("02-00-00-00-00-02", "0.0.0.0", "255.255.255.0", "0.0.0.0"),
      Device("02-00-00-00-00-03", "10.58.0.101", "255.255.255.0", "0.0.0.0", {"eth1"}),
  };
  ScriptedProber prober{{{"eth0", A("10.57.0.2")}, {"eth0", A("10.57.0.4")}}};
  const ProbedDiagnoses d = DiagnoseAndProbe(devices, kHost, prober.Batch());
  ASSERT_EQ(d.diagnoses.size(), 3u);
  EXPECT_EQ(MendText(d.diagnoses[0]), "10.57.0.3 255.255.255.0 0.0.0.0");
  EXPECT_EQ(MendText(d.diagnoses[1]), "10.57.0.5 255.255.255.0 0.0.0.0");
  EXPECT_EQ(d.diagnoses[0].problems[0].fix, "give it 10.57.0.3 with mask 255.255.255.0");
  EXPECT_EQ(d.probes[0].verdict, ProbeVerdict::kFree);
  EXPECT_EQ(d.probes[1].verdict, ProbeVerdict::kFree);
  EXPECT_EQ(d.probes[2].detail, "");  // reachable: nothing to probe
  for (const ProbeRequest& r : prober.asked) EXPECT_EQ(r.interfaceName, "eth0");
  // Without a prober the first free address as far as the search knows.
  const ProbedDiagnoses unprobed = DiagnoseAndProbe(devices, kHost, {});
  EXPECT_EQ(MendText(unprobed.diagnoses[0]), "10.57.0.2 255.255.255.0 0.0.0.0");
  EXPECT_EQ(unprobed.probes[0].verdict, ProbeVerdict::kNotProbed);
  EXPECT_EQ(unprobed.probes[0].detail, "probing was off");
  // A link that cannot be probed says so, and its reason is kept.
  ScriptedProber cannot{{}, ProbeVerdict::kNotProbed};
  const ProbedDiagnoses notProbed = DiagnoseAndProbe(devices, kHost, cannot.Batch());
  EXPECT_EQ(notProbed.probes[0].verdict, ProbeVerdict::kNotProbed);
  EXPECT_EQ(notProbed.probes[0].detail, "a scripted probe");
  // Every address in use: probing stops after its rounds, and says so.
  ScriptedProber busy;
  for (int k = 2; k < 254; ++k) busy.held.push_back({"eth0", A("10.57.0.0") + k});
  const ProbedDiagnoses exhausted = DiagnoseAndProbe({devices[0]}, kHost, busy.Batch());
  EXPECT_EQ(exhausted.probes[0].verdict, ProbeVerdict::kNotProbed);
  EXPECT_NE(exhausted.probes[0].detail.find("rounds"), std::string::npos);
}

// A subnet with no address left is never offered as having one.
TEST(NetworkDiagnosis, NoSuggestionFromASubnetWithoutAFreeAddress) {
  const std::vector<HostInterface> host{{"tun0", A("10.60.0.1"), 32}, {"p2p", A("10.61.0.0"), 31}};
  const std::vector<DeviceDiagnosis> d =
      DiagnoseDevices({Device("02-00-00-00-00-01", "0.0.0.0", "255.255.255.0", "0.0.0.0", {"tun0"}),
                       Device("02-00-00-00-00-02", "0.0.0.0", "255.255.255.0", "0.0.0.0", {"p2p"}),
                       Device("02-00-00-00-00-03", "0.0.0.0", "255.255.255.0", "0.0.0.0", {"p2p"})},
                      host);
  ASSERT_EQ(d.size(), 3u);
  EXPECT_FALSE(d[0].mend);
  EXPECT_EQ(d[0].problems[0].fix,
            "give it an address of a subnet with room for it: tun0's 10.60.0.1/32 has no free "
            "address");
  EXPECT_EQ(MendText(d[1]), "10.61.0.1 255.255.255.254 0.0.0.0");
  EXPECT_FALSE(d[2].mend);
  EXPECT_EQ(d[2].problems[0].fix.find("a free address in"), std::string::npos);
}

// The same reply through two adapters is one device; two devices with one
// MAC on two networks are both listed, and told.
TEST(NetworkDiagnosis, OneMacOnTwoNetworksListsBothDevices) {
  const auto record = [](const char* ip, const char* name) {
    DeviceRecord r;
    r.mac = "02-00-00-00-00-01";
    r.name = name;
    r.ip = ip;
    r.mask = "255.255.255.0";
    r.gateway = "0.0.0.0";
    return r;
  };
  SeenDevices seen(10);
  EXPECT_EQ(seen.Add(record("10.57.0.101", "Press"), "eth0", "10.57.0.1"),
            SeenDevices::Sighting::kNew);
  EXPECT_EQ(seen.Add(record("10.57.0.101", "Press"), "eth1", "10.58.0.1"),
            SeenDevices::Sighting::kNewInterface);
  EXPECT_EQ(seen.Add(record("10.57.0.101", "Press"), "eth1", "10.58.0.1"),
            SeenDevices::Sighting::kAgain);
  // Another answer on an adapter the MAC answered on already: the first stays.
  EXPECT_EQ(seen.Add(record("10.57.0.111", "Changed"), "eth0", "10.57.0.1"),
            SeenDevices::Sighting::kAgain);
  ASSERT_EQ(seen.Size(), 1u);

  SeenDevices twins(10);
  EXPECT_EQ(twins.Add(record("10.57.0.101", "Press"), "eth0", "10.57.0.1"),
            SeenDevices::Sighting::kNew);
  EXPECT_EQ(twins.Add(record("10.58.0.101", "Line 2"), "eth1", "10.58.0.1"),
            SeenDevices::Sighting::kNew);
  EXPECT_EQ(twins.Add(record("10.58.0.101", "Line 2"), "eth1", "10.58.0.1"),
            SeenDevices::Sighting::kAgain);
  ASSERT_EQ(twins.Size(), 2u);
  const std::vector<DeviceDiagnosis> d = DiagnoseDevices(twins.List(), kHost);
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(Kinds(d[0]), std::vector<std::string>{"one_mac_on_two_networks"});
  EXPECT_EQ(Kinds(d[1]), std::vector<std::string>{"one_mac_on_two_networks"});
  EXPECT_NE(d[0].problems[0].reason.find("10.58.0.101 on eth1"), std::string::npos)
      << d[0].problems[0].reason;
  EXPECT_FALSE(d[0].problems[0].fix.empty());
}

}  // namespace
}  // namespace oxlo
