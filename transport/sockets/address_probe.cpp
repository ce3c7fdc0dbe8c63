#include "transport/sockets/address_probe.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/if_ether.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "transport/descriptor.h"
#include "transport/sockets/endpoint.h"

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

constexpr std::chrono::milliseconds kNeighbourPoll{25};

ProbeFinding NotProbed(std::string why) {
  return {ProbeVerdict::kNotProbed, std::move(why)};
}

std::string ErrnoText(int error) {
  return SocketError::FromErrno(error).what();
}

std::string ReadNeighbourTable() {
  std::ifstream in("/proc/net/arp");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Whether one of `interfaceName`'s own addresses is `local` (host order).
bool AddressOfInterface(const std::string& interfaceName, std::uint32_t local) {
  for (const HostInterface& i : HostInterfaces()) {
    if (i.name == interfaceName && i.address == local) return true;
  }
  return false;
}

// Without the right to send ARP: a datagram to the address's discard port
// makes the kernel resolve it by ARP, and its neighbour table tells whether
// a host answered. A refusal of the datagram (ICMP port unreachable) is an
// answer too.
ProbeFinding ProbeByNeighbourTable(const std::string& interfaceName, std::uint32_t address,
                                   std::chrono::milliseconds wait) {
  constexpr char kHow[] = "a datagram and the kernel's neighbour table";
  if (NeighbourAnswered(ReadNeighbourTable(), interfaceName, address)) {
    return {ProbeVerdict::kInUse, kHow};
  }
  Descriptor fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) return NotProbed("no UDP socket: " + ErrnoText(errno));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(9);  // discard
  to.sin_addr.s_addr = htonl(address);
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    return NotProbed("no route to it: " + ErrnoText(errno));
  }
  // The kernel asks on the link the route takes: it must be this one.
  sockaddr_in local{};
  socklen_t size = sizeof local;
  if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &size) != 0 ||
      !AddressOfInterface(interfaceName, ntohl(local.sin_addr.s_addr))) {
    return NotProbed("the route to it does not leave through " + interfaceName);
  }
  if (::send(fd.get(), "", 0, 0) < 0 && errno != ECONNREFUSED) {
    return NotProbed("the datagram could not be sent: " + ErrnoText(errno));
  }
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (NeighbourAnswered(ReadNeighbourTable(), interfaceName, address)) {
      return {ProbeVerdict::kInUse, kHow};
    }
    std::array<char, 16> ignored{};
    if (::recv(fd.get(), ignored.data(), ignored.size(), MSG_DONTWAIT) < 0 &&
        errno == ECONNREFUSED) {
      return {ProbeVerdict::kInUse, kHow};
    }
    if (std::chrono::steady_clock::now() >= deadline) return {ProbeVerdict::kFree, kHow};
    std::this_thread::sleep_for(kNeighbourPoll);
  }
}

}  // namespace

bool NeighbourAnswered(const std::string& table, const std::string& interfaceName,
                       std::uint32_t address) {
  const std::string wanted = AddressText(address);
  std::istringstream lines(table);
  std::string line;
  std::getline(lines, line);  // the column titles
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string ip, type, flags, hardware, mask, device;
    if (!(fields >> ip >> type >> flags >> hardware >> mask >> device)) continue;
    if (ip != wanted || device != interfaceName) continue;
    unsigned long value = 0;
    try {
      value = std::stoul(flags, nullptr, 16);
    } catch (const std::exception&) {
      continue;
    }
    constexpr unsigned long kComplete = 0x2;  // ATF_COM: a host answered
    if ((value & kComplete) != 0) return true;
  }
  return false;
}

ProbeFinding ProbeAddress(const std::string& interfaceName, std::uint32_t address,
                          std::chrono::milliseconds wait) {
  ifreq request{};
  if (interfaceName.empty() || interfaceName.size() >= sizeof request.ifr_name) {
    return NotProbed("no interface to ask on");
  }
  Descriptor fd(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP)));
  if (!fd) {
    if (errno == EPERM || errno == EACCES || errno == EAFNOSUPPORT) {
      return ProbeByNeighbourTable(interfaceName, address, wait);
    }
    throw SocketError::FromErrno(errno);
  }
  std::memcpy(request.ifr_name, interfaceName.data(), interfaceName.size());
  if (::ioctl(fd.get(), SIOCGIFHWADDR, &request) != 0) {
    return NotProbed(interfaceName + " is gone: " + ErrnoText(errno));
  }
  if (request.ifr_hwaddr.sa_family != ARPHRD_ETHER) {
    return NotProbed(interfaceName + " is no Ethernet link: it has no ARP");
  }
  const unsigned index = ::if_nametoindex(interfaceName.c_str());
  if (index == 0) return NotProbed(interfaceName + " is gone");
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
    if (left.count() <= 0) return {ProbeVerdict::kFree, "an ARP probe"};
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
      return {ProbeVerdict::kInUse, "an ARP probe"};
    }
  }
}

std::vector<ProbeFinding> ProbeAddresses(const std::vector<ProbeRequest>& requests,
                                         std::chrono::milliseconds wait) {
  std::vector<std::future<ProbeFinding>> running;
  running.reserve(requests.size());
  for (const ProbeRequest& request : requests) {
    running.push_back(std::async(std::launch::async, [request, wait] {
      try {
        return ProbeAddress(request.interfaceName, request.address, wait);
      } catch (const std::exception& error) {
        // A link that went away meanwhile: the suggestion stands unprobed.
        return NotProbed(error.what());
      }
    }));
  }
  std::vector<ProbeFinding> findings;
  for (auto& result : running) findings.push_back(result.get());
  return findings;
}

}  // namespace oxlo::transport
