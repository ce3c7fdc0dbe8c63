// The floor for discovery timings: round trips of one small datagram over the
// same path, with nothing but the kernel in between.
//
//   udp_pingpong serve PORT
//   udp_pingpong ping ADDRESS PORT COUNT
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int BoundSocket(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    std::perror("bind");
    std::exit(1);
  }
  return fd;
}

int Serve(std::uint16_t port) {
  const int fd = BoundSocket(port);
  std::fprintf(stderr, "pingpong: serving on %u\n", port);
  char buffer[256];
  while (true) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n =
        recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n > 0)
      sendto(fd, buffer, static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&from),
             length);
  }
}

int Ping(const char* address, std::uint16_t port, int count) {
  const int fd = BoundSocket(0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, address, &to.sin_addr);
  std::vector<double> rtts;
  char buffer[256] = {2, 'g', 3};
  for (int i = 0; i < count; ++i) {
    const auto start = std::chrono::steady_clock::now();
    sendto(fd, buffer, 3, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;  // lost: not counted
    recv(fd, buffer, sizeof buffer, 0);
    rtts.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count());
  }
  if (rtts.empty()) return 1;
  std::sort(rtts.begin(), rtts.end());
  std::printf("pingpong: %zu/%d replies, median %.1f us, p99 %.1f us\n", rtts.size(), count,
              rtts[rtts.size() / 2], rtts[rtts.size() * 99 / 100]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "serve") == 0)
    return Serve(static_cast<std::uint16_t>(std::atoi(argv[2])));
  if (argc == 5 && std::strcmp(argv[1], "ping") == 0) {
    return Ping(argv[2], static_cast<std::uint16_t>(std::atoi(argv[3])), std::atoi(argv[4]));
  }
  std::fprintf(stderr, "usage: udp_pingpong serve PORT | ping ADDRESS PORT COUNT\n");
  return 2;
}
