// New firmware for many devices, without I/O: which devices get the image
// and in what order (canaries first, a limit of uploads at once, a stop after
// too many failures), and whether a device came back from its upgrade with
// the version the image brings. The front ends send, receive and keep time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/wire/bytes.h"
#include "protocol/wire/discovery.h"

namespace oxlo {

using RolloutClock = std::chrono::steady_clock;

// Whether a device came back from an upgrade reporting the version wanted.
// The front end hands over each discovery reply of the device that arrives
// after the device accepted the end message, and asks the devices again
// every kAskEvery while any watch waits.
//
// A reply with another version before the device went quiet is the old
// firmware still running (it reboots after it answered the end message);
// after a silence of kQuiet or more it is the device back with that version.
class ComebackWatch {
 public:
  static constexpr std::chrono::milliseconds kAskEvery{500};
  static constexpr std::chrono::milliseconds kQuiet{2000};
  static constexpr std::chrono::seconds kDefaultBackWithin{180};

  enum class Verdict { kWaiting, kConfirmed, kOtherVersion, kNotBack };

  ComebackWatch(std::string wanted, RolloutClock::time_point accepted,
                std::chrono::milliseconds backWithin = kDefaultBackWithin);

  // A discovery reply of the device, reporting `version`, taken at `at`.
  Verdict OnReply(std::string_view version, RolloutClock::time_point at);
  // Time passes without a reply: ends the watch at its deadline.
  Verdict OnTick(RolloutClock::time_point now);

  Verdict Current() const { return verdict_; }
  // The version the device reported last since the end message; empty when none.
  const std::string& VersionSeen() const { return seen_; }
  // Why the upgrade is not confirmed: "came back with version 1.0.0" or
  // "did not come back within 180 s"; empty unless failed.
  std::string Reason() const;

 private:
  void NoteQuiet(RolloutClock::time_point at);

  std::string wanted_;
  RolloutClock::time_point last_sign_;
  RolloutClock::time_point deadline_;
  std::chrono::milliseconds back_within_;
  bool went_quiet_ = false;
  std::string seen_;
  Verdict verdict_ = Verdict::kWaiting;
};

// One device of the inventory, and what the search found of it.
struct RolloutDevice {
  std::string mac;  // as results print it: 02-00-5E-00-01-01
  MacField macBytes{};
  std::optional<DeviceRecord> found;  // none: it did not answer the search
};

struct RolloutOptions {
  std::string version;               // the version the image brings
  std::optional<std::string> model;  // devices reporting another are refused
  bool force = false;                // upgrade devices already at `version` too
  std::size_t canary = 1;            // upgraded and confirmed before all others
  std::size_t parallel = 16;         // uploads at once
  std::size_t maxFailures = 1;       // no new upload once this many failed
};

enum class RolloutResult { kUpgraded, kUnchanged, kFailed, kNotStarted };
std::string_view RolloutResultName(RolloutResult result);  // "upgraded", ...

class Rollout {
 public:
  enum class Phase { kWaiting, kUploading, kConfirming, kDone };

  struct Entry {
    RolloutDevice device;
    bool needsUpgrade = false;
    bool canary = false;
    Phase phase = Phase::kWaiting;
    RolloutResult result = RolloutResult::kNotStarted;
    std::string reason{};
    std::string versionBefore{};
    std::string versionAfter{};
    std::optional<RolloutClock::time_point> started{};
    std::chrono::milliseconds took{0};  // from the first chunk to the verdict
  };

  struct Summary {
    std::size_t upgraded = 0, unchanged = 0, failed = 0, notStarted = 0;
    std::size_t running = 0;  // uploading or confirming
  };

  // Judges every device at once: refused for another model, failed when it
  // did not answer the search, unchanged when it already reports the
  // version (unless `force`). The others wait, the first `canary` of them
  // in inventory order marked as canaries.
  Rollout(std::vector<RolloutDevice> devices, RolloutOptions options);

  // The devices to upload to now, in inventory order, each marked
  // uploading: canaries first and nothing else until every one of them is
  // upgraded, never more than `parallel` running, none once the rollout
  // stopped. Devices that can no longer start are then not_started.
  std::vector<std::size_t> Due(RolloutClock::time_point now);
  // The end message was accepted: the device is being confirmed.
  void Uploaded(std::size_t index);
  // The device's verdict: kUpgraded, or kFailed with its reason.
  void Finished(std::size_t index, RolloutResult result, std::string reason,
                std::string versionAfter, RolloutClock::time_point now);
  // The operator's stop: no new upload starts, running ones finish.
  void Stop();

  // Nothing runs and nothing more will start.
  bool Over() const;
  const std::vector<Entry>& Entries() const { return entries_; }
  const Entry& At(std::size_t index) const { return entries_.at(index); }
  Summary Tally() const;
  const RolloutOptions& Options() const { return options_; }
  // The devices to upgrade, canaries first, in the order they start.
  std::vector<std::size_t> Plan() const;

 private:
  void EndWaiting(std::string reason);

  RolloutOptions options_;
  std::vector<Entry> entries_;
  std::size_t running_ = 0;
  std::size_t upload_failures_ = 0;
  std::size_t canaries_left_ = 0;  // not yet upgraded
  bool stopped_ = false;
  std::string stop_reason_;
};

}  // namespace oxlo
