// Reading a device's settings and writing them into it, over a transport::DeviceSession.
#pragma once

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/conversation/device_exchange.h"
#include "protocol/conversation/settings_write.h"
#include "protocol/settings/device_settings.h"
#include "protocol/settings/settings_document.h"
#include "protocol/wire/bytes.h"
#include "transport/devices/device_line.h"

namespace oxlo::cli {

// The device did not answer as it must; the message says what is missing.
class DeviceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// No acknowledgement of the apply command came in time.
class AcknowledgementLost : public DeviceError {
 public:
  using DeviceError::DeviceError;
};

// The conversation's waits for a read of `readTimeout` in all (four rounds)
// and an acknowledgement of `ackTimeout`; over a line shared with other
// conversations, discovery queries wait a moment to be shared.
ExchangeTiming CommandLineTiming(std::chrono::milliseconds readTimeout,
                                 std::chrono::milliseconds ackTimeout, bool sharedLine);

// Why a read ended without the settings: "MAC did not send: CAN settings".
std::string ReadFailure(const DeviceExchange& exchange, bool oversizeReply);

// Each function talks to the device over `line` when given (one shared by
// many conversations at once), else over a line of its own.

// Broadcasts the eleven read requests and waits until every part has
// arrived; the parts that did not answer within a quarter of `timeout` are
// asked again, three times at most. Throws DeviceError naming what is
// missing, or transport::SocketError.
DeviceSettings ReadDeviceSettings(const MacField& mac, std::chrono::milliseconds timeout,
                                  transport::DeviceLine* line = nullptr);

// What a change of settings did.
struct SettingsChange {
  std::vector<SettingChange> diff;
  bool written = false;               // groups went, and the apply command
  bool verified = false;              // the device holds what is wanted, read back
  std::vector<std::string> notTaken;  // parts the read-back differs in
  // Stored but not applied: what the discovery reply still shows old.
  std::vector<std::string> notInUse;
};

// Writes whole settings (an import), the eight filter groups paced, then the
// apply command; reads back what the device took and, in its discovery
// reply, what it runs. Throws as ChangeDeviceSettings does.
SettingsChange WriteWholeSettings(const MacField& mac, const DeviceSettings& settings,
                                  std::chrono::milliseconds timeout,
                                  transport::DeviceLine* line = nullptr);

// "did not take: CAN settings" or "stored but not applied: name", for a
// change written but not verified.
std::string UnverifiedReason(const SettingsChange& change);

// Reads the device, changes what it holds by `document` (a whole or partial
// settings document), and sends only the groups that differ, then the apply
// command; after the acknowledgement reads back to confirm, and a changed
// name or static address is confirmed in the discovery reply. With `dryRun`,
// or when nothing differs, nothing is written. Throws DocumentError for a
// value the window would refuse, before anything is sent; DeviceError when
// the device does not answer or acknowledge.
// `vet`, when given, judges the settings wanted against those held before
// anything is sent (a dry run too), and throws to refuse them.
using SettingsVet = std::function<void(const DeviceSettings& held, const DeviceSettings& wanted)>;
SettingsChange ChangeDeviceSettings(const MacField& mac, const Document& document, bool dryRun,
                                    std::chrono::milliseconds readTimeout,
                                    std::chrono::milliseconds ackTimeout,
                                    transport::DeviceLine* line = nullptr,
                                    const SettingsVet& vet = {});

// The planner of ChangeDeviceSettings's exchange: it notes the diff in
// `change`, which (like `document`) must outlive the exchange.
DeviceExchange::Planner ChangePlanner(const MacField& mac, const Document& document, bool dryRun,
                                      const SettingsVet& vet, SettingsChange& change);
// Fills `change` from a finished change exchange; throws DeviceError when
// the device did not answer or acknowledge, or the planner's refusal.
void ConcludeChange(const DeviceExchange& exchange, bool oversizeReply, SettingsChange& change);

}  // namespace oxlo::cli
