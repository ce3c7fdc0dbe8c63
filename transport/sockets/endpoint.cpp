#include "transport/sockets/endpoint.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/filter.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <unordered_map>

namespace oxlo::transport {

struct Endpoint::Socket {
  Descriptor fd;
  Binding bound;  // with the port the system chose
};

namespace {

constexpr char kBindInUse[] = "Could not bind socket. Address and port are already in use.";

sockaddr_in MakeAddress(const std::string& address, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (address.empty()) {
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    throw SocketError::FromErrno(EINVAL);
  }
  return sa;
}

std::string AddressText(const in_addr& address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

bool IsDottedQuad(std::string_view text) {
  int parts = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = text.find('.', start);
    const std::string_view part =
        text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
    if (part.empty() || part.size() > 3 ||
        !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return false;
    }
    if (std::stoi(std::string(part)) > 255) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

}  // namespace

SocketError SocketError::FromErrno(int error) {
  return SocketError("Socket Error # " + std::to_string(error) + "\r\n" + std::strerror(error));
}

Endpoint::Endpoint(std::vector<Binding> bindings) : bindings_(std::move(bindings)) {}

Endpoint::~Endpoint() {
  Close();
}

void Endpoint::SetDefaultPort(std::uint16_t port) {
  default_port_ = port;
}

void Endpoint::SetBroadcastEnabled(bool enabled) {
  broadcast_enabled_ = enabled;
  for (const Socket& socket : sockets_) SetBroadcastOption(socket.fd.get(), enabled);
}

void Endpoint::SetReadHandler(ReadHandler handler) {
  handler_ = std::move(handler);
}

void Endpoint::SetSocketReceiveBuffer(int bytes) {
  socket_receive_buffer_ = bytes;
}

bool Endpoint::IsActive() const {
  return active_;
}

namespace {

// Interface names by index, looked up once each: a datagram's interface
// is named without a system call.
class InterfaceNames {
 public:
  const std::string& Name(int index) {
    auto found = names_.find(index);
    if (found != names_.end()) return found->second;
    char name[IF_NAMESIZE] = {};
    const bool known = index > 0 && ::if_indextoname(static_cast<unsigned>(index), name) != nullptr;
    return names_.emplace(index, known ? std::string(name) : std::string()).first->second;
  }

 private:
  std::unordered_map<int, std::string> names_;
};

// A socket filter that keeps a datagram only when its command code, byte 1
// of the UDP payload (which the filter sees after the 8-byte UDP header), is
// one of `codes`; shorter datagrams are dropped. Without it the receiving
// thread wakes for every message the program broadcasts itself.
void AttachCodeFilter(int fd, const std::vector<std::uint8_t>& codes) {
  constexpr std::uint32_t kCodeOffset = 8 + 1;
  std::vector<sock_filter> program;
  program.push_back(BPF_STMT(BPF_LD | BPF_B | BPF_ABS, kCodeOffset));
  for (std::size_t i = 0; i < codes.size(); ++i) {
    // Equal: jump to the accepting return after the remaining tests.
    const auto toAccept = static_cast<std::uint8_t>(codes.size() - i);
    program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, codes[i], toAccept, 0));
  }
  program.push_back(BPF_STMT(BPF_RET | BPF_K, 0));
  program.push_back(BPF_STMT(BPF_RET | BPF_K, 0xFFFF));
  const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
  // Where the kernel refuses, every datagram comes and the handler sorts them.
  ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter);
}

}  // namespace

Endpoint::Socket Endpoint::OpenSocket(const Binding& binding) const {
  Socket socket{Descriptor(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)), binding};
  if (!socket.fd) throw SocketError::FromErrno(errno);
  const int fd = socket.fd.get();
  if (socket_receive_buffer_ > 0) {
    // The forcing variant passes rmem_max when we may; the plain one otherwise.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &socket_receive_buffer_, sizeof(int)) != 0) {
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &socket_receive_buffer_, sizeof(int));
    }
  }
  const sockaddr_in sa = MakeAddress(binding.address, binding.port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    const int error = errno;
    if (error == EADDRINUSE) throw SocketError(kBindInUse);
    throw SocketError::FromErrno(error);
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  socket.bound.port = ntohs(bound.sin_port);
  SetBroadcastOption(fd, broadcast_enabled_);
  // Where each datagram came in; without it the datagrams still come.
  const int on = 1;
  ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
  // When each came, so a reply that waited in the socket during a send is
  // not taken for the answer to it.
  ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  if (!accepted_codes_.empty()) AttachCodeFilter(fd, accepted_codes_);
  return socket;
}

void Endpoint::Open() {
  if (IsActive()) return;
  if (bindings_.empty()) bindings_.push_back(Binding{"", default_port_});

  // What is opened here closes itself when a later step throws.
  std::vector<Socket> sockets;
  for (const Binding& binding : bindings_) sockets.push_back(OpenSocket(binding));
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) throw SocketError::FromErrno(errno);
  Descriptor wakeRead(pipeFds[0]);
  Descriptor wakeWrite(pipeFds[1]);

  // The receiving thread reads the members, so they are set before it starts.
  sockets_ = std::move(sockets);
  wake_read_ = std::move(wakeRead);
  wake_write_ = std::move(wakeWrite);
  stopping_ = false;
  try {  // a thread that cannot start leaves nothing open
    thread_ = std::thread(&Endpoint::ReceiveLoop, this);
  } catch (...) {
    CloseDescriptors();
    throw;
  }
  active_ = true;
}

void Endpoint::Close() {
  if (!IsActive()) return;
  stopping_ = true;
  const char wake = 1;
  [[maybe_unused]] const ssize_t written = ::write(wake_write_.get(), &wake, 1);
  thread_.join();
  active_ = false;
  CloseDescriptors();
}

void Endpoint::CloseDescriptors() {
  sockets_.clear();
  wake_read_.reset();
  wake_write_.reset();
}

std::optional<Binding> Endpoint::CurrentBinding() const {
  if (sockets_.empty()) return std::nullopt;
  return sockets_.front().bound;
}

bool Endpoint::SocketBroadcastOption() const {
  if (sockets_.empty()) return false;
  int on = 0;
  socklen_t length = sizeof on;
  ::getsockopt(sockets_.front().fd.get(), SOL_SOCKET, SO_BROADCAST, &on, &length);
  return on != 0;
}

int Endpoint::SendingDescriptor() const {
  if (!IsActive()) throw SocketError(kEndpointNotOpen);
  return sockets_.front().fd.get();
}

void Endpoint::SetBroadcastOption(int fd, bool on) const {
  const int value = on ? 1 : 0;
  if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) {
    throw SocketError::FromErrno(errno);
  }
}

void Endpoint::SendDatagram(int fd, const std::string& address, std::uint16_t port, ByteView data) {
  const sockaddr_in to = MakeAddress(address, port);
  const ssize_t sent =
      ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  if (sent < 0) {
    const int error = errno;
    if (error == EMSGSIZE) throw SocketError("Package Size Too Big.");
    throw SocketError::FromErrno(error);
  }
  if (static_cast<std::size_t>(sent) != data.size()) throw SocketError("Not all bytes sent.");
}

void Endpoint::Broadcast(ByteView data, std::uint16_t port) {
  const int fd = SendingDescriptor();
  if (broadcast_enabled_) {  // already on: nothing to switch
    SendDatagram(fd, kBroadcastAddress, port, data);
    return;
  }
  SetBroadcastOption(fd, true);
  try {
    SendDatagram(fd, kBroadcastAddress, port, data);
  } catch (...) {
    SetBroadcastEnabled(broadcast_enabled_);
    throw;
  }
  SetBroadcastEnabled(broadcast_enabled_);
}

void Endpoint::SendTo(std::string_view host, std::uint16_t port, ByteView data) {
  const int fd = SendingDescriptor();
  SendDatagram(fd, ResolveHost(host), port, data);
}

void Endpoint::ReceiveLoop() {
  std::vector<pollfd> fds;
  fds.push_back(pollfd{wake_read_.get(), POLLIN, 0});
  for (const Socket& socket : sockets_) fds.push_back(pollfd{socket.fd.get(), POLLIN, 0});
  std::vector<std::uint8_t> buffer(kReceiveBufferSize);
  InterfaceNames interface_names;

  while (!stopping_) {
    for (pollfd& p : fds) p.revents = 0;
    if (::poll(fds.data(), fds.size(), kReceiveWaitMs) <= 0) continue;
    for (std::size_t i = 1; i < fds.size() && !stopping_; ++i) {
      if ((fds[i].revents & POLLIN) == 0) continue;
      // Drain the socket: a burst of replies must not wait a poll round each.
      while (!stopping_) {
        sockaddr_in from{};
        iovec part{buffer.data(), buffer.size()};
        alignas(
            cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(timespec))];
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fds[i].fd, &message, MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0) {
          if (errno == EINTR) continue;
          break;  // drained, or an error that loses this datagram
        }
        const bool oversize = static_cast<std::size_t>(n) > buffer.size();
        if (oversize && !deliver_oversize_) continue;  // larger than we take
        if (!handler_) continue;
        Datagram datagram;
        const std::size_t kept = std::min(static_cast<std::size_t>(n), buffer.size());
        datagram.data.assign(buffer.begin(), buffer.begin() + kept);
        datagram.truncated = oversize;
        datagram.sourceAddress = AddressText(from.sin_addr);
        datagram.sourcePort = ntohs(from.sin_port);
        datagram.receivedOn = sockets_[i - 1].bound;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
          if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            datagram.arrived = std::chrono::system_clock::time_point(
                std::chrono::duration_cast<std::chrono::system_clock::duration>(
                    std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
            continue;
          }
          if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
          in_pktinfo info{};
          std::memcpy(&info, CMSG_DATA(c), sizeof info);
          datagram.interfaceIndex = info.ipi_ifindex;
          datagram.interfaceName = interface_names.Name(info.ipi_ifindex);
          datagram.localAddress = AddressText(info.ipi_spec_dst);
          datagram.destinationAddress = AddressText(info.ipi_addr);
        }
        Deliver(std::move(datagram));
      }
    }
  }
}

void Endpoint::Deliver(Datagram datagram) {
  try {
    handler_(datagram);
  } catch (...) {
    // A failing handler loses its datagram; the loop goes on.
  }
}

EveryInterface::EveryInterface(const std::vector<std::string>& localAddresses) {
  for (const std::string& address : localAddresses) {
    auto endpoint = std::make_unique<Endpoint>(std::vector<Binding>{Binding{address, 0}});
    endpoint->SetBroadcastEnabled(true);
    endpoints_.push_back(std::move(endpoint));
  }
}

void EveryInterface::SendOnEveryInterface(ByteView data, std::uint16_t port) {
  for (auto& endpoint : endpoints_) {
    if (!endpoint->IsActive()) {
      std::lock_guard lock(open_mutex_);
      endpoint->Open();
    }
    endpoint->Broadcast(data, port);
  }
}

std::vector<HostInterface> HostInterfaces() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) throw SocketError::FromErrno(errno);
  std::vector<HostInterface> interfaces;
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
    HostInterface host;
    host.name = entry->ifa_name;
    host.address = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
    if (entry->ifa_netmask != nullptr) {
      const std::uint32_t mask =
          ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr);
      host.prefixLength = std::popcount(mask);
    }
    interfaces.push_back(std::move(host));
  }
  ::freeifaddrs(list);
  return interfaces;
}

std::vector<std::string> LocalAddresses() {
  std::vector<std::string> addresses;
  for (const HostInterface& host : HostInterfaces()) {
    addresses.push_back(oxlo::AddressText(host.address));
  }
  return addresses;
}

std::string ResolveHost(std::string_view host) {
  std::string lower(host);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "localhost") return "127.0.0.1";
  if (IsDottedQuad(host)) return std::string(host);
  if (host.empty()) {
    const std::vector<std::string> own = LocalAddresses();
    if (own.empty()) throw SocketError::FromErrno(EADDRNOTAVAIL);
    return own.front();
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const std::string name(host);
  const int status = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (status != 0 || found == nullptr) {
    if (found) ::freeaddrinfo(found);
    // getaddrinfo has its own codes; report the closest socket error.
    throw SocketError("Socket Error # " + std::to_string(status) + "\r\n" + ::gai_strerror(status));
  }
  const std::string address =
      AddressText(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr);
  ::freeaddrinfo(found);
  return address;
}

}  // namespace oxlo::transport
