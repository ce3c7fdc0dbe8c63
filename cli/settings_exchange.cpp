#include "cli/settings_exchange.h"

#include <thread>

#include "cli/device_session.h"
#include "protocol/device_replies.h"
#include "protocol/fields.h"
#include "protocol/frame.h"
#include "protocol/settings_messages.h"
#include "protocol/settings_write.h"

namespace oxlo::cli {
namespace {

std::string JoinWithCommas(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text;
}

}  // namespace

DeviceSettings ReadDeviceSettings(const MacField& mac, std::chrono::milliseconds timeout) {
  std::vector<std::uint8_t> replyCodes;
  for (int k = 0; k < kReadRequestKindCount; ++k) {
    replyCodes.push_back(ReplyCode(static_cast<ReadRequestKind>(k)));
  }
  DeviceSession session(mac, replyCodes);
  session.Open();
  for (const ReadStep& step : kReadPlan) {
    session.Broadcast(BuildReadRequest(step.kind, mac));
    std::this_thread::sleep_for(step.pauseAfter);
  }
  SettingsCollector collector;
  const auto deadline = DeviceSession::Clock::now() + timeout;
  while (!collector.Complete()) {
    const std::optional<Bytes> reply = session.Next(deadline);
    if (!reply) break;
    collector.Take(*reply);
  }
  session.Close();
  if (!collector.AnyReply())
    throw DeviceError(MacToText(mac) + " did not answer the read requests");
  if (!collector.Complete()) {
    throw DeviceError(MacToText(mac) + " did not send: " + JoinWithCommas(collector.Missing()));
  }
  return collector.Settings();
}

bool WriteDeviceSettings(const MacField& mac, const DeviceSettings& settings,
                         std::chrono::milliseconds timeout) {
  DeviceSession session(mac, {code::kApplyAck});
  session.Open();
  for (const WriteStep& step :
       PlanSettingsWrite({true, true, true, true}, /*wholeFilterTable=*/true)) {
    std::this_thread::sleep_for(step.pauseBefore);
    session.Broadcast(BuildWriteStep(mac, settings, step));
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

}  // namespace oxlo::cli
