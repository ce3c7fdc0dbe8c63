// How the command-line tool prints devices.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/device_settings.h"
#include "protocol/discovery.h"

namespace oxlo::cli {

// 8-bit device texts (model, version) as UTF-8.
std::string Latin1ToUtf8(const std::string& text);

void PrintDeviceTable(std::ostream& out, const std::vector<DeviceRecord>& devices);
// An array of objects with the keys model, mac, version, name, ip, mask, gateway.
void PrintDeviceJson(std::ostream& out, const std::vector<DeviceRecord>& devices);

// A device's settings as `config get` shows them, in sections; a code with
// no name reads "unknown (N)".
void PrintSettingsText(std::ostream& out, const std::string& mac, const DeviceSettings& settings);
// One object with the keys mac, network, port, can and filters.
void PrintSettingsJson(std::ostream& out, const std::string& mac, const DeviceSettings& settings);

}  // namespace oxlo::cli
