#include "protocol/conversation/device_exchange.h"

#include <algorithm>
#include <utility>

#include "protocol/wire/fields.h"
#include "protocol/wire/frame.h"
#include "protocol/wire/settings_messages.h"

namespace oxlo {
namespace {

bool SendsNetwork(const std::vector<PlannedSend>& sends) {
  return std::any_of(sends.begin(), sends.end(), [](const PlannedSend& send) {
    return send.step && send.step->group == SettingGroup::kNetwork;
  });
}

WritePlan PlanOf(const MacField& mac, const DeviceSettings& settings,
                 const std::vector<WriteStep>& steps) {
  WritePlan plan;
  for (const WriteStep& step : steps) {
    plan.sends.push_back({BuildWriteStep(mac, settings, step), step.pauseBefore, step});
  }
  return plan;
}

}  // namespace

WritePlan PlanChange(const MacField& mac, const DeviceSettings& held, const DeviceSettings& wanted,
                     std::chrono::milliseconds pace) {
  WritePlan plan;
  const auto add = [&](const WriteStep& step) {
    Bytes message = BuildWriteStep(mac, wanted, step);
    if (message != BuildWriteStep(mac, held, step)) {
      plan.sends.push_back({std::move(message), step.pauseBefore, step});
    }
  };
  for (const SettingGroup group :
       {SettingGroup::kNetwork, SettingGroup::kOperationMode, SettingGroup::kCan}) {
    add({group});
  }
  for (int group = 0; group < kFilterGroupCount; ++group) {
    add({SettingGroup::kFilters, group, pace});
  }
  // A lost apply command answered by a late copy of an earlier
  // acknowledgement leaves the settings stored only; the read-back cannot
  // tell, but the discovery reply shows the name and address in use.
  if (SendsNetwork(plan.sends) && ChangesWhatIsShown(held.network, wanted.network)) {
    plan.confirmShown = wanted.network;
  }
  return plan;
}

WritePlan PlanWholeWrite(const MacField& mac, const DeviceSettings& settings,
                         std::chrono::milliseconds pace) {
  return PlanOf(mac, settings,
                PlanSettingsWrite({true, true, true, true}, /*wholeFilterTable=*/true, pace));
}

DeviceExchange::DeviceExchange(const MacField& mac, const ExchangeTiming& timing)
    : mac_(mac), timing_(timing) {}

DeviceExchange DeviceExchange::Read(const MacField& mac, const ExchangeTiming& timing) {
  return DeviceExchange(mac, timing);
}

DeviceExchange DeviceExchange::Change(const MacField& mac, Planner plan,
                                      const ExchangeTiming& timing) {
  DeviceExchange exchange(mac, timing);
  exchange.planner_ = std::move(plan);
  return exchange;
}

DeviceExchange DeviceExchange::Write(const MacField& mac, WritePlan plan,
                                     const ExchangeTiming& timing) {
  DeviceExchange exchange(mac, timing);
  exchange.phase_ = Phase::kWriting;
  exchange.plan_ = std::move(plan);
  return exchange;
}

void DeviceExchange::Start(Time now) {
  next_due_ = now;
  if (phase_ == Phase::kWriting) {
    WritePlan plan = std::move(*plan_);
    StartWrite(std::move(plan), now);
  } else {
    StartRead(Phase::kReading, Outgoing::Forget::kNothing, now);
  }
}

void DeviceExchange::StartRead(Phase phase, Outgoing::Forget forget, Time now) {
  phase_ = phase;
  collector_ = SettingsCollector();
  rounds_ = ReadRounds();
  limit_end_.reset();
  next_due_ = std::max(now, settled_);
  QueueReadRound(rounds_.Next(collector_.MissingKinds()), forget);
}

void DeviceExchange::QueueReadRound(const std::vector<ReadStep>& steps, Outgoing::Forget forget) {
  std::chrono::milliseconds pause{0};
  for (const ReadStep& step : steps) {
    Queued queued;
    queued.out.message = BuildReadRequest(step.kind, mac_);
    queued.out.forget = forget;
    queued.pauseBefore = pause;
    queue_.push_back(std::move(queued));
    forget = Outgoing::Forget::kNothing;
    pause = timing_.pacedReads ? step.pauseAfter : std::chrono::milliseconds(0);
  }
  trailing_ = pause;
  waiting_ = false;
}

void DeviceExchange::QueueDiscoveryAsk(Outgoing::Forget forget, Time now) {
  Queued queued;
  queued.out.message = BuildDiscoveryQuery();
  queued.out.forget = forget;
  queued.out.forgetCode = code::kDiscovery;
  queued.out.discoverySince = now;
  queued.pauseBefore = timing_.shareDiscovery;
  queue_.push_back(std::move(queued));
  next_due_ = std::max(now, settled_) + timing_.shareDiscovery;
  trailing_ = std::chrono::milliseconds(0);
  waiting_ = false;
  ++shown_asks_;
}

void DeviceExchange::StartWrite(WritePlan plan, Time now) {
  phase_ = Phase::kWriting;
  if (plan.sends.empty()) {
    Finish(Result::kRead);
    return;
  }
  for (PlannedSend& send : plan.sends) {
    Queued queued;
    queued.out.message = std::move(send.message);
    queued.pauseBefore = send.pauseBefore;
    queued.step = send.step;
    queue_.push_back(std::move(queued));
  }
  // Only an acknowledgement that follows the apply command answers it.
  Queued apply;
  apply.out.message = BuildApplyCommand(mac_);
  apply.out.forget = Outgoing::Forget::kCode;
  apply.out.forgetCode = code::kApplyAck;
  apply.apply = true;
  queue_.push_back(std::move(apply));
  trailing_ = std::chrono::milliseconds(0);
  next_due_ = std::max(now, settled_) + queue_.front().pauseBefore;
  plan.sends.clear();
  plan_ = std::move(plan);
}

std::optional<Outgoing> DeviceExchange::Poll(Time now) {
  Advance(now);
  if (queue_.empty() || now < next_due_) return std::nullopt;
  Queued sent = std::move(queue_.front());
  queue_.pop_front();
  // Whatever goes next waits until the device had the pause this one needs.
  settled_ = queue_.empty() ? now + trailing_ : now;
  if (sent.step) sent_.push_back({*sent.step, sent.out.message});
  if (sent.apply) {
    written_ = true;
    phase_ = Phase::kAwaitingAck;
    ack_deadline_ = now + timing_.ack;
  } else if (!queue_.empty()) {
    next_due_ = now + queue_.front().pauseBefore;
  } else if (phase_ == Phase::kReading || phase_ == Phase::kReadingBack ||
             phase_ == Phase::kCheckingShown) {
    // The round went out: its wait begins once the device had its pause.
    waiting_ = true;
    const Time settled = now + trailing_;
    round_end_ = settled + timing_.readRound;
    if (timing_.confirmLimit && phase_ != Phase::kReading && !limit_end_) {
      limit_end_ = settled + *timing_.confirmLimit;
    }
  }
  return std::move(sent.out);
}

void DeviceExchange::Advance(Time now) {
  if (phase_ == Phase::kAwaitingAck) {
    if (now >= ack_deadline_) Finish(Result::kNotAcknowledged);
    return;
  }
  if (!waiting_) return;
  const bool reading = phase_ == Phase::kReading || phase_ == Phase::kReadingBack;
  if (!reading && phase_ != Phase::kCheckingShown) return;
  const auto fail = [&] {
    if (reading) missing_ = collector_.Missing();
    Finish(phase_ == Phase::kReading       ? Result::kReadIncomplete
           : phase_ == Phase::kReadingBack ? Result::kReadBackIncomplete
                                           : Result::kNotShown);
  };
  if (limit_end_ && now >= *limit_end_) {
    fail();
    return;
  }
  if (now < round_end_) return;
  if (reading) {
    const std::vector<ReadStep> steps = rounds_.Next(collector_.MissingKinds());
    if (!steps.empty()) {
      next_due_ = now;
      QueueReadRound(steps, Outgoing::Forget::kNothing);
      return;
    }
  } else if (shown_asks_ < ReadRounds::kRounds) {
    QueueDiscoveryAsk(Outgoing::Forget::kNothing, now);
    return;
  }
  // Every round asked: only a given limit still waits.
  if (limit_end_) {
    round_end_ = Time::max();
  } else {
    fail();
  }
}

DeviceExchange::Time DeviceExchange::WakeAt() const {
  if (phase_ == Phase::kDone) return Time::max();
  if (!queue_.empty()) return next_due_;
  if (phase_ == Phase::kAwaitingAck) return ack_deadline_;
  if (!waiting_) return Time::max();
  return limit_end_ ? std::min(round_end_, *limit_end_) : round_end_;
}

void DeviceExchange::OnDatagram(ByteView datagram, Time now) {
  switch (phase_) {
    case Phase::kReading:
    case Phase::kReadingBack:
      collector_.Take(datagram);
      if (collector_.Complete()) ReadComplete(now);
      return;
    case Phase::kAwaitingAck: {
      const std::optional<DeviceReply> reply = ParseDeviceReply(datagram);
      if (reply && std::holds_alternative<ApplyAcknowledgement>(*reply)) {
        // Replies still queued came before the read-back asked: they may
        // show the settings from before the write.
        StartRead(Phase::kReadingBack, Outgoing::Forget::kEverything, now);
      }
      return;
    }
    case Phase::kCheckingShown: {
      if (datagram.size() <= kCodeOffset || datagram[kCodeOffset] != code::kDiscovery) return;
      const std::optional<DeviceRecord> shown = ParseDiscoveryReply(datagram);
      if (!shown) return;
      not_in_use_ = PartsNotInUse(*plan_->confirmShown, *shown);
      Finish(not_in_use_.empty() ? Result::kVerified : Result::kNotInUse);
      return;
    }
    case Phase::kWriting:
    case Phase::kDone:
      return;
  }
}

void DeviceExchange::ReadComplete(Time now) {
  held_ = collector_.Settings();
  if (phase_ == Phase::kReading) {
    if (!planner_) {
      Finish(Result::kRead);
      return;
    }
    held_before_ = held_;
    WritePlan plan;
    try {
      plan = planner_(*held_);
    } catch (...) {
      error_ = std::current_exception();
      Finish(Result::kRefused);
      return;
    }
    StartWrite(std::move(plan), now);
    return;
  }
  not_taken_ = PartsNotTaken(mac_, sent_, *held_);
  if (!not_taken_.empty()) {
    Finish(Result::kNotTaken);
  } else if (plan_->confirmShown) {
    phase_ = Phase::kCheckingShown;
    limit_end_.reset();
    shown_asks_ = 0;
    // Only a reply to this query shows what the device now runs.
    QueueDiscoveryAsk(Outgoing::Forget::kCode, now);
  } else {
    Finish(Result::kVerified);
  }
}

void DeviceExchange::Cancel() {
  Finish(Result::kCancelled);
}

void DeviceExchange::Finish(Result result) {
  phase_ = Phase::kDone;
  result_ = result;
  queue_.clear();
  waiting_ = false;
}

std::chrono::milliseconds DeviceExchange::AckTimeLeft(Time now) const {
  if (phase_ != Phase::kAwaitingAck || now >= ack_deadline_) return std::chrono::milliseconds(0);
  return std::chrono::ceil<std::chrono::milliseconds>(ack_deadline_ - now);
}

std::vector<std::uint8_t> ExchangeReplyCodes() {
  std::vector<std::uint8_t> codes{code::kApplyAck, code::kUReply, code::kDiscovery};
  for (int k = 0; k < kReadRequestKindCount; ++k) {
    codes.push_back(ReplyCode(static_cast<ReadRequestKind>(k)));
  }
  return codes;
}

}  // namespace oxlo
