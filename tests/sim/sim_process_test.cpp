// The oxlo-sim program end to end, over loopback only: every run binds
// 127.0.0.1 and replies by unicast, so nothing leaves this machine.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "oxlo/version.h"
#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/device_side.h"
#include "protocol/wire/discovery.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/settings_messages.h"
#include "sim_test_support.h"
#include "transport/sockets/endpoint.h"

extern char** environ;

namespace oxlo::sim {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

const MacField kFirstMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

// One oxlo-sim run with its stdout and stderr captured together.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& arguments) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> all = {OXLO_SIM_PROGRAM};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    const int status = posix_spawn(&pid_, all[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    output_ = pipeFds[0];
    if (status != 0) throw std::runtime_error("cannot start " + all[0]);
  }

  ~SimProcess() {
    if (pid_ > 0 && !exitCode_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(output_);
  }

  // The port from the readiness line, or nullopt when the program ended or
  // stayed silent.
  std::optional<std::uint16_t> WaitReady() {
    static const std::regex ready(R"(oxlo-sim: (\d+) device\(s\) on port (\d+)\n)");
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    std::smatch match;
    while (!std::regex_search(text_, match, ready)) {
      if (!ReadSome(deadline)) return std::nullopt;
    }
    devices_ = std::stoi(match[1]);
    return static_cast<std::uint16_t>(std::stoi(match[2]));
  }

  int Devices() const { return devices_; }

  // Exit code after the signal; -1 when it did not end within the time.
  int Stop(int signal) {
    ::kill(pid_, signal);
    return Wait();
  }

  int Wait() {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        while (ReadSome(std::chrono::steady_clock::now())) {
        }
        return *exitCode_;
      }
      ReadSome(std::chrono::steady_clock::now() + 50ms);
    }
    return -1;
  }

  const std::string& Output() const { return text_; }

 private:
  bool ReadSome(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{output_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count()))) <= 0) return false;
    char buffer[4096];
    const ssize_t n = ::read(output_, buffer, sizeof buffer);
    if (n <= 0) return false;
    text_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int output_ = -1;
  std::string text_;
  int devices_ = 0;
  std::optional<int> exitCode_;
};

// The tool's side: a loopback endpoint that keeps what it receives.
class Tool {
 public:
  Tool() : endpoint_({transport::Binding{"127.0.0.1", 0}}) {
    endpoint_.SetBroadcastEnabled(false);
    endpoint_.SetSocketReceiveBuffer(32 << 20);
    endpoint_.SetReadHandler([this](const transport::Datagram& datagram) {
      const std::lock_guard lock(mutex_);
      received_.push_back({datagram.data, std::chrono::steady_clock::now()});
      changed_.notify_all();
    });
    endpoint_.Open();
  }

  std::uint16_t Port() const { return endpoint_.CurrentBinding()->port; }
  void Send(std::uint16_t port, const Bytes& datagram) {
    endpoint_.SendTo("127.0.0.1", port, datagram);
  }

  struct Received {
    Bytes data;
    std::chrono::steady_clock::time_point at;
  };

  // Waits until `count` datagrams have come (or the time is up), then a
  // little longer to see any surplus; returns them all and starts afresh.
  std::vector<Received> Collect(std::size_t count, std::chrono::milliseconds timeout = 10s,
                                std::chrono::milliseconds settle = 100ms) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
    changed_.wait_for(lock, settle, [&] { return received_.size() > count; });
    return std::exchange(received_, {});
  }

 private:
  transport::Endpoint endpoint_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Received> received_;
};

std::vector<std::string> Loopback(std::vector<std::string> more) {
  std::vector<std::string> arguments = {"--reply", "unicast", "--bind", "127.0.0.1", "--port", "0"};
  arguments.insert(arguments.end(), more.begin(), more.end());
  return arguments;
}

}  // namespace

TEST(SimProcess, AnswersTheQueryLogsItAndStopsOnEitherSignal) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    TempDir dir;
    const auto logFile = dir.Path() / "received.jsonl";
    SimProcess sim(Loopback({"--devices", "3", "--log", logFile.string()}));
    const auto port = sim.WaitReady();
    ASSERT_TRUE(port) << sim.Output();
    EXPECT_EQ(sim.Devices(), 3);

    Tool tool;
    tool.Send(*port, BuildDiscoveryQuery());
    const auto replies = tool.Collect(3);
    ASSERT_EQ(replies.size(), 3u);
    std::set<std::string> names;
    for (const auto& reply : replies) names.insert(ParseDiscoveryReply(reply.data).value().name);
    EXPECT_EQ(names, (std::set<std::string>{"Oxlo-1", "Oxlo-2", "Oxlo-3"}));

    // The line is flushed while the program still runs.
    std::ifstream log(logFile);
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    const auto record = nlohmann::json::parse(line);
    EXPECT_EQ(record.at("source"), "127.0.0.1");
    EXPECT_EQ(record.at("port"), tool.Port());
    EXPECT_EQ(record.at("hex"), "026703");

    EXPECT_EQ(sim.Stop(signal), 0) << sim.Output();
  }
}

TEST(SimProcess, ThousandsOfDevicesAnswerOneQuery) {
  SimProcess sim(Loopback({"--devices", "3000"}));
  const auto port = sim.WaitReady();
  ASSERT_TRUE(port) << sim.Output();
  Tool tool;
  tool.Send(*port, BuildDiscoveryQuery());
  const auto replies = tool.Collect(3000, 20s);
  std::set<std::string> macs;
  for (const auto& reply : replies) macs.insert(ParseDiscoveryReply(reply.data).value().mac);
  EXPECT_EQ(macs.size(), 3000u);
  EXPECT_EQ(sim.Stop(SIGTERM), 0) << sim.Output();
}

TEST(SimProcess, UploadsFirmwareAndHonoursDelayAndDuplicate) {
  TempDir dir;
  SimProcess sim(Loopback(
      {"--firmware-out", (dir.Path() / "images").string(), "--delay", "150", "--duplicate"}));
  const auto port = sim.WaitReady();
  ASSERT_TRUE(port) << sim.Output();
  Tool tool;

  const auto sent = std::chrono::steady_clock::now();
  tool.Send(*port, BuildApplyCommand(kFirstMac));
  const auto acks = tool.Collect(2);
  ASSERT_EQ(acks.size(), 2u);
  for (const auto& ack : acks) {
    EXPECT_EQ(ack.data, BuildApplyAck(kFirstMac));
    EXPECT_GE(ack.at - sent, 150ms);
  }

  const Bytes image = testing::Image(1000);
  FirmwareUpload upload(kFirstMac, testing::ReaderOver(image));
  while (upload.State() == FirmwareUpload::kReadyToSend) {
    tool.Send(*port, upload.NextMessage());
    const auto replies = tool.Collect(2);
    ASSERT_EQ(replies.size(), 2u);
    upload.OnReply(replies.front().data);
  }
  EXPECT_EQ(upload.State(), FirmwareUpload::kSucceeded);
  EXPECT_EQ(testing::ReadFile(dir.Path() / "images" / "02-00-00-00-00-01.bin"), image);
  EXPECT_EQ(sim.Stop(SIGTERM), 0) << sim.Output();
}

TEST(SimProcess, DeviceAndFaultOptionsTakeEffect) {
  TempDir dir;
  const auto config = dir.Path() / "devices.json";
  std::ofstream(config) << R"([{"mac": "02-00-00-00-00-01", "name": "From file"}])";
  const Bytes chunk = testing::Image(10);
  Bytes cutReply = BuildFirmwareReply(kFirstMac, 0, 0x00);
  cutReply.resize(10);
  cutReply.back() = 0x03;
  struct Case {
    std::vector<std::string> arguments;
    Bytes request;
    std::vector<Bytes> expected;
  };
  const Case cases[] = {
      {{"--silent", "A"}, BuildApplyCommand(kFirstMac), {}},
      {{"--drop", "1"}, BuildApplyCommand(kFirstMac), {}},
      {{"--reject-firmware-at", "0"},
       BuildFirmwareData(kFirstMac, 0, chunk),
       {BuildFirmwareReply(kFirstMac, 0, 0x01)}},
      {{"--reject-firmware-at", "1"},
       BuildFirmwareData(kFirstMac, 0, chunk),
       {BuildFirmwareReply(kFirstMac, 0, 0x00)}},
      {{"--cut-firmware-replies", "10"}, BuildFirmwareData(kFirstMac, 0, chunk), {cutReply}},
      {{"--cut-firmware-replies", "10", "--cut-firmware-replies-from", "1"},
       BuildFirmwareData(kFirstMac, 0, chunk),
       {BuildFirmwareReply(kFirstMac, 0, 0x00)}},
      {{"--mac-base", "02-00-00-00-10-00"},
       BuildApplyCommand(MacField{0x02, 0x00, 0x00, 0x00, 0x10, 0x01}),
       {BuildApplyAck(MacField{0x02, 0x00, 0x00, 0x00, 0x10, 0x01})}},
      {{"--config", config.string()},
       BuildReadRequest(ReadRequestKind::kNetwork, kFirstMac),
       {BuildNetworkReply(kFirstMac, NetworkSettings{0,
                                                     {10, 57, 0, 101},
                                                     {10, 57, 0, 1},
                                                     {255, 255, 255, 0},
                                                     {10, 57, 0, 1},
                                                     "From file",
                                                     1,
                                                     0})}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.front() + " " + c.arguments.back());
    SimProcess sim(Loopback(c.arguments));
    const auto port = sim.WaitReady();
    ASSERT_TRUE(port) << sim.Output();
    Tool tool;
    tool.Send(*port, c.request);
    std::vector<Bytes> received;
    for (const auto& reply :
         tool.Collect(c.expected.size(), 10s, c.expected.empty() ? 300ms : 100ms)) {
      received.push_back(reply.data);
    }
    EXPECT_EQ(received, c.expected);
    EXPECT_EQ(sim.Stop(SIGTERM), 0) << sim.Output();
  }
}

// The lab's rollout case: one device refuses the end message, one comes back
// with the version it had, the third with the new one; each firmware reply
// waits for its flash time and a rebooted device is silent for its reboot.
TEST(SimProcess, AnUpgradeRebootsEachDeviceAsItsFileSays) {
  TempDir dir;
  const auto config = dir.Path() / "devices.json";
  std::ofstream(config) << R"([{"firmware": {"refuse_end": true}},
                              {"version": "1.1.0", "firmware": {"version_after": "1.1.0"}},
                              {"version": "1.1.0"}])";
  SimProcess sim(Loopback({"--config", config.string(), "--reboot-ms", "1000", "--version-after",
                           "2.0.0", "--flash-ms", "50"}));
  const auto port = sim.WaitReady();
  ASSERT_TRUE(port) << sim.Output();
  Tool tool;

  const Bytes image = testing::Image(300);
  const std::uint8_t endStatus[] = {0x07, 0x00, 0x00};
  std::map<std::string, std::chrono::steady_clock::time_point> endSent;
  for (std::uint8_t last = 1; last <= 3; ++last) {
    const MacField mac{0x02, 0x00, 0x00, 0x00, 0x00, last};
    SCOPED_TRACE(MacToText(mac));
    FirmwareUpload upload(mac, testing::ReaderOver(image));
    std::uint8_t status = 0xFF;
    while (upload.State() == FirmwareUpload::kReadyToSend) {
      const auto sent = std::chrono::steady_clock::now();
      tool.Send(*port, upload.NextMessage());
      endSent[MacToText(mac)] = sent;
      const auto replies = tool.Collect(1, 10s, 0ms);
      ASSERT_EQ(replies.size(), 1u);
      EXPECT_GE(replies[0].at - sent, 50ms);
      status = ParseFirmwareReply(replies[0].data).status.value_or(0xFF);
      upload.OnReply(replies[0].data);
    }
    EXPECT_EQ(status, endStatus[last - 1]);
  }

  // Asks until every device has answered; a rebooting one cannot answer
  // before its reboot is over.
  std::map<std::string, std::string> versions;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (versions.size() < 3 && std::chrono::steady_clock::now() < deadline) {
    tool.Send(*port, BuildDiscoveryQuery());
    for (const auto& reply : tool.Collect(3, 100ms, 0ms)) {
      const auto record = ParseDiscoveryReply(reply.data).value();
      if (record.mac != "02-00-00-00-00-01") {
        EXPECT_GE(reply.at - endSent[record.mac], 1000ms) << record.mac;
      }
      versions.emplace(record.mac, record.version);
    }
  }
  EXPECT_EQ(versions, (std::map<std::string, std::string>{{"02-00-00-00-00-01", "1.0.1"},
                                                          {"02-00-00-00-00-02", "1.1.0"},
                                                          {"02-00-00-00-00-03", "2.0.0"}}));
  EXPECT_EQ(sim.Stop(SIGTERM), 0) << sim.Output();
}

TEST(SimProcess, UsageErrorsEndWithCodeTwo) {
  TempDir dir;
  const auto bad = dir.Path() / "bad.json";
  std::ofstream(bad) << R"([{"ip": "10.57.0.300"}])";
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const Case cases[] = {
      {{"--config", bad.string()}, bad.string() + ": devices[0].ip"},
      {{"--config", (dir.Path() / "absent.json").string()}, "absent.json"},
      {{"--silent", "g,xy"}, "'xy'"},
      {{"--drop", "1.5"}, "--drop"},
      {{"--reply", "multicast"}, "--reply"},
      {{"--devices", "2", "--config", bad.string()}, "excludes"},
      {{"--no-such-option"}, "no-such-option"},
      {{"--mac-base", "02-00-00-10-00"}, "--mac-base: '02-00-00-10-00'"},
      {{"--mac-base", "02-00-00-00-10-00", "--config", bad.string()}, "excludes"},
      {{"--log", (dir.Path() / "missing" / "log").string()}, "cannot be written"},
      {{"--cut-firmware-replies", "18"}, "--cut-firmware-replies"},
      {{"--cut-firmware-replies-from", "3"}, "requires --cut-firmware-replies"},
      {{"--version-after", "2.0.0-rc1"}, "--version-after: '2.0.0-rc1' is longer than 8"},
      {{"--reboot-ms", "600001"}, "--reboot-ms"},
      {{"--flash-ms", "-1"}, "--flash-ms"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    SimProcess sim(Loopback(c.arguments));
    EXPECT_EQ(sim.Wait(), 2);
    EXPECT_NE(sim.Output().find(c.message), std::string::npos) << sim.Output();
  }
}

TEST(SimProcess, VersionIsPrintedAndEndsWithCodeZero) {
  SimProcess sim({"--version"});
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_EQ(sim.Output(), "oxlo-sim " + std::to_string(kVersionMajor) + "." +
                              std::to_string(kVersionMinor) + "." + std::to_string(kVersionPatch) +
                              "\n");
}

TEST(SimProcess, ATakenPortIsReported) {
  Tool occupant;
  SimProcess sim(
      {"--reply", "unicast", "--bind", "127.0.0.1", "--port", std::to_string(occupant.Port())});
  EXPECT_EQ(sim.Wait(), 1);
  EXPECT_NE(sim.Output().find("Could not bind socket. Address and port are already in use."),
            std::string::npos)
      << sim.Output();
}

}  // namespace oxlo::sim
