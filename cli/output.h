// How the command-line tool prints devices.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "protocol/discovery.h"

namespace oxlo::cli {

// 8-bit device texts (model, version) as UTF-8.
std::string Latin1ToUtf8(const std::string& text);

void PrintDeviceTable(std::ostream& out, const std::vector<DeviceRecord>& devices);
// An array of objects with the keys model, mac, version, name, ip, mask, gateway.
void PrintDeviceJson(std::ostream& out, const std::vector<DeviceRecord>& devices);

}  // namespace oxlo::cli
