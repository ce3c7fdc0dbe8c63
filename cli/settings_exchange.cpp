#include "cli/settings_exchange.h"

#include <algorithm>
#include <memory>
#include <thread>

#include "cli/device_session.h"
#include "protocol/device_replies.h"
#include "protocol/discovery.h"
#include "protocol/fields.h"
#include "protocol/frame.h"
#include "protocol/settings_messages.h"
#include "protocol/settings_write.h"
#include "transport/endpoint.h"

namespace oxlo::cli {
namespace {

std::string JoinWithCommas(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text;
}

// How long a conversation over a shared line waits for another's discovery
// query before it sends its own.
constexpr std::chrono::milliseconds kShareDiscoveryWait{50};

std::unique_ptr<DeviceSession> SessionWith(DeviceLine* line, const MacField& mac,
                                           const std::vector<std::uint8_t>& replyCodes) {
  if (line != nullptr) return std::make_unique<DeviceSession>(*line, mac, replyCodes);
  return std::make_unique<DeviceSession>(mac, replyCodes);
}

}  // namespace

std::vector<WriteStep> WholeSettingsPlan() {
  return PlanSettingsWrite({true, true, true, true}, /*wholeFilterTable=*/true);
}

DeviceSettings ReadDeviceSettings(const MacField& mac, std::chrono::milliseconds timeout,
                                  DeviceLine* line) {
  std::vector<std::uint8_t> replyCodes;
  for (int k = 0; k < kReadRequestKindCount; ++k) {
    replyCodes.push_back(ReplyCode(static_cast<ReadRequestKind>(k)));
  }
  const std::unique_ptr<DeviceSession> own = SessionWith(line, mac, replyCodes);
  DeviceSession& session = *own;
  session.Open();
  SettingsCollector collector;
  ReadRounds rounds;
  for (std::vector<ReadStep> steps = rounds.Next(collector.MissingKinds()); !steps.empty();
       steps = rounds.Next(collector.MissingKinds())) {
    for (const ReadStep& step : steps) {
      session.Broadcast(BuildReadRequest(step.kind, mac));
      std::this_thread::sleep_for(step.pauseAfter);
    }
    const auto deadline = DeviceSession::Clock::now() + ReadRounds::RoundWait(timeout);
    while (!collector.Complete()) {
      const std::optional<Bytes> reply = session.Next(deadline);
      if (!reply) break;
      collector.Take(*reply);
    }
  }
  session.Close();
  if (!collector.Complete() && session.OversizeReplyArrived()) {
    throw DeviceError(MacToText(mac) + " sent a reply larger than " +
                      std::to_string(transport::kReceiveBufferSize) + " bytes");
  }
  if (!collector.AnyReply())
    throw DeviceError(MacToText(mac) + " did not answer the read requests");
  if (!collector.Complete()) {
    throw DeviceError(MacToText(mac) + " did not send: " + JoinWithCommas(collector.Missing()));
  }
  return collector.Settings();
}

bool WriteDeviceSettings(const MacField& mac, const DeviceSettings& settings,
                         std::chrono::milliseconds timeout, const std::vector<WriteStep>& plan,
                         DeviceLine* line) {
  const std::unique_ptr<DeviceSession> own = SessionWith(line, mac, {code::kApplyAck});
  DeviceSession& session = *own;
  session.Open();
  for (const SentStep& sent : BuildSentSteps(mac, settings, plan)) {
    std::this_thread::sleep_for(sent.step.pauseBefore);
    session.Broadcast(sent.message);
  }
  // Only an acknowledgement that follows the apply command counts.
  session.Discard();
  session.Broadcast(BuildApplyCommand(mac));
  AcknowledgementWait wait;
  wait.Start();
  const auto deadline = DeviceSession::Clock::now() + timeout;
  while (const std::optional<Bytes> datagram = session.Next(deadline)) {
    const std::optional<DeviceReply> reply = ParseDeviceReply(*datagram);
    if (reply && wait.OnReply(*reply)) return true;
  }
  return false;
}

std::vector<std::string> PartsNotTakenAfterWrite(const MacField& mac,
                                                 const DeviceSettings& settings,
                                                 std::chrono::milliseconds timeout,
                                                 const std::vector<WriteStep>& plan,
                                                 DeviceLine* line) {
  DeviceSettings held;
  try {
    held = ReadDeviceSettings(mac, timeout, line);
  } catch (const DeviceError& error) {
    throw DeviceError(std::string("the settings were acknowledged but could not be read back: ") +
                      error.what());
  }
  return PartsNotTaken(mac, BuildSentSteps(mac, settings, plan), held);
}

std::vector<std::string> PartsNotInUseAfterWrite(const MacField& mac,
                                                 const NetworkSettings& written,
                                                 std::chrono::milliseconds timeout,
                                                 DeviceLine* line) {
  const std::unique_ptr<DeviceSession> own = SessionWith(line, mac, {code::kDiscovery});
  DeviceSession& session = *own;
  session.Open();
  // Only a reply after the acknowledgement counts, not one that came before.
  session.Discard();
  for (int round = 0; round < ReadRounds::kRounds; ++round) {
    const auto since = DeviceSession::Clock::now();
    // Over a shared line another device's query may serve this one too.
    if (line != nullptr) std::this_thread::sleep_for(kShareDiscoveryWait);
    session.AskDiscovery(since);
    const auto deadline = since + ReadRounds::RoundWait(timeout);
    while (const std::optional<Bytes> reply = session.Next(deadline)) {
      if (const std::optional<DeviceRecord> shown = ParseDiscoveryReply(*reply)) {
        return PartsNotInUse(written, *shown);
      }
    }
  }
  throw DeviceError(MacToText(mac) +
                    " took the settings but did not answer the discovery query, which shows "
                    "the ones in use");
}

std::string UnverifiedReason(const SettingsChange& change) {
  if (!change.notTaken.empty()) return "did not take: " + JoinWithCommas(change.notTaken);
  return "stored but not applied: " + JoinWithCommas(change.notInUse);
}

SettingsChange ChangeDeviceSettings(const MacField& mac, const Document& document, bool dryRun,
                                    std::chrono::milliseconds readTimeout,
                                    std::chrono::milliseconds ackTimeout, DeviceLine* line,
                                    const SettingsVet& vet) {
  const DeviceSettings held = ReadDeviceSettings(mac, readTimeout, line);
  const DeviceSettings wanted = ApplyDocument(held, document);
  if (vet) vet(held, wanted);
  const std::vector<WriteStep> plan = PlanChangedWrite(mac, held, wanted);
  // A value in another spelling of what the device holds (a CAN identifier
  // without its leading zeros) changes nothing, and is not listed.
  DeviceSettings sent = held;
  for (const WriteStep& step : plan) {
    switch (step.group) {
      case SettingGroup::kNetwork:
        sent.network = wanted.network;
        break;
      case SettingGroup::kOperationMode:
        sent.port = wanted.port;
        break;
      case SettingGroup::kCan:
        sent.can = wanted.can;
        break;
      case SettingGroup::kFilters:
        for (int k = 0; k < kSlotsPerGroup; ++k) {
          sent.filters.Slot(step.filterGroup, k) = wanted.filters.Slot(step.filterGroup, k);
        }
        break;
    }
  }
  SettingsChange change;
  change.diff = DiffSettings(held, sent);
  if (plan.empty()) {
    // What it holds was just read: nothing to send, and nothing to confirm.
    change.verified = true;
    return change;
  }
  if (dryRun) return change;
  if (!WriteDeviceSettings(mac, wanted, ackTimeout, plan, line)) {
    throw DeviceError(MacToText(mac) + " did not acknowledge the settings (Connection Lost)");
  }
  change.written = true;
  change.notTaken = PartsNotTakenAfterWrite(mac, wanted, readTimeout, plan, line);
  // A lost apply command answered by a late copy of an earlier
  // acknowledgement leaves the new settings stored only; the read-back cannot
  // tell, but the discovery reply shows the name and address in use.
  const bool networkSent = std::any_of(plan.begin(), plan.end(), [](const WriteStep& step) {
    return step.group == SettingGroup::kNetwork;
  });
  if (change.notTaken.empty() && networkSent && ChangesWhatIsShown(held.network, wanted.network)) {
    change.notInUse = PartsNotInUseAfterWrite(mac, wanted.network, readTimeout, line);
  }
  change.verified = change.notTaken.empty() && change.notInUse.empty();
  return change;
}

}  // namespace oxlo::cli
