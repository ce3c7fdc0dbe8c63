// Reading a device's settings and writing them into it, over a DeviceSession.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/bytes.h"
#include "protocol/device_settings.h"

namespace oxlo::cli {

// The device did not answer as it must; the message says what is missing.
class DeviceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Broadcasts the eleven read requests and waits until every part has
// arrived, or `timeout` after the last request. Throws DeviceError naming
// what is missing, or transport::SocketError.
DeviceSettings ReadDeviceSettings(const MacField& mac, std::chrono::milliseconds timeout);

// Sends the settings messages as the window's Apply after an import does
// (the eight filter groups paced), then the apply command, and waits up to
// `timeout` for the acknowledgement. False when none came.
bool WriteDeviceSettings(const MacField& mac, const DeviceSettings& settings,
                         std::chrono::milliseconds timeout);

// Reads the device back after an acknowledged write of `settings` and names
// the parts it does not hold as written; empty when it took everything.
// Throws DeviceError when the read-back is incomplete.
std::vector<std::string> PartsNotTakenAfterWrite(const MacField& mac,
                                                 const DeviceSettings& settings,
                                                 std::chrono::milliseconds timeout);

}  // namespace oxlo::cli
