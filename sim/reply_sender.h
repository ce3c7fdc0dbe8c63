// Sends the simulator's replies from a thread of its own, each when its delay
// is over; a burst of thousands goes out in one tight loop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/simulator.h"

namespace oxlo::sim {

class ReplySender {
 public:
  // Sends one copy of one reply; must not throw.
  using Send = std::function<void(const Outgoing&)>;

  explicit ReplySender(Send send);
  ~ReplySender();
  ReplySender(const ReplySender&) = delete;
  ReplySender& operator=(const ReplySender&) = delete;

  // Queues replies from any thread; they wait until Start().
  void Submit(std::vector<Outgoing> replies);

  // Starts the sending thread. Call it once whatever `send` uses is ready:
  // for an endpoint, after Open(), so the thread sees the endpoint opened.
  void Start();

  // Ends the thread; replies not yet sent are dropped, as a device that is
  // switched off would drop them. Later submissions are dropped too.
  void Stop();

 private:
  using Clock = std::chrono::steady_clock;

  void Run();

  Send send_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::multimap<Clock::time_point, Outgoing> due_;  // equal times keep their order
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace oxlo::sim
