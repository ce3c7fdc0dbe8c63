// One settings conversation with one device, without I/O: read what it
// holds; or write a plan, send the apply command, wait for its
// acknowledgement, read back, and see in the discovery reply that the name
// and address are in use. Every front end drives the same object:
//
//   DeviceExchange exchange = DeviceExchange::Read(mac, timing);
//   exchange.Start(now);
//   while (!exchange.Done()) {
//     while (std::optional<Outgoing> out = exchange.Poll(now)) send(*out);
//     wait until exchange.WakeAt() or a datagram of the device arrives;
//     if (datagram) exchange.OnDatagram(*datagram, now);
//   }
//
// Time comes from the driver; the exchange never reads a clock.
#pragma once

#include <chrono>
#include <deque>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "protocol/conversation/settings_write.h"
#include "protocol/settings/device_settings.h"
#include "protocol/wire/bytes.h"
#include "protocol/wire/discovery.h"

namespace oxlo {

struct ExchangeTiming {
  // A read round: the parts still missing this long after a round's last
  // request (and its pause) are asked again, ReadRounds::kRounds rounds in all.
  std::chrono::milliseconds readRound{500};
  // When given, a read-back or the check of what the device shows fails only
  // this long after its first round, however the rounds went; otherwise
  // after the last round.
  std::optional<std::chrono::milliseconds> confirmLimit;
  // The wait for the acknowledgement of the apply command.
  std::chrono::milliseconds ack = kAckTimeout;
  // Before each discovery query of the check of what the device shows, so
  // that conversations sharing a line can share one query.
  std::chrono::milliseconds shareDiscovery{0};
  // Off in tests: the read requests go without their pauses.
  bool pacedReads = true;
};

// One message of a write as planned: what goes, the pause before it, and
// the settings step it writes (compared with what is read back); none for a
// read request sent in place of a refused group.
struct PlannedSend {
  Bytes message;
  std::chrono::milliseconds pauseBefore{0};
  std::optional<WriteStep> step;
};

struct WritePlan {
  std::vector<PlannedSend> sends;
  // The network settings whose name and address the discovery reply must
  // show in use after the read-back; none when it need not be checked.
  std::optional<NetworkSettings> confirmShown;
};

// The sends that take a device holding `held` to `wanted`, each message
// built once; the discovery check when the name or static address changes.
WritePlan PlanChange(const MacField& mac, const DeviceSettings& held, const DeviceSettings& wanted,
                     std::chrono::milliseconds pace = kFilterGroupPace);
// Whole settings, as an import writes them (the eight filter groups paced).
WritePlan PlanWholeWrite(const MacField& mac, const DeviceSettings& settings,
                         std::chrono::milliseconds pace = kFilterGroupPace);

// Every reply code a conversation waits for: what its driver lets through.
std::vector<std::uint8_t> ExchangeReplyCodes();

// A datagram to send now.
struct Outgoing {
  enum class Forget { kNothing, kEverything, kCode };
  Bytes message;
  // Replies of the device still queued for the exchange came before this
  // message: the driver drops them (only those with `forgetCode` for kCode)
  // before it sends.
  Forget forget = Forget::kNothing;
  std::uint8_t forgetCode = 0;
  // A discovery query: one that any conversation on the same line sent at
  // or after this time serves as well, and need not go again.
  std::optional<std::chrono::steady_clock::time_point> discoverySince;
};

class DeviceExchange {
 public:
  using Clock = std::chrono::steady_clock;
  using Time = Clock::time_point;

  enum class Phase { kReading, kWriting, kAwaitingAck, kReadingBack, kCheckingShown, kDone };
  enum class Result {
    kRunning,
    kRead,                // read whole; nothing to write
    kVerified,            // written, acknowledged, read back and shown as wanted
    kNotTaken,            // read back, but some parts differ: NotTaken()
    kNotInUse,            // stored, but the discovery reply shows old: NotInUse()
    kReadIncomplete,      // parts did not come: Missing()
    kNotAcknowledged,     // no acknowledgement of the apply command in time
    kReadBackIncomplete,  // acknowledged, but parts of the read-back did not come
    kNotShown,            // no discovery reply came for the check
    kRefused,             // the planner threw: Error()
    kCancelled,
  };

  // Reads the settings.
  static DeviceExchange Read(const MacField& mac, const ExchangeTiming& timing);
  // Reads, then writes what `plan(held)` says; nothing when it plans no send.
  // An exception from `plan` ends the exchange as kRefused.
  using Planner = std::function<WritePlan(const DeviceSettings& held)>;
  static DeviceExchange Change(const MacField& mac, Planner plan, const ExchangeTiming& timing);
  // Writes `plan` and confirms it.
  static DeviceExchange Write(const MacField& mac, WritePlan plan, const ExchangeTiming& timing);

  void Start(Time now);
  // The next datagram due at `now`, after any wait that ran out by then has
  // ended or moved the exchange on; none while nothing is due.
  std::optional<Outgoing> Poll(Time now);
  // When Poll has something to do next; Time::max() once done.
  Time WakeAt() const;
  // A datagram whose MAC field is this device's. Replies the current phase
  // does not wait for are ignored.
  void OnDatagram(ByteView datagram, Time now);
  // Stops at once; nothing more is sent.
  void Cancel();

  Phase CurrentPhase() const { return phase_; }
  // Messages still wait to go.
  bool Sending() const { return !queue_.empty(); }
  // When the device has had the pause the last message sent needs.
  Time QuietFrom() const { return settled_; }
  bool Done() const { return phase_ == Phase::kDone; }
  Result Outcome() const { return result_; }
  const MacField& Mac() const { return mac_; }
  // The settings read (kRead, and after a change's read), or read back.
  const std::optional<DeviceSettings>& Held() const { return held_; }
  // What the device held before a change wrote it.
  const std::optional<DeviceSettings>& HeldBefore() const { return held_before_; }
  // Whether any reply to a read request came during the read that failed.
  bool AnyReadReply() const { return collector_.AnyReply(); }
  // The parts of a read that did not come ("network settings", ...).
  const std::vector<std::string>& Missing() const { return missing_; }
  const std::vector<std::string>& NotTaken() const { return not_taken_; }
  const std::vector<std::string>& NotInUse() const { return not_in_use_; }
  // The settings messages sent, with their steps.
  const std::vector<SentStep>& Sent() const { return sent_; }
  // Whether the apply command went.
  bool Written() const { return written_; }
  // The planner's exception, for kRefused.
  std::exception_ptr Error() const { return error_; }
  // Until the acknowledgement is lost; zero when not waiting for it.
  std::chrono::milliseconds AckTimeLeft(Time now) const;

 private:
  struct Queued {
    Outgoing out;
    std::chrono::milliseconds pauseBefore{0};
    std::optional<WriteStep> step;  // noted for the read-back
    bool apply = false;
  };

  DeviceExchange(const MacField& mac, const ExchangeTiming& timing);
  void StartRead(Phase phase, Outgoing::Forget forget, Time now);
  void QueueReadRound(const std::vector<ReadStep>& steps, Outgoing::Forget forget);
  void QueueDiscoveryAsk(Outgoing::Forget forget, Time now);
  void StartWrite(WritePlan plan, Time now);
  void ReadComplete(Time now);
  void Finish(Result result);
  // What the waits do by `now`: rounds asked again, time-outs.
  void Advance(Time now);

  MacField mac_;
  ExchangeTiming timing_;
  Planner planner_;
  std::optional<WritePlan> plan_;
  Phase phase_ = Phase::kReading;
  Result result_ = Result::kRunning;

  std::deque<Queued> queue_;
  Time next_due_{};
  // After the last message queued went: the pause the device needs, then
  // the wait of the phase begins.
  std::chrono::milliseconds trailing_{0};
  bool waiting_ = false;  // the queue went out and the phase's wait runs
  Time round_end_{};
  std::optional<Time> limit_end_;
  Time ack_deadline_{};
  Time settled_{};

  SettingsCollector collector_;
  ReadRounds rounds_;
  int shown_asks_ = 0;
  std::optional<DeviceSettings> held_;
  std::optional<DeviceSettings> held_before_;
  std::vector<std::string> missing_;
  std::vector<std::string> not_taken_;
  std::vector<std::string> not_in_use_;
  std::vector<SentStep> sent_;
  bool written_ = false;
  std::exception_ptr error_;
};

}  // namespace oxlo
