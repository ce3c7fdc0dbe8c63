#include "transport/endpoint.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>

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

// Stands in for the UI thread: tasks wait until the test runs them.
class QueueExecutor : public Executor {
 public:
  void Post(std::function<void()> task) override {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    changed_.notify_all();
  }
  bool WaitForTask(std::chrono::milliseconds timeout = 3000ms) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return !tasks_.empty(); });
  }
  void RunAll() {
    std::deque<std::function<void()>> tasks;
    {
      std::lock_guard lock(mutex_);
      tasks.swap(tasks_);
    }
    for (auto& task : tasks) task();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> tasks_;
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
  for (const char* host : {"LocalHost", "127.0.0.1"}) {
    sender.SendTo(host, receiver.Port(), kPing);  // activates the sender
    const auto got = receiver.inbox.Next();
    ASSERT_TRUE(got) << host;
    EXPECT_EQ(got->data, kPing);
    EXPECT_EQ(got->sourceAddress, "127.0.0.1");
    EXPECT_EQ(got->sourcePort, sender.CurrentBinding()->port);
    EXPECT_EQ(got->receivedOn.port, receiver.Port());
  }
}

TEST(Endpoint, OversizedDatagramIsLostAndTheNextOneArrives) {
  Receiver receiver;
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  sender.SendTo("127.0.0.1", receiver.Port(), Bytes(kReceiveBufferSize + 1, 0x55));
  sender.SendTo("127.0.0.1", receiver.Port(), Bytes(kReceiveBufferSize, 0x66));
  sender.SendTo("127.0.0.1", receiver.Port(), kPing);
  auto got = receiver.inbox.Next();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->data.size(), kReceiveBufferSize);
  got = receiver.inbox.Next();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->data, kPing);
}

TEST(Endpoint, SendErrorsCarryTheirMessages) {
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
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

TEST(ResolveHost, KnowsLocalhostAndLeavesDottedQuadsAlone) {
  EXPECT_EQ(ResolveHost("LOCALHOST"), "127.0.0.1");
  EXPECT_EQ(ResolveHost("localhost"), "127.0.0.1");
  EXPECT_EQ(ResolveHost("192.168.1.10"), "192.168.1.10");
  EXPECT_EQ(ResolveHost("0.0.0.0"), "0.0.0.0");
}

TEST(LocalAddresses, ExcludesLoopback) {
  for (const std::string& address : LocalAddresses()) EXPECT_NE(address.rfind("127.", 0), 0u);
}

TEST(ExecutorDelivery, RunsTheHandlerOnTheExecutorInArrivalOrder) {
  QueueExecutor ui;
  Inbox inbox;
  std::thread::id handlerThread;
  Endpoint endpoint{{Binding{"127.0.0.1", 0}}};
  endpoint.SetReadHandler(
      [&](const Datagram& d) {
        handlerThread = std::this_thread::get_id();
        inbox.Add(d);
      },
      &ui);
  endpoint.Open();
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  for (std::uint8_t i = 0; i < 3; ++i) {
    sender.SendTo("127.0.0.1", endpoint.CurrentBinding()->port, Bytes{i});
  }
  for (std::uint8_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(ui.WaitForTask());
    ui.RunAll();
    const auto got = inbox.Next();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->data, Bytes{i});
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
  }
}

TEST(ExecutorDelivery, CloseWhileADeliveryWaitsCancelsItWithoutDeadlock) {
  QueueExecutor ui;
  std::atomic<int> handled{0};
  Endpoint endpoint{{Binding{"127.0.0.1", 0}}};
  endpoint.SetReadHandler([&](const Datagram&) { ++handled; }, &ui);
  endpoint.Open();
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  sender.SendTo("127.0.0.1", endpoint.CurrentBinding()->port, kPing);
  ASSERT_TRUE(ui.WaitForTask());

  endpoint.Close();  // the receiving thread waits for us: must not hang
  EXPECT_FALSE(endpoint.IsActive());
  ui.RunAll();
  EXPECT_EQ(handled, 0);
}

TEST(ExecutorDelivery, HandlerMayCloseItsOwnEndpoint) {
  QueueExecutor ui;
  Endpoint endpoint{{Binding{"127.0.0.1", 0}}};
  bool closed = false;
  endpoint.SetReadHandler(
      [&](const Datagram&) {
        endpoint.Close();
        closed = true;
      },
      &ui);
  endpoint.Open();
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  sender.SendTo("127.0.0.1", endpoint.CurrentBinding()->port, kPing);
  ASSERT_TRUE(ui.WaitForTask());
  ui.RunAll();
  EXPECT_TRUE(closed);
  EXPECT_FALSE(endpoint.IsActive());
}

TEST(ExecutorDelivery, ReopenedEndpointDeliversAgain) {
  QueueExecutor ui;
  Inbox inbox;
  Endpoint endpoint{{Binding{"127.0.0.1", 0}}};
  endpoint.SetReadHandler([&](const Datagram& d) { inbox.Add(d); }, &ui);
  endpoint.Open();
  endpoint.Close();
  endpoint.Open();  // the same binding, a new socket
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  sender.SendTo("127.0.0.1", endpoint.CurrentBinding()->port, kPing);
  ASSERT_TRUE(ui.WaitForTask());
  ui.RunAll();
  EXPECT_TRUE(inbox.Next());
}

}  // namespace
}  // namespace oxlo::transport
