// Linux switches receive stamps on for the whole system a moment after the
// first socket asks for them (the switch is deferred to a worker); a
// datagram read before that carries the time it was read. Tests that judge
// replies by when they arrived wait for the switch first.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace oxlo::testing {

// True once a datagram that waited 20 ms in a socket is stamped when it came
// in, not when it was read; gives up after about two seconds.
inline bool WaitForArrivalStamps() {
  using namespace std::chrono_literals;
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof self;
  bool stamped = false;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&self), &length) == 0) {
    for (int attempt = 0; attempt < 100 && !stamped; ++attempt) {
      const char ping = 1;
      ::sendto(fd, &ping, 1, 0, reinterpret_cast<sockaddr*>(&self), sizeof self);
      std::this_thread::sleep_for(20ms);
      char byte = 0;
      iovec part{&byte, 1};
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
      msghdr message{};
      message.msg_iov = &part;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      if (::recvmsg(fd, &message, MSG_DONTWAIT) < 0) continue;
      const auto read = std::chrono::system_clock::now();
      for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
        timespec stamp{};
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        const auto arrived = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
        stamped = read - arrived >= 10ms;
      }
    }
  }
  ::close(fd);
  return stamped;
}

}  // namespace oxlo::testing
