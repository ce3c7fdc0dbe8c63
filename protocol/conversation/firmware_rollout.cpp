#include "protocol/conversation/firmware_rollout.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace oxlo {

ComebackWatch::ComebackWatch(std::string wanted, RolloutClock::time_point accepted,
                             std::chrono::milliseconds backWithin)
    : wanted_(std::move(wanted)),
      last_sign_(accepted),
      deadline_(accepted + backWithin),
      back_within_(backWithin) {}

void ComebackWatch::NoteQuiet(RolloutClock::time_point at) {
  if (at - last_sign_ >= kQuiet) went_quiet_ = true;
}

ComebackWatch::Verdict ComebackWatch::OnReply(std::string_view version,
                                              RolloutClock::time_point at) {
  if (verdict_ != Verdict::kWaiting) return verdict_;
  NoteQuiet(at);
  last_sign_ = std::max(last_sign_, at);
  seen_ = std::string(version);
  if (version == wanted_) {
    verdict_ = Verdict::kConfirmed;
  } else if (went_quiet_) {
    // Quiet, then back: the device restarted and runs this version.
    verdict_ = Verdict::kOtherVersion;
  } else if (at >= deadline_) {
    verdict_ = Verdict::kOtherVersion;
  }
  return verdict_;
}

ComebackWatch::Verdict ComebackWatch::OnTick(RolloutClock::time_point now) {
  if (verdict_ != Verdict::kWaiting) return verdict_;
  NoteQuiet(now);
  if (now >= deadline_) {
    // Never quiet and still on another version: it did not take the image.
    verdict_ = seen_.empty() || went_quiet_ ? Verdict::kNotBack : Verdict::kOtherVersion;
  }
  return verdict_;
}

std::string ComebackWatch::Reason() const {
  switch (verdict_) {
    case Verdict::kOtherVersion:
      return "came back with version " + seen_;
    case Verdict::kNotBack: {
      const auto ms = back_within_.count();
      return "did not come back within " +
             (ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms");
    }
    case Verdict::kWaiting:
    case Verdict::kConfirmed:
      break;
  }
  return {};
}

std::string_view RolloutResultName(RolloutResult result) {
  switch (result) {
    case RolloutResult::kUpgraded:
      return "upgraded";
    case RolloutResult::kUnchanged:
      return "unchanged";
    case RolloutResult::kFailed:
      return "failed";
    case RolloutResult::kNotStarted:
      return "not_started";
  }
  return "failed";
}

Rollout::Rollout(std::vector<RolloutDevice> devices, RolloutOptions options)
    : options_(std::move(options)) {
  options_.parallel = std::max<std::size_t>(options_.parallel, 1);
  options_.maxFailures = std::max<std::size_t>(options_.maxFailures, 1);
  entries_.reserve(devices.size());
  for (RolloutDevice& device : devices) {
    Entry entry;
    entry.device = std::move(device);
    const std::optional<DeviceRecord>& found = entry.device.found;
    if (!found) {
      entry.phase = Phase::kDone;
      entry.result = RolloutResult::kFailed;
      entry.reason = "did not answer the search";
    } else {
      entry.versionBefore = found->version;
      entry.versionAfter = found->version;
      if (options_.model && found->model != *options_.model) {
        // An image for another model can leave the unit unable to start.
        entry.phase = Phase::kDone;
        entry.result = RolloutResult::kFailed;
        entry.reason = "refused: it reports model " + found->model + ", not " + *options_.model;
      } else if (found->version == options_.version && !options_.force) {
        entry.phase = Phase::kDone;
        entry.result = RolloutResult::kUnchanged;
      } else {
        entry.needsUpgrade = true;
        if (canaries_left_ < options_.canary) {
          entry.canary = true;
          ++canaries_left_;
        }
      }
    }
    entries_.push_back(std::move(entry));
  }
}

std::vector<std::size_t> Rollout::Plan() const {
  std::vector<std::size_t> order;
  for (const bool canaries : {true, false}) {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].needsUpgrade && entries_[i].canary == canaries) order.push_back(i);
    }
  }
  return order;
}

std::vector<std::size_t> Rollout::Due(RolloutClock::time_point now) {
  std::vector<std::size_t> due;
  if (stopped_) return due;
  for (std::size_t i = 0; i < entries_.size() && running_ < options_.parallel; ++i) {
    Entry& entry = entries_[i];
    if (entry.phase != Phase::kWaiting) continue;
    if (canaries_left_ > 0 && !entry.canary) continue;
    entry.phase = Phase::kUploading;
    entry.started = now;
    ++running_;
    due.push_back(i);
  }
  return due;
}

void Rollout::Uploaded(std::size_t index) {
  Entry& entry = entries_.at(index);
  if (entry.phase == Phase::kUploading) entry.phase = Phase::kConfirming;
}

void Rollout::Finished(std::size_t index, RolloutResult result, std::string reason,
                       std::string versionAfter, RolloutClock::time_point now) {
  Entry& entry = entries_.at(index);
  if (entry.phase != Phase::kUploading && entry.phase != Phase::kConfirming) {
    throw std::logic_error("finished a device that was not running");
  }
  if (result != RolloutResult::kUpgraded && result != RolloutResult::kFailed) {
    throw std::invalid_argument("a running device ends upgraded or failed");
  }
  entry.phase = Phase::kDone;
  entry.result = result;
  entry.reason = std::move(reason);
  if (!versionAfter.empty()) entry.versionAfter = std::move(versionAfter);
  if (entry.started) {
    entry.took = std::chrono::duration_cast<std::chrono::milliseconds>(now - *entry.started);
  }
  --running_;
  if (result == RolloutResult::kUpgraded) {
    if (entry.canary) --canaries_left_;
    return;
  }
  ++upload_failures_;
  if (entry.canary) {
    EndWaiting("canary " + entry.device.mac + " failed");
  } else if (upload_failures_ >= options_.maxFailures) {
    EndWaiting("stopped after " + std::to_string(upload_failures_) +
               (upload_failures_ == 1 ? " failure" : " failures"));
  }
}

void Rollout::Stop() {
  if (!stopped_) EndWaiting("stopped by the operator");
}

void Rollout::EndWaiting(std::string reason) {
  stopped_ = true;
  stop_reason_ = std::move(reason);
  for (Entry& entry : entries_) {
    if (entry.phase != Phase::kWaiting) continue;
    entry.phase = Phase::kDone;
    entry.result = RolloutResult::kNotStarted;
    entry.reason = stop_reason_;
  }
}

bool Rollout::Over() const {
  return running_ == 0 && std::none_of(entries_.begin(), entries_.end(),
                                       [](const Entry& e) { return e.phase == Phase::kWaiting; });
}

Rollout::Summary Rollout::Tally() const {
  Summary summary;
  for (const Entry& entry : entries_) {
    if (entry.phase == Phase::kUploading || entry.phase == Phase::kConfirming) {
      ++summary.running;
      continue;
    }
    if (entry.phase == Phase::kWaiting) continue;
    switch (entry.result) {
      case RolloutResult::kUpgraded:
        ++summary.upgraded;
        break;
      case RolloutResult::kUnchanged:
        ++summary.unchanged;
        break;
      case RolloutResult::kFailed:
        ++summary.failed;
        break;
      case RolloutResult::kNotStarted:
        ++summary.notStarted;
        break;
    }
  }
  return summary;
}

}  // namespace oxlo
