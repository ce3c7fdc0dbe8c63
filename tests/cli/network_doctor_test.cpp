// What the doctor prints of hostile or awkward devices.
#include "cli/network_doctor.h"

#include <gtest/gtest.h>

#include <sstream>

namespace oxlo::cli {
namespace {

SeenDevice Device(const char* mac, const char* name, const char* ip, const char* gateway) {
  DeviceRecord record;
  record.mac = mac;
  record.name = name;
  record.ip = ip;
  record.mask = "255.255.255.0";
  record.gateway = gateway;
  return {record, {"eth0"}, "10.57.0.1"};
}

// A name that would retitle the terminal is shown escaped, also in the
// command; each finding has its fix, each mend its command and whether its
// address was probed; information alone is no problem.
TEST(NetworkDoctor, TextNamesEachFindingAndItsCommandSafely) {
  std::vector<SeenDevice> devices{
      Device("02-00-00-00-00-01", "\x1b]0;pwned\x07", "192.168.1.10", "192.168.1.1"),
      Device("02-00-00-00-00-02", "Gate", "10.57.0.102", "10.9.9.9"),
      Device("02-00-00-00-00-03", "Twice", "10.57.0.103", "10.57.0.1"),
  };
  devices[2].interfaces.push_back("eth1");
  const Examination e =
      Examine(devices, {{"eth0", 0x0A390001, 24}, {"eth1", 0x0A3A0001, 24}}, /*probe=*/{});
  EXPECT_TRUE(HasProblem(e.diagnoses[0]));
  EXPECT_TRUE(HasProblem(e.diagnoses[1]));
  EXPECT_FALSE(HasProblem(e.diagnoses[2]));

  std::ostringstream out;
  PrintDoctorText(out, e);
  const std::string text = out.str();
  for (char c : text) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << text;
  for (const char* line : {
           "  other subnet: 192.168.1.10 is outside eth0's subnet 10.57.0.0/24",
           "    fix: give it 10.57.0.2 with mask 255.255.255.0 and no gateway\n",
           "  run: oxlo assign 02-00-00-00-00-01 --ip 10.57.0.2 --mask 255.255.255.0 "
           "--gateway 0.0.0.0 --name $'\\x1b]0;pwned\\x07'\n",
           "       (not probed (probing was off): 10.57.0.2)\n",
           "  gateway outside subnet: gateway 10.9.9.9 is outside its subnet 10.57.0.0/24\n",
           "  run: oxlo assign 02-00-00-00-00-02 --ip 10.57.0.102 --mask 255.255.255.0 "
           "--gateway 0.0.0.0 --name 'Gate'\n",
           "  seen on several interfaces: its replies came in on eth0 and eth1",
           "2 of 3 devices with problems.\n",
       }) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\nnot in\n" << text;
  }
  // The gateway alone is mended with the address kept: no probe to report.
  EXPECT_EQ(text.find(": 10.57.0.102)"), std::string::npos) << text;
}

}  // namespace
}  // namespace oxlo::cli
