#include "transport/sockets/endpoint.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <pthread.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "tests/support/arrival_stamps.h"

namespace oxlo::transport {
namespace {

using namespace std::chrono_literals;

// Collects what a handler receives, for the test thread to wait on.
class Inbox {
 public:
  void Add(const Datagram& d) {
    std::lock_guard lock(mutex_);
    received_.push_back(d);
    changed_.notify_all();
  }
  std::optional<Datagram> Next(std::chrono::milliseconds timeout = 3000ms) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [&] { return !received_.empty(); })) return std::nullopt;
    Datagram d = received_.front();
    received_.pop_front();
    return d;
  }
  std::size_t Size() {
    std::lock_guard lock(mutex_);
    return received_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Datagram> received_;
};

const Bytes kPing{0x02, 0x67, 0x00, 0x03};

// A loopback receiver on a port the system picks.
struct Receiver {
  Endpoint endpoint{{Binding{"127.0.0.1", 0}}};
  Inbox inbox;
  Receiver() {
    endpoint.SetReadHandler([this](const Datagram& d) { inbox.Add(d); });
    endpoint.Open();
  }
  std::uint16_t Port() const { return endpoint.CurrentBinding()->port; }
};

TEST(Endpoint, ActivationBindsTheDefaultPortWhenItHasNoBinding) {
  Receiver other;  // only to learn a free port: take it, release it
  const std::uint16_t port = other.Port();
  other.endpoint.Close();

  Endpoint endpoint;
  EXPECT_FALSE(endpoint.IsActive());
  endpoint.SetDefaultPort(port);
  endpoint.Open();
  EXPECT_TRUE(endpoint.IsActive());
  ASSERT_EQ(endpoint.Bindings().size(), 1u);
  EXPECT_EQ(endpoint.Bindings()[0].address, "");
  EXPECT_EQ(endpoint.CurrentBinding()->port, port);
  endpoint.Open();  // already active: nothing happens
  EXPECT_EQ(endpoint.CurrentBinding()->port, port);
  endpoint.Close();
  endpoint.Close();  // inactive: nothing happens
  EXPECT_FALSE(endpoint.IsActive());
  EXPECT_FALSE(endpoint.CurrentBinding());
}

TEST(Endpoint, BindingAHeldPortFailsUntilTheHolderCloses) {
  Endpoint holder{{Binding{"", 0}}};
  holder.Open();
  const std::uint16_t port = holder.CurrentBinding()->port;

  Endpoint second;
  second.SetDefaultPort(port);
  try {
    second.Open();
    FAIL() << "bound a held port";
  } catch (const SocketError& error) {
    EXPECT_STREQ(error.what(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_FALSE(second.IsActive());

  holder.Close();
  second.Open();
  EXPECT_TRUE(second.IsActive());
}

TEST(Endpoint, SendToReachesLocalhostAndDottedQuadsFromTheCurrentBinding) {
  Receiver receiver;
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  sender.Open();
  for (const char* host : {"LocalHost", "127.0.0.1"}) {
    sender.SendTo(host, receiver.Port(), kPing);
    const auto got = receiver.inbox.Next();
    ASSERT_TRUE(got) << host;
    EXPECT_EQ(got->data, kPing);
    EXPECT_EQ(got->sourceAddress, "127.0.0.1");
    EXPECT_EQ(got->sourcePort, sender.CurrentBinding()->port);
    EXPECT_EQ(got->receivedOn.port, receiver.Port());
    // Where it came in: the loopback interface and this computer's address on it.
    EXPECT_EQ(got->interfaceName, "lo") << host;
    EXPECT_EQ(got->interfaceIndex, static_cast<int>(if_nametoindex("lo"))) << host;
    EXPECT_EQ(got->localAddress, "127.0.0.1") << host;
  }
}

// The stamp says when a datagram reached this computer, not when the
// receiving thread, busy with the one before, got round to it.
TEST(Endpoint, ADatagramCarriesWhenItArrivedNotWhenItWasRead) {
  std::mutex held;
  std::unique_lock hold(held);
  Inbox inbox;
  Endpoint receiver{{Binding{"127.0.0.1", 0}}};
  receiver.SetReadHandler([&](const Datagram& d) {
    inbox.Add(d);
    std::lock_guard wait(held);  // the first one keeps the thread until released
  });
  receiver.Open();
  ASSERT_TRUE(oxlo::testing::WaitForArrivalStamps());
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  sender.Open();
  sender.SendTo("127.0.0.1", receiver.CurrentBinding()->port, kPing);
  ASSERT_TRUE(inbox.Next());
  const auto beforeSecond = std::chrono::system_clock::now();
  sender.SendTo("127.0.0.1", receiver.CurrentBinding()->port, kPing);
  std::this_thread::sleep_for(50ms);  // it waits in the socket meanwhile
  const auto released = std::chrono::system_clock::now();
  hold.unlock();
  const auto second = inbox.Next();
  ASSERT_TRUE(second);
  ASSERT_TRUE(second->arrived.has_value());
  EXPECT_GE(*second->arrived, beforeSecond);
  EXPECT_LT(*second->arrived, released);
}

TEST(Endpoint, OversizedDatagramIsLostAndTheNextOneArrives) {
  Receiver receiver;
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  sender.Open();
  sender.SendTo("127.0.0.1", receiver.Port(), Bytes(kReceiveBufferSize + 1, 0x55));
  sender.SendTo("127.0.0.1", receiver.Port(), Bytes(kReceiveBufferSize, 0x66));
  sender.SendTo("127.0.0.1", receiver.Port(), kPing);
  auto got = receiver.inbox.Next();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->data.size(), kReceiveBufferSize);
  got = receiver.inbox.Next();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->data, kPing);
  EXPECT_FALSE(got->truncated);
}

TEST(Endpoint, AnOversizedDatagramComesCutAndMarkedWhenAskedFor) {
  Endpoint endpoint{{Binding{"127.0.0.1", 0}}};
  Inbox inbox;
  endpoint.SetReadHandler([&](const Datagram& d) { inbox.Add(d); });
  endpoint.DeliverOversize(true);
  endpoint.Open();
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  sender.Open();
  Bytes oversize(kReceiveBufferSize + 100, 0x55);
  oversize[0] = 0x02;
  sender.SendTo("127.0.0.1", endpoint.CurrentBinding()->port, oversize);
  sender.SendTo("127.0.0.1", endpoint.CurrentBinding()->port, Bytes(kReceiveBufferSize, 0x66));
  auto got = inbox.Next();
  ASSERT_TRUE(got);
  EXPECT_TRUE(got->truncated);
  EXPECT_EQ(got->data, Bytes(oversize.begin(), oversize.begin() + kReceiveBufferSize));
  got = inbox.Next();
  ASSERT_TRUE(got);
  EXPECT_FALSE(got->truncated);
  EXPECT_EQ(got->data.size(), kReceiveBufferSize);
}

TEST(Endpoint, OnlyTheAcceptedCodesAreReceived) {
  Endpoint endpoint{{Binding{"127.0.0.1", 0}}};
  Inbox inbox;
  endpoint.SetAcceptedCodes({0x67, 0x66});  // 'g' and 'f'
  endpoint.SetReadHandler([&](const Datagram& d) { inbox.Add(d); });
  endpoint.Open();
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  sender.Open();
  const std::uint16_t port = endpoint.CurrentBinding()->port;
  for (const Bytes& other : {Bytes{0x02, 0x46, 0x03}, Bytes{0x02, 0x61, 0x03},
                             Bytes{0x02, 0x46, 0, 0, 0, 0, 0, 0x03}, Bytes{0x02}, Bytes{}}) {
    sender.SendTo("127.0.0.1", port, other);  // another code, or too short to carry one
  }
  const Bytes reply{0x02, 0x66, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x30, 0x03};
  const Bytes found{0x02, 0x67, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x03};
  sender.SendTo("127.0.0.1", port, reply);
  sender.SendTo("127.0.0.1", port, found);
  auto got = inbox.Next();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->data, reply);
  got = inbox.Next();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->data, found);
  EXPECT_FALSE(inbox.Next(100ms));
}

TEST(Endpoint, SendErrorsCarryTheirMessages) {
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  sender.Open();
  try {
    sender.SendTo("127.0.0.1", 9, Bytes(70000, 0));
    FAIL();
  } catch (const SocketError& error) {
    EXPECT_STREQ(error.what(), "Package Size Too Big.");
  }
  EXPECT_STREQ(SocketError::FromErrno(EACCES).what(), "Socket Error # 13\r\nPermission denied");
}

TEST(Endpoint, BroadcastFlagFollowsTheSettingWhileActive) {
  Endpoint endpoint{{Binding{"127.0.0.1", 0}}};
  endpoint.SetBroadcastEnabled(false);
  endpoint.Open();
  EXPECT_FALSE(endpoint.SocketBroadcastOption());
  endpoint.SetBroadcastEnabled(true);
  EXPECT_TRUE(endpoint.SocketBroadcastOption());
}

TEST(Endpoint, SendingWhileClosedFailsAndLeavesItClosed) {
  // Too big to leave: a send that went out anyway fails with another text.
  const Bytes oversized(70000, 0);
  const std::function<void(Endpoint&)> sends[] = {
      [&](Endpoint& e) { e.Broadcast(oversized, 9); },
      [&](Endpoint& e) { e.SendTo("127.0.0.1", 9, oversized); },
  };
  Endpoint neverOpened{{Binding{"127.0.0.1", 0}}};
  Endpoint closed{{Binding{"127.0.0.1", 0}}};
  closed.Open();
  closed.Close();
  for (Endpoint* endpoint : {&neverOpened, &closed}) {
    for (std::size_t i = 0; i < std::size(sends); ++i) {
      SCOPED_TRACE((endpoint == &closed ? "closed, send " : "never opened, send ") +
                   std::to_string(i));
      try {
        sends[i](*endpoint);
        ADD_FAILURE() << "sent while closed";
      } catch (const SocketError& error) {
        EXPECT_STREQ(error.what(), kEndpointNotOpen);
      }
      EXPECT_FALSE(endpoint->IsActive());
    }
  }
}

// The descriptor numbers this process holds, in order.
std::vector<int> OpenDescriptors() {
  std::vector<int> fds;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    fds.push_back(std::stoi(entry.path().filename().string()));
  }
  std::sort(fds.begin(), fds.end());
  return fds;
}

// Opens an endpoint that must fail with this text; whatever it opened must be
// closed again.
void ExpectOpenFailsAndClosesAll(std::vector<Binding> bindings, const std::string& failure) {
  const std::vector<int> before = OpenDescriptors();
  Endpoint endpoint(std::move(bindings));
  try {
    endpoint.Open();
    ADD_FAILURE() << "opened";
  } catch (const std::exception& error) {
    EXPECT_EQ(error.what(), failure);  // the step the case meant to break
  }
  EXPECT_FALSE(endpoint.IsActive());
  EXPECT_EQ(OpenDescriptors(), before);  // before the destructor could tidy up
}

// Leaves room for `spare` more descriptors until the end of the scope.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(int spare) {
    ::getrlimit(RLIMIT_NOFILE, &old_);
    // New descriptors take the lowest free numbers: the one after `spare`
    // of them becomes the limit.
    std::vector<Descriptor> probes;
    for (int i = 0; i <= spare; ++i) probes.emplace_back(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    rlimit lowered = old_;
    lowered.rlim_cur = static_cast<rlim_t>(probes.back().get());
    ::setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &old_); }

 private:
  rlimit old_{};
};

// New threads ask for more stack than the address space has until the end
// of the scope, so no std::thread can start.
class ThreadsCannotStart {
 public:
  ThreadsCannotStart() {
    ::pthread_getattr_default_np(&old_);
    pthread_attr_t huge;
    ::pthread_getattr_default_np(&huge);
    ::pthread_attr_setstacksize(&huge, std::size_t{1} << 50);
    ::pthread_setattr_default_np(&huge);
    ::pthread_attr_destroy(&huge);
  }
  ~ThreadsCannotStart() {
    ::pthread_setattr_default_np(&old_);
    ::pthread_attr_destroy(&old_);
  }

 private:
  pthread_attr_t old_;
};

TEST(Endpoint, OpenThatFailsPartWayClosesEverythingItOpened) {
  const std::vector<Binding> two{Binding{"127.0.0.1", 0}, Binding{"127.0.0.1", 0}};
  {
    SCOPED_TRACE("the second binding's port is held");
    Receiver holder;
    ExpectOpenFailsAndClosesAll({Binding{"127.0.0.1", 0}, Binding{"127.0.0.1", holder.Port()}},
                                "Could not bind socket. Address and port are already in use.");
  }
  {
    SCOPED_TRACE("the second binding is no address");
    ExpectOpenFailsAndClosesAll({Binding{"127.0.0.1", 0}, Binding{"no.such.address", 0}},
                                SocketError::FromErrno(EINVAL).what());
  }
  {
    SCOPED_TRACE("no descriptor left for the wake pipe");
    const DescriptorLimit limit(2);  // the two sockets, and not one more
    ExpectOpenFailsAndClosesAll(two, SocketError::FromErrno(EMFILE).what());
  }
  {
    SCOPED_TRACE("the receiving thread cannot start");
    const ThreadsCannotStart noThreads;
    ExpectOpenFailsAndClosesAll(two, std::system_error(EAGAIN, std::generic_category()).what());
  }
}

bool IsOpen(int fd) {
  return ::fcntl(fd, F_GETFD) != -1;
}

TEST(Descriptor, ClosesWhatItOwnsWhenReplacedOrDestroyed) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  {
    Descriptor first(fds[0]);
    Descriptor moved(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(moved.get(), fds[0]);
    Descriptor target(fds[1]);
    target = std::move(moved);  // its own descriptor closes, the moved one stays open
    EXPECT_FALSE(IsOpen(fds[1]));
    EXPECT_TRUE(IsOpen(fds[0]));
  }
  EXPECT_FALSE(IsOpen(fds[0]));
}

TEST(Descriptor, ReleaseHandsOverAndResetClosesTheOldOne) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  const Descriptor writeEnd(fds[1]);
  int released = -1;
  {
    Descriptor readEnd(fds[0]);
    released = readEnd.release();
    EXPECT_FALSE(readEnd);
  }
  EXPECT_TRUE(IsOpen(released));
  Descriptor owner(released);
  owner.reset(released);  // the same number again: still ours, still open
  EXPECT_TRUE(IsOpen(released));
  owner.reset();
  EXPECT_FALSE(IsOpen(released));
  EXPECT_TRUE(IsOpen(writeEnd.get()));
}

TEST(ResolveHost, KnowsLocalhostAndLeavesDottedQuadsAlone) {
  EXPECT_EQ(ResolveHost("LOCALHOST"), "127.0.0.1");
  EXPECT_EQ(ResolveHost("localhost"), "127.0.0.1");
  EXPECT_EQ(ResolveHost("192.168.1.10"), "192.168.1.10");
  EXPECT_EQ(ResolveHost("0.0.0.0"), "0.0.0.0");
}

TEST(LocalAddresses, ExcludesLoopback) {
  for (const std::string& address : LocalAddresses()) EXPECT_NE(address.rfind("127.", 0), 0u);
}

}  // namespace
}  // namespace oxlo::transport
