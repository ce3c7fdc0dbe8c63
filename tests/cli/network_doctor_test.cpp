// What the doctor prints of hostile or awkward devices.
#include "cli/network_doctor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
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
           "--gateway 0.0.0.0\n"
           "       (--name left out: the device's name cannot be written safely here; assign "
           "keeps it as it is)\n",
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

// Runs `command` with `sh -c` where `oxlo` is a stub that writes its
// arguments, one per NUL, into a file; gives them back.
std::vector<std::string> ArgumentsOfCommand(const std::filesystem::path& dir,
                                            const std::string& command) {
  const std::filesystem::path stub = dir / "oxlo";
  const std::filesystem::path seen = dir / "argv";
  {
    std::ofstream file(stub);
    file << "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > \"" << seen.string() << "\"\n";
  }
  std::filesystem::permissions(stub, std::filesystem::perms::owner_all);
  std::filesystem::remove(seen);
  const std::string script = (dir / "run.sh").string();
  {
    std::ofstream file(script, std::ios::binary);
    file << command;
  }
  const std::string call = "cd '" + dir.string() + "' && PATH='" + dir.string() +
                           ":/usr/bin:/bin' sh -c \"$(cat run.sh)\"";
  EXPECT_EQ(std::system(call.c_str()), 0) << command;
  std::ifstream in(seen, std::ios::binary);
  std::vector<std::string> arguments;
  for (std::string argument; std::getline(in, argument, '\0');) arguments.push_back(argument);
  if (!arguments.empty()) arguments.front() = "oxlo";
  return arguments;
}

// The printed command, run by a POSIX shell (dash), hands `oxlo assign`
// exactly its arguments and runs nothing from the name; a name that cannot
// be written safely is left out and the line says so, also in the JSON.
TEST(NetworkDoctor, PrintedCommandsRunNothingFromTheName) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "doctor_sh";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  struct Case {
    std::string name;
    std::string unreadable;
    bool written;
  };
  const Case cases[] = {
      {"b'; touch pwned #", "", true},
      {"$(touch pwned) `touch pwned` \\", "", true},
      {"F\xC3\xB6rderband", "", true},
      {"", "", true},
      {"a\nb'; touch pwned #", "", false},
      {"invoice\xE2\x80\xAEgnp.exe", "", false},
      {"",
       "Pr\xFC"
       "fstand",
       false},  // Latin-1: no UTF-8
  };
  for (const Case& c : cases) {
    SeenDevice device = Device("02-00-00-00-00-01", "", "192.168.1.10", "192.168.1.1");
    device.record.name = c.name;
    device.record.unreadableName = c.unreadable;
    const Examination e = Examine({device}, {{"eth0", 0x0A390001, 24}}, /*probe=*/{});
    ASSERT_TRUE(e.diagnoses[0].mend);
    std::vector<std::string> want{"oxlo",          "assign",    "02-00-00-00-00-01",
                                  "--ip",          "10.57.0.2", "--mask",
                                  "255.255.255.0", "--gateway", "0.0.0.0"};
    if (c.written) want.insert(want.end(), {"--name", c.name});

    std::ostringstream text;
    PrintDoctorText(text, e);
    const std::string printed = text.str();
    const std::size_t run = printed.find("  run: ");
    ASSERT_NE(run, std::string::npos) << printed;
    const std::string line = printed.substr(run + 7, printed.find('\n', run) - run - 7);
    EXPECT_EQ(ArgumentsOfCommand(dir, line), want) << line;
    EXPECT_EQ(printed.find("--name left out") != std::string::npos, !c.written) << printed;

    std::ostringstream json;
    PrintDoctorJson(json, e);
    const nlohmann::json mend = nlohmann::json::parse(json.str())[0]["mend"];
    EXPECT_EQ(mend["argv"].get<std::vector<std::string>>(), want);
    EXPECT_EQ(mend["name_left_out"], !c.written);
    EXPECT_EQ(ArgumentsOfCommand(dir, mend["command"].get<std::string>()), want);
    EXPECT_FALSE(std::filesystem::exists(dir / "pwned")) << line;
  }
}

// The doctor's suggestion with a taken first candidate: the scene of the
// window's test, with the same answer (10.57.0.3), and each line says how
// its address was probed, or why it was not.
TEST(NetworkDoctor, AProbedCandidateInUseIsPassedOverAndTheProbeNamed) {
  const std::vector<SeenDevice> devices{
      Device("02-00-00-00-00-02", "Elsewhere", "192.168.1.50", "192.168.1.1"),
  };
  const std::vector<HostInterface> host{{"eth0", 0x0A390001, 24}, {"eth1", 0x0A3A0001, 24}};
  const auto scripted = [](ProbeVerdict free) {
    return [free](const std::vector<ProbeRequest>& requests) {
      std::vector<ProbeFinding> found;
      for (const ProbeRequest& r : requests) {
        const bool held =
            free == ProbeVerdict::kFree && r.interfaceName == "eth0" && r.address == 0x0A390002;
        found.push_back({held ? ProbeVerdict::kInUse : free,
                         free == ProbeVerdict::kFree ? "a datagram and the kernel's neighbour table"
                                                     : "eth0 is no Ethernet link: it has no ARP"});
      }
      return found;
    };
  };
  std::ostringstream out;
  PrintDoctorText(out, Examine(devices, host, scripted(ProbeVerdict::kFree)));
  for (const char* line : {
           "    fix: give it 10.57.0.3 with mask 255.255.255.0 and no gateway\n",
           "       (no host answered a datagram and the kernel's neighbour table for 10.57.0.3)\n",
       }) {
    EXPECT_NE(out.str().find(line), std::string::npos) << line << "\nnot in\n" << out.str();
  }
  std::ostringstream json;
  PrintDoctorJson(json, Examine(devices, host, scripted(ProbeVerdict::kNotProbed)));
  const nlohmann::json mend = nlohmann::json::parse(json.str())[0]["mend"];
  EXPECT_EQ(mend["probed"], false);
  EXPECT_EQ(mend["probe"], "not probed (eth0 is no Ethernet link: it has no ARP): 10.57.0.2");
}

}  // namespace
}  // namespace oxlo::cli
