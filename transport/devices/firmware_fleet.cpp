#include "transport/devices/firmware_fleet.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "protocol/wire/conversion_error.h"
#include "protocol/wire/discovery.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/frame.h"
#include "transport/devices/comeback_replies.h"

namespace oxlo::transport {

struct FirmwareFleet::Slot {
  Slot(InterfaceBroadcaster& out, std::uint16_t port) : driver(out, port) {}

  FirmwareDriver driver;
  // The rollout's thread only.
  std::unique_ptr<FirmwareUpload> upload;
  std::optional<ComebackWatch> watch;
  // Kept only while the device is being confirmed.
  ComebackReplies comeback;
  std::atomic<std::uint64_t> acknowledged{0};
  // The last report, which names the message a reply that throws answered.
  FirmwareDriver::Report last;
};

FirmwareFleet::FirmwareFleet(Rollout& rollout, InterfaceBroadcaster& out, std::uint16_t port,
                             ImageSource image, Settings settings)
    : rollout_(rollout), out_(out), port_(port), image_(std::move(image)), settings_(settings) {
  const std::vector<Rollout::Entry>& entries = rollout_.Entries();
  slots_.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    slots_.push_back(std::make_unique<Slot>(out_, port_));
    if (entries[i].needsUpgrade) by_mac_.emplace(MacKey(entries[i].device.macBytes), i);
  }
}

FirmwareFleet::~FirmwareFleet() {
  for (const std::unique_ptr<Slot>& slot : slots_) slot->driver.Stop();
}

void FirmwareFleet::Post(const Datagram& datagram) {
  const std::optional<std::uint8_t> code = AcceptDatagram(datagram.data);
  if (code != code::kFirmwareReply && code != code::kDiscovery) return;
  const std::optional<MacField> mac = MacOf(datagram.data);
  if (!mac) return;
  const auto found = by_mac_.find(MacKey(*mac));
  if (found == by_mac_.end()) return;
  Slot& slot = *slots_[found->second];
  if (code == code::kFirmwareReply) {
    slot.driver.PostReply(datagram.data, datagram.arrived);
    return;
  }
  slot.comeback.Take(datagram.data);
}

void FirmwareFleet::Step() {
  RolloutClock::time_point now = RolloutClock::now();
  for (const std::size_t i : rollout_.Due(now)) Start(i);

  bool anyWatching = false;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Rollout::Phase phase = rollout_.At(i).phase;
    if (phase == Rollout::Phase::kUploading) {
      Slot& slot = *slots_[i];
      FirmwareDriver::Report report;
      try {
        report = slot.driver.Wait(std::chrono::milliseconds(0));
      } catch (const ConversionError&) {
        Fail(i, "the reply to " + SentMessageName(slot.last) + " holds no sequence number");
        continue;
      } catch (const std::exception& error) {
        Fail(i, error.what());
        continue;
      }
      slot.last = report;
      slot.acknowledged = report.acknowledged;
      if (report.Over()) FinishUpload(i, report);
    } else if (phase == Rollout::Phase::kConfirming) {
      Confirm(i, now);
      anyWatching = anyWatching || rollout_.At(i).phase == Rollout::Phase::kConfirming;
    }
  }
  // Every device answers every query, so one query serves every watch.
  now = RolloutClock::now();
  if (anyWatching && (!queried_ || now - last_query_ >= ComebackWatch::kAskEvery)) {
    queried_ = true;
    last_query_ = now;
    out_.SendOnEveryInterface(BuildDiscoveryQuery(), port_);
  }
  // Room made by the devices that ended starts the next at once.
  for (const std::size_t i : rollout_.Due(now)) Start(i);
}

void FirmwareFleet::Start(std::size_t index) {
  Slot& slot = *slots_[index];
  try {
    slot.upload = std::make_unique<FirmwareUpload>(rollout_.At(index).device.macBytes, image_(),
                                                   settings_.timeouts);
  } catch (const std::exception& error) {
    Fail(index, error.what());
    return;
  }
  // A send that throws comes out of the driver's next Wait().
  slot.driver.Start(*slot.upload);
}

void FirmwareFleet::FinishUpload(std::size_t index, const FirmwareDriver::Report& report) {
  Slot& slot = *slots_[index];
  slot.driver.Stop();
  slot.upload.reset();
  if (report.state != FirmwareUpload::kSucceeded) {
    const std::string reason = FailureReason(report);
    Fail(index, reason.empty() ? std::string("the upload failed") : reason);
    return;
  }
  rollout_.Uploaded(index);
  slot.comeback.Start();
  slot.watch.emplace(rollout_.Options().version, RolloutClock::now(), settings_.backWithin);
}

void FirmwareFleet::Fail(std::size_t index, std::string reason) {
  Slot& slot = *slots_[index];
  slot.driver.Stop();
  slot.upload.reset();
  slot.comeback.End();
  rollout_.Finished(index, RolloutResult::kFailed, std::move(reason), {}, RolloutClock::now());
}

void FirmwareFleet::Confirm(std::size_t index, RolloutClock::time_point now) {
  Slot& slot = *slots_[index];
  ComebackWatch& watch = *slot.watch;
  const ComebackWatch::Verdict verdict = slot.comeback.JudgeInto(watch, now);
  if (verdict == ComebackWatch::Verdict::kWaiting) return;
  slot.comeback.End();
  const bool confirmed = verdict == ComebackWatch::Verdict::kConfirmed;
  rollout_.Finished(index, confirmed ? RolloutResult::kUpgraded : RolloutResult::kFailed,
                    confirmed ? std::string() : watch.Reason(), watch.VersionSeen(), now);
}

void FirmwareFleet::Stop() {
  rollout_.Stop();
}

std::uint64_t FirmwareFleet::Acknowledged(std::size_t index) const {
  return slots_.at(index)->acknowledged.load();
}

std::uint64_t FirmwareFleet::AcknowledgedTotal() const {
  std::uint64_t total = 0;
  for (const std::unique_ptr<Slot>& slot : slots_) total += slot->acknowledged.load();
  return total;
}

}  // namespace oxlo::transport
