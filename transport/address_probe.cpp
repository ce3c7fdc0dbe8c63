#include "transport/address_probe.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/if_ether.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "transport/descriptor.h"
#include "transport/endpoint.h"

namespace oxlo::transport {
namespace {

constexpr std::size_t kArpSize = sizeof(ether_arp);

void PutAddress(std::uint8_t* to, std::uint32_t hostOrder) {
  const std::uint32_t network = htonl(hostOrder);
  std::memcpy(to, &network, 4);
}

std::uint32_t GetAddress(const std::uint8_t* from) {
  std::uint32_t network = 0;
  std::memcpy(&network, from, 4);
  return ntohl(network);
}

}  // namespace

ProbeResult ProbeAddress(const std::string& interfaceName, std::uint32_t address,
                         std::chrono::milliseconds wait) {
  Descriptor fd(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP)));
  if (!fd) {
    if (errno == EPERM || errno == EACCES || errno == EAFNOSUPPORT) return ProbeResult::kNotProbed;
    throw SocketError::FromErrno(errno);
  }
  ifreq request{};
  if (interfaceName.empty() || interfaceName.size() >= sizeof request.ifr_name) {
    return ProbeResult::kNotProbed;
  }
  std::memcpy(request.ifr_name, interfaceName.data(), interfaceName.size());
  if (::ioctl(fd.get(), SIOCGIFHWADDR, &request) != 0) return ProbeResult::kNotProbed;
  if (request.ifr_hwaddr.sa_family != ARPHRD_ETHER) return ProbeResult::kNotProbed;
  const unsigned index = ::if_nametoindex(interfaceName.c_str());
  if (index == 0) return ProbeResult::kNotProbed;

  sockaddr_ll link{};
  link.sll_family = AF_PACKET;
  link.sll_protocol = htons(ETH_P_ARP);
  link.sll_ifindex = static_cast<int>(index);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&link), sizeof link) != 0) {
    throw SocketError::FromErrno(errno);
  }

  ether_arp probe{};
  probe.arp_hrd = htons(ARPHRD_ETHER);
  probe.arp_pro = htons(ETH_P_IP);
  probe.arp_hln = ETH_ALEN;
  probe.arp_pln = 4;
  probe.arp_op = htons(ARPOP_REQUEST);
  std::memcpy(probe.arp_sha, request.ifr_hwaddr.sa_data, ETH_ALEN);
  PutAddress(probe.arp_tpa, address);  // sender and target hardware: zero
  link.sll_halen = ETH_ALEN;
  std::memset(link.sll_addr, 0xFF, ETH_ALEN);
  if (::sendto(fd.get(), &probe, kArpSize, 0, reinterpret_cast<const sockaddr*>(&link),
               sizeof link) != static_cast<ssize_t>(kArpSize)) {
    throw SocketError::FromErrno(errno);
  }

  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return ProbeResult::kFree;
    pollfd p{fd.get(), POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) throw SocketError::FromErrno(errno);
    if (ready <= 0) continue;
    std::array<std::uint8_t, 64> buffer{};
    const ssize_t size = ::recv(fd.get(), buffer.data(), buffer.size(), 0);
    if (size < static_cast<ssize_t>(kArpSize)) continue;
    ether_arp answer{};
    std::memcpy(&answer, buffer.data(), kArpSize);
    if (ntohs(answer.arp_pro) != ETH_P_IP || answer.arp_pln != 4) continue;
    // A host that holds the address says so as the sender of a reply or of
    // its own request; another prober (sender 0.0.0.0) holds nothing.
    if (GetAddress(answer.arp_spa) == address &&
        std::memcmp(answer.arp_sha, probe.arp_sha, ETH_ALEN) != 0) {
      return ProbeResult::kInUse;
    }
  }
}

}  // namespace oxlo::transport
