#include "sim/reply_sender.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace oxlo::sim {
namespace {

using namespace std::chrono_literals;

Outgoing Reply(std::uint8_t tag, std::chrono::milliseconds delay, int copies = 1) {
  Outgoing reply;
  reply.data = {tag};
  reply.address = "127.0.0.1";
  reply.port = 9;
  reply.delay = delay;
  reply.copies = copies;
  return reply;
}

// Records what was sent, from whichever thread, and when.
class Recorder {
 public:
  ReplySender::Send Sink() {
    return [this](const Outgoing& reply) {
      const std::lock_guard lock(mutex_);
      sent_.push_back(
          {reply.data.at(0), std::chrono::steady_clock::now(), std::this_thread::get_id()});
      changed_.notify_all();
    };
  }
  struct Sent {
    std::uint8_t tag;
    std::chrono::steady_clock::time_point at;
    std::thread::id thread;
  };
  std::vector<Sent> WaitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 10s, [&] { return sent_.size() >= count; });
    return sent_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Sent> sent_;
};

}  // namespace

TEST(ReplySender, NothingLeavesBeforeStartThenAllInOrder) {
  Recorder recorder;
  ReplySender sender(recorder.Sink());
  sender.Submit({Reply(1, 0ms), Reply(2, 0ms, 2)});
  std::this_thread::sleep_for(30ms);
  EXPECT_TRUE(recorder.WaitFor(0).empty());

  sender.Start();
  sender.Submit({Reply(3, 0ms)});
  const auto sent = recorder.WaitFor(4);
  ASSERT_EQ(sent.size(), 4u);
  const std::uint8_t order[] = {1, 2, 2, 3};
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].tag, order[i]) << i;
    EXPECT_NE(sent[i].thread, std::this_thread::get_id());
  }
}

TEST(ReplySender, DelayedRepliesWaitTheirTimeInOrder) {
  Recorder recorder;
  ReplySender sender(recorder.Sink());
  sender.Start();
  const auto start = std::chrono::steady_clock::now();
  sender.Submit({Reply(1, 120ms), Reply(2, 60ms, 2), Reply(3, 0ms)});
  sender.Submit({Reply(4, 60ms)});
  const auto sent = recorder.WaitFor(5);
  ASSERT_EQ(sent.size(), 5u);
  const std::uint8_t order[] = {3, 2, 2, 4, 1};
  for (std::size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(sent[i].tag, order[i]) << i;
  EXPECT_GE(sent[1].at - start, 60ms);
  EXPECT_GE(sent[4].at - start, 120ms);
}

TEST(ReplySender, StopDropsWhatIsNotSentAndEndsAtOnce) {
  Recorder recorder;
  ReplySender sender(recorder.Sink());
  sender.Start();
  sender.Submit({Reply(1, 10min)});
  const auto start = std::chrono::steady_clock::now();
  sender.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  sender.Submit({Reply(2, 0ms)});
  sender.Start();
  std::this_thread::sleep_for(30ms);
  EXPECT_TRUE(recorder.WaitFor(0).empty());
}

}  // namespace oxlo::sim
