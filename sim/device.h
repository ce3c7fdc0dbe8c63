// What one simulated device remembers: its identity and every settings block
// the tool can read back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "protocol/wire/bytes.h"
#include "protocol/wire/can_messages.h"
#include "protocol/wire/device_side.h"
#include "protocol/wire/settings_messages.h"
#include "sim/upgrade.h"

namespace oxlo::sim {

struct DeviceState {
  DeviceIdentity identity;
  NetworkSettings network;
  PortSettings port;  // port 0, the only one
  // The last 'O' message, answered byte for byte from then on: it may hold
  // what PortSettings cannot (port type 0xFF for a row the tool never filled,
  // mode codes 0, 4 and 5, bytes after the alias' NUL). `port` follows it
  // whenever its fields decode.
  std::optional<Bytes> opModeAsSent;
  CanSettings can;
  FilterTable filters;
  UpgradeOverrides upgrade;  // from the device file's "firmware" object
};

inline constexpr MacField kGeneratedMacBase{0x02, 0x00, 0x00, 0x00, 0x00, 0x00};

// Device `number` (1-based) of a generated set: MAC `macBase` + number (so
// 02-00-00-00-00-01 onwards), name "Oxlo-<number>", addresses counting up
// from 10.57.0.101. The same arguments always give the same device.
DeviceState GeneratedDevice(int number, const MacField& macBase = kGeneratedMacBase);

// The largest count GeneratedDevice can number without repeating an address.
inline constexpr int kMaxGeneratedDevices = 60000;

// The 8-digit form in which the device holds a CAN identifier, so stored
// settings compare equal to what a read request returns.
std::string CanIdText(std::string_view hexText);

}  // namespace oxlo::sim
