#include "sim/reply_sender.h"

namespace oxlo::sim {

ReplySender::ReplySender(Send send) : send_(std::move(send)) {}

ReplySender::~ReplySender() {
  Stop();
}

void ReplySender::Submit(std::vector<Outgoing> replies) {
  if (replies.empty()) return;
  const Clock::time_point now = Clock::now();
  {
    const std::lock_guard lock(mutex_);
    if (stopping_) return;
    for (Outgoing& reply : replies) due_.emplace(now + reply.delay, std::move(reply));
  }
  wake_.notify_one();
}

void ReplySender::Start() {
  const std::lock_guard lock(mutex_);
  if (!worker_.joinable() && !stopping_) worker_ = std::thread([this] { Run(); });
}

void ReplySender::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    due_.clear();
  }
  wake_.notify_one();
  if (worker_.joinable()) worker_.join();
}

void ReplySender::Run() {
  std::vector<Outgoing> batch;
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (due_.empty()) {
      wake_.wait(lock);
      continue;
    }
    const Clock::time_point now = Clock::now();
    // A copy: Stop() may clear the queue, and the key with it, during the wait.
    const Clock::time_point next = due_.begin()->first;
    if (now < next) {
      wake_.wait_until(lock, next);
      continue;
    }
    // Everything due leaves in one go, without holding the lock.
    const auto end = due_.upper_bound(now);
    for (auto it = due_.begin(); it != end; ++it) batch.push_back(std::move(it->second));
    due_.erase(due_.begin(), end);
    lock.unlock();
    for (const Outgoing& reply : batch) {
      for (int copy = 0; copy < reply.copies; ++copy) send_(reply);
    }
    batch.clear();
    lock.lock();
  }
}

}  // namespace oxlo::sim
