// The same firmware upload as the window's, driven from one thread over a
// plain blocking socket: what the messages and the simulated device cost on
// their own, between the bare UDP round trip and the window's time.
// Runs inside scripts/lab next to one simulated device.
//   firmware_bare [--size BYTES] [--mac XX-XX-XX-XX-XX-XX] [--label TEXT]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/bytes.h"
#include "protocol/wire/frame.h"

namespace {

using oxlo::bench::CpuUs;
using oxlo::bench::WallUs;

bool ParseMac(const char* text, oxlo::MacField& mac) {
  unsigned b[6];
  if (std::sscanf(text, "%2x-%2x-%2x-%2x-%2x-%2x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6)
    return false;
  for (int i = 0; i < 6; ++i) mac[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(b[i]);
  return true;
}

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: firmware_bare [--size BYTES] [--mac XX-XX-XX-XX-XX-XX] [--label TEXT]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t size = 1 << 20;
  oxlo::MacField mac{0x02, 0, 0, 0, 0, 0x01};  // the simulator's first generated device
  std::string label = "bare";
  for (int i = 1; i < argc; i += 2) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) Usage();
    if (arg == "--size") {
      size = static_cast<std::size_t>(std::atoll(argv[i + 1]));
    } else if (arg == "--mac") {
      if (!ParseMac(argv[i + 1], mac)) Usage();
    } else if (arg == "--label") {
      label = argv[i + 1];
    } else {
      Usage();
    }
  }

  std::vector<std::uint8_t> image(size);
  std::mt19937 random(2057);
  for (std::uint8_t& byte : image) byte = static_cast<std::uint8_t>(random() & 0xFF);

  // Replies come back as broadcasts to the device port, as the window gets them.
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(oxlo::kDevicePort);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    std::perror("firmware_bare: bind");
    return 1;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(oxlo::kDevicePort);
  to.sin_addr.s_addr = htonl(INADDR_BROADCAST);

  std::size_t offset = 0;
  oxlo::FirmwareUpload upload(mac, [&](std::span<std::uint8_t> buffer) {
    const std::size_t n = std::min(buffer.size(), image.size() - offset);
    std::memcpy(buffer.data(), image.data() + offset, n);
    offset += n;
    return n;
  });
  std::vector<double> rtts;
  std::uint8_t reply[2048];
  const double wall_start = WallUs();
  const double cpu_start = CpuUs();
  while (upload.State() == oxlo::FirmwareUpload::kReadyToSend) {
    const oxlo::Bytes message = upload.NextMessage();
    const double sent = WallUs();
    sendto(fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    const double deadline = sent + static_cast<double>(upload.ReplyTimeout().count()) * 1e3;
    bool replied = false;
    while (!replied) {
      const double left_ms = (deadline - WallUs()) / 1e3;
      pollfd p{fd, POLLIN, 0};
      if (left_ms <= 0 || poll(&p, 1, static_cast<int>(left_ms) + 1) <= 0) break;
      const ssize_t n = recv(fd, reply, sizeof reply, 0);
      if (n <= 0) continue;
      const oxlo::ByteView datagram(reply, static_cast<std::size_t>(n));
      if (oxlo::AcceptDatagram(datagram) != oxlo::code::kFirmwareReply) continue;
      // A late copy of an earlier answer is no answer to this message.
      replied = upload.OnReply(datagram) != oxlo::ReplyVerdict::kIgnored;
      if (replied) rtts.push_back(WallUs() - sent);
    }
    if (!replied) upload.OnTimeout();
  }
  const double wall_us = WallUs() - wall_start;
  const double cpu_us = CpuUs() - cpu_start;
  std::sort(rtts.begin(), rtts.end());
  const bool ok = upload.State() == oxlo::FirmwareUpload::kSucceeded;
  std::printf(
      "bare firmware (%s): %zu bytes, %zu messages in %.0f ms, %.1f us each (median round trip "
      "%.1f us),"
      " CPU %.1f%% of wall; %s\n",
      label.c_str(), size, rtts.size(), wall_us / 1e3,
      rtts.empty() ? 0.0 : wall_us / static_cast<double>(rtts.size()),
      rtts.empty() ? 0.0 : rtts[rtts.size() / 2], 100.0 * cpu_us / wall_us,
      ok ? "accepted" : "failed");
  close(fd);
  return ok ? 0 : 1;
}
