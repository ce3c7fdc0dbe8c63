// Holds every packet of a netfilter queue for a fixed time before letting it
// go: a stand-in for `tc qdisc ... netem delay` on kernels built without
// netem. Packets leave in arrival order, unless REORDER_PERCENT picks some to
// hold a random extra 1 to GAP_MICROSECONDS (default 10000) longer, so that
// packets sent after them overtake them. Feed it with, in the namespace whose
// output is to be delayed:
//   iptables -A OUTPUT -o IFACE -p udp -j NFQUEUE --queue-num QUEUE
//
//   nfqueue_delay QUEUE MICROSECONDS [REORDER_PERCENT [GAP_MICROSECONDS]]
// Prints "nfqueue_delay: ready" on stderr once bound; runs until killed.
#include <arpa/inet.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netfilter/nfnetlink_queue.h>
#include <linux/netlink.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <queue>
#include <random>
#include <vector>

namespace {

using Nanos = std::int64_t;

Nanos Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<Nanos>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// One netfilter-queue request under construction.
class Request {
 public:
  Request(std::uint16_t type, std::uint16_t flags, std::uint16_t queue)
      : bytes_(NLMSG_SPACE(sizeof(nfgenmsg))) {
    auto* header = reinterpret_cast<nlmsghdr*>(bytes_.data());
    header->nlmsg_type = static_cast<std::uint16_t>((NFNL_SUBSYS_QUEUE << 8) | type);
    header->nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | flags);
    auto* generic = reinterpret_cast<nfgenmsg*>(NLMSG_DATA(header));
    generic->nfgen_family = AF_UNSPEC;
    generic->version = NFNETLINK_V0;
    generic->res_id = htons(queue);
  }

  template <typename T>
  void Add(std::uint16_t type, const T& value) {
    const std::size_t at = bytes_.size();
    bytes_.resize(at + NLA_ALIGN(NLA_HDRLEN + sizeof value));
    nlattr attribute{};
    attribute.nla_len = static_cast<std::uint16_t>(NLA_HDRLEN + sizeof value);
    attribute.nla_type = type;
    std::memcpy(bytes_.data() + at, &attribute, sizeof attribute);
    std::memcpy(bytes_.data() + at + NLA_HDRLEN, &value, sizeof value);
  }

  bool Send(int fd) {
    reinterpret_cast<nlmsghdr*>(bytes_.data())->nlmsg_len =
        static_cast<std::uint32_t>(bytes_.size());
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    return sendto(fd, bytes_.data(), bytes_.size(), 0, reinterpret_cast<sockaddr*>(&kernel),
                  sizeof kernel) == static_cast<ssize_t>(bytes_.size());
  }

 private:
  std::vector<char> bytes_;
};

// Waits for the kernel's answer to a request sent with NLM_F_ACK.
bool Acknowledged(int fd) {
  alignas(nlmsghdr) char buffer[4096];
  const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
  if (n < static_cast<ssize_t>(NLMSG_HDRLEN)) return false;
  const auto* header = reinterpret_cast<const nlmsghdr*>(buffer);
  if (header->nlmsg_type != NLMSG_ERROR) return false;
  const auto* error = reinterpret_cast<const nlmsgerr*>(NLMSG_DATA(header));
  if (error->error != 0) errno = -error->error;
  return error->error == 0;
}

bool Configure(int fd, std::uint16_t queue, nfqnl_msg_config_cmd command) {
  Request request(NFQNL_MSG_CONFIG, NLM_F_ACK, queue);
  request.Add(NFQA_CFG_CMD, command);
  return request.Send(fd) && Acknowledged(fd);
}

// The kernel's id of each queued packet in a batch of messages.
void ReadPacketIds(const char* buffer, std::size_t length, std::vector<std::uint32_t>& ids) {
  std::size_t offset = 0;
  while (offset + NLMSG_HDRLEN <= length) {
    nlmsghdr header{};
    std::memcpy(&header, buffer + offset, sizeof header);
    if (header.nlmsg_len < NLMSG_HDRLEN || offset + header.nlmsg_len > length) break;
    const char* end = buffer + offset + header.nlmsg_len;
    const char* at = buffer + offset + NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(nfgenmsg));
    offset += NLMSG_ALIGN(header.nlmsg_len);
    if ((header.nlmsg_type & 0xFF) != NFQNL_MSG_PACKET) continue;
    while (at + NLA_HDRLEN <= end) {
      nlattr attribute{};
      std::memcpy(&attribute, at, sizeof attribute);
      if (attribute.nla_len < NLA_HDRLEN || at + attribute.nla_len > end) break;
      if ((attribute.nla_type & NLA_TYPE_MASK) == NFQA_PACKET_HDR) {
        nfqnl_msg_packet_hdr packet{};
        std::memcpy(&packet, at + NLA_HDRLEN, sizeof packet);
        ids.push_back(packet.packet_id);  // stays in network order
        break;
      }
      at += NLA_ALIGN(attribute.nla_len);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::fprintf(stderr,
                 "usage: nfqueue_delay QUEUE MICROSECONDS [REORDER_PERCENT [GAP_MICROSECONDS]]\n");
    return 2;
  }
  const auto queue = static_cast<std::uint16_t>(std::atoi(argv[1]));
  const Nanos delay = static_cast<Nanos>(std::atoll(argv[2])) * 1000;
  const double reorder = argc > 3 ? std::atof(argv[3]) / 100.0 : 0.0;
  const Nanos gap = (argc > 4 ? static_cast<Nanos>(std::atoll(argv[4])) : 10'000) * 1000;
  if (delay < 0 || reorder < 0 || reorder > 1 || gap < 1000) {
    std::fprintf(stderr,
                 "nfqueue_delay: out of range: delay >= 0, 0 <= percent <= 100, gap >= 1\n");
    return 2;
  }
  std::mt19937_64 random(std::random_device{}());
  std::bernoulli_distribution held_longer(reorder);
  std::uniform_int_distribution<Nanos> extra(1000, gap);
  // The default 50 us of timer slack would lengthen every hold.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  // Held packets die with whoever started it (a lab killed outright included).
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() == 1) return 1;

  const int fd = socket(AF_NETLINK, SOCK_RAW, NETLINK_NETFILTER);
  sockaddr_nl self{};
  self.nl_family = AF_NETLINK;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
    std::perror("nfqueue_delay: netlink");
    return 1;
  }
  const int buffer_size = 4 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer_size, sizeof buffer_size);
  if (!Configure(fd, queue, {NFQNL_CFG_CMD_BIND, 0, htons(AF_INET)})) {
    std::perror("nfqueue_delay: bind queue");
    return 1;
  }
  Request params(NFQNL_MSG_CONFIG, NLM_F_ACK, queue);
  params.Add(NFQA_CFG_PARAMS, nfqnl_msg_config_params{htonl(0), NFQNL_COPY_META});
  if (!params.Send(fd) || !Acknowledged(fd)) {
    std::perror("nfqueue_delay: copy mode");
    return 1;
  }
  std::fprintf(stderr, "nfqueue_delay: ready\n");

  struct Held {
    Nanos due;
    std::uint64_t order;  // keeps arrival order among equal due times
    std::uint32_t id;
    bool operator>(const Held& other) const {
      return due != other.due ? due > other.due : order > other.order;
    }
  };
  std::priority_queue<Held, std::vector<Held>, std::greater<>> held;
  std::uint64_t arrivals = 0;
  std::vector<std::uint32_t> ids;
  alignas(nlmsghdr) static char buffer[1 << 16];
  while (true) {
    pollfd p{fd, POLLIN, 0};
    if (held.empty()) {
      ppoll(&p, 1, nullptr, nullptr);
    } else {
      const Nanos wait = std::max<Nanos>(0, held.top().due - Now());
      const timespec timeout{static_cast<time_t>(wait / 1'000'000'000),
                             static_cast<long>(wait % 1'000'000'000)};
      ppoll(&p, 1, &timeout, nullptr);
    }
    if (p.revents & POLLIN) {
      const Nanos arrived = Now();
      ssize_t n;
      while ((n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
        ids.clear();
        ReadPacketIds(buffer, static_cast<std::size_t>(n), ids);
        for (const std::uint32_t id : ids) {
          const Nanos hold = delay + (held_longer(random) ? extra(random) : 0);
          held.push({arrived + hold, arrivals++, id});
        }
      }
    }
    const Nanos now = Now();
    while (!held.empty() && held.top().due <= now) {
      Request verdict(NFQNL_MSG_VERDICT, 0, queue);
      verdict.Add(NFQA_VERDICT_HDR, nfqnl_msg_verdict_hdr{htonl(NF_ACCEPT), held.top().id});
      verdict.Send(fd);
      held.pop();
    }
  }
}
