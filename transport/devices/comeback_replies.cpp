#include "transport/devices/comeback_replies.h"

#include "protocol/wire/discovery.h"

namespace oxlo::transport {

void ComebackReplies::Take(ByteView datagram) {
  if (!watching_.load()) return;
  const std::optional<DeviceRecord> record = ParseDiscoveryReply(datagram);
  if (!record) return;
  std::lock_guard lock(mutex_);
  if (versions_.size() == kMostKept) versions_.pop_front();
  versions_.emplace_back(record->version, RolloutClock::now());
}

void ComebackReplies::Start() {
  std::lock_guard lock(mutex_);
  versions_.clear();
  watching_ = true;
}

ComebackWatch::Verdict ComebackReplies::JudgeInto(ComebackWatch& watch,
                                                  RolloutClock::time_point now) {
  std::deque<std::pair<std::string, RolloutClock::time_point>> versions;
  {
    std::lock_guard lock(mutex_);
    versions.swap(versions_);
  }
  for (const auto& [version, at] : versions) {
    if (watch.OnReply(version, at) != ComebackWatch::Verdict::kWaiting) return watch.Current();
  }
  return watch.OnTick(now);
}

}  // namespace oxlo::transport
