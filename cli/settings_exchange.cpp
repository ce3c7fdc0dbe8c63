#include "cli/settings_exchange.h"

#include "cli/output.h"
#include "protocol/wire/fields.h"
#include "transport/devices/exchange_driver.h"
#include "transport/sockets/endpoint.h"

namespace oxlo::cli {
namespace {

// How long a conversation over a shared line waits for another's discovery
// query before it sends its own.
constexpr std::chrono::milliseconds kShareDiscoveryWait{50};

}  // namespace

ExchangeTiming CommandLineTiming(std::chrono::milliseconds readTimeout,
                                 std::chrono::milliseconds ackTimeout, bool sharedLine) {
  ExchangeTiming timing;
  timing.readRound = ReadRounds::RoundWait(readTimeout);
  timing.ack = ackTimeout;
  // Over a shared line another device's query may serve this one too.
  if (sharedLine) timing.shareDiscovery = kShareDiscoveryWait;
  return timing;
}

std::string ReadFailure(const DeviceExchange& exchange, bool oversizeReply) {
  const std::string mac = MacToText(exchange.Mac());
  if (oversizeReply) {
    return mac + " sent a reply larger than " + std::to_string(transport::kReceiveBufferSize) +
           " bytes";
  }
  if (!exchange.AnyReadReply()) return mac + " did not answer the read requests";
  return mac + " did not send: " + JoinWithCommas(exchange.Missing());
}

DeviceSettings ReadDeviceSettings(const MacField& mac, std::chrono::milliseconds timeout,
                                  transport::DeviceLine* line) {
  DeviceExchange read =
      DeviceExchange::Read(mac, CommandLineTiming(timeout, timeout, line != nullptr));
  const bool oversize = transport::RunExchange(read, line);
  if (read.Outcome() != DeviceExchange::Result::kRead)
    throw DeviceError(ReadFailure(read, oversize));
  return *read.Held();
}

SettingsChange WriteWholeSettings(const MacField& mac, const DeviceSettings& settings,
                                  std::chrono::milliseconds timeout, transport::DeviceLine* line) {
  WritePlan plan = PlanWholeWrite(mac, settings);
  // Stored is not yet in use: a lost apply command answered by a late copy
  // of an earlier acknowledgement shows only in the discovery reply.
  plan.confirmShown = settings.network;
  DeviceExchange write = DeviceExchange::Write(
      mac, std::move(plan), CommandLineTiming(timeout, timeout, line != nullptr));
  const bool oversize = transport::RunExchange(write, line);
  SettingsChange change;
  ConcludeChange(write, oversize, change);
  return change;
}

std::string UnverifiedReason(const SettingsChange& change) {
  if (!change.notTaken.empty()) return "did not take: " + JoinWithCommas(change.notTaken);
  return "stored but not applied: " + JoinWithCommas(change.notInUse);
}

DeviceExchange::Planner ChangePlanner(const MacField& mac, const Document& document, bool dryRun,
                                      const SettingsVet& vet, SettingsChange& change) {
  return [mac, &document, dryRun, vet, &change](const DeviceSettings& held) {
    const DeviceSettings wanted = ApplyDocument(held, document);
    if (vet) vet(held, wanted);
    WritePlan plan = PlanChange(mac, held, wanted);
    // A value in another spelling of what the device holds (a CAN identifier
    // without its leading zeros) changes nothing, and is not listed.
    DeviceSettings sent = held;
    for (const PlannedSend& send : plan.sends) {
      switch (send.step->group) {
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
            sent.filters.Slot(send.step->filterGroup, k) =
                wanted.filters.Slot(send.step->filterGroup, k);
          }
          break;
      }
    }
    change.diff = DiffSettings(held, sent);
    // What it holds was just read: nothing to send, and nothing to confirm.
    change.verified = plan.sends.empty();
    if (dryRun) plan.sends.clear();
    return plan;
  };
}

void ConcludeChange(const DeviceExchange& exchange, bool oversizeReply, SettingsChange& change) {
  using Result = DeviceExchange::Result;
  const std::string mac = MacToText(exchange.Mac());
  change.written = exchange.Written();
  switch (exchange.Outcome()) {
    case Result::kRefused:
      std::rethrow_exception(exchange.Error());
    case Result::kReadIncomplete:
      throw DeviceError(ReadFailure(exchange, oversizeReply));
    case Result::kNotAcknowledged:
      throw AcknowledgementLost(mac + " did not acknowledge the settings (Connection Lost)");
    case Result::kReadBackIncomplete:
      throw DeviceError("the settings were acknowledged but could not be read back: " +
                        ReadFailure(exchange, oversizeReply));
    case Result::kNotShown:
      throw DeviceError(mac +
                        " took the settings but did not answer the discovery query, which shows "
                        "the ones in use");
    case Result::kNotTaken:
      change.notTaken = exchange.NotTaken();
      break;
    case Result::kNotInUse:
      change.notInUse = exchange.NotInUse();
      break;
    case Result::kVerified:
      change.verified = true;
      break;
    case Result::kRead:  // nothing written: verified when nothing differed
    case Result::kRunning:
    case Result::kCancelled:
      break;
  }
}

SettingsChange ChangeDeviceSettings(const MacField& mac, const Document& document, bool dryRun,
                                    std::chrono::milliseconds readTimeout,
                                    std::chrono::milliseconds ackTimeout,
                                    transport::DeviceLine* line, const SettingsVet& vet) {
  // The vet may search on port 2057 itself, so the line is let go between
  // the read and the write.
  const DeviceSettings held = ReadDeviceSettings(mac, readTimeout, line);
  SettingsChange change;
  DeviceExchange write =
      DeviceExchange::Write(mac, ChangePlanner(mac, document, dryRun, vet, change)(held),
                            CommandLineTiming(readTimeout, ackTimeout, line != nullptr));
  const bool oversize = transport::RunExchange(write, line);
  ConcludeChange(write, oversize, change);
  return change;
}

}  // namespace oxlo::cli
