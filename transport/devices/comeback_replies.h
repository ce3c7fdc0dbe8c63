// The versions a device reports in its discovery replies while its comeback
// from an upgrade is watched: the receiving thread keeps them, the thread
// that judges hands them to the device's ComebackWatch.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

#include "protocol/conversation/firmware_rollout.h"
#include "protocol/wire/bytes.h"

namespace oxlo::transport {

class ComebackReplies {
 public:
  // A flood of copies beyond this pushes out the oldest.
  static constexpr std::size_t kMostKept = 64;

  // Any thread, the receiving one above all: keeps the version of a
  // discovery reply, only while watching.
  void Take(ByteView datagram);
  // Forgets what came and keeps what comes from now: a reply from before
  // the device took the image says nothing of the new firmware.
  void Start();
  void End() { watching_ = false; }
  // Hands what came to `watch`, then the time; its verdict.
  ComebackWatch::Verdict JudgeInto(ComebackWatch& watch, RolloutClock::time_point now);

 private:
  std::atomic<bool> watching_{false};
  std::mutex mutex_;
  std::deque<std::pair<std::string, RolloutClock::time_point>> versions_;  // under `mutex_`
};

}  // namespace oxlo::transport
