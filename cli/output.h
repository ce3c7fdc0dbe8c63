// How the command-line tool prints devices.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/device_settings.h"
#include "protocol/discovery.h"

namespace oxlo::cli {

// 8-bit device texts (model, version) as UTF-8.
std::string Latin1ToUtf8(const std::string& text);

// UTF-8 text from a device, safe to show on a terminal: no name can clear the
// screen or set the window title. Controls and DEL become "\x1b", the C1
// controls (U+0080 to U+009F) "\u009b", a byte outside valid UTF-8 "\xc3",
// and a backslash "\\", so the escaped text reads back unambiguously.
std::string EscapeControls(std::string_view utf8);

// Columns of device texts, escaped (EscapeControls).
void PrintDeviceTable(std::ostream& out, const std::vector<DeviceRecord>& devices);
// An array of objects with the keys model, mac, version, name, ip, mask, gateway.
void PrintDeviceJson(std::ostream& out, const std::vector<DeviceRecord>& devices);

// A device's settings as `config get` shows them, in sections, its texts
// escaped; a code with no name reads "unknown (N)".
void PrintSettingsText(std::ostream& out, const std::string& mac, const DeviceSettings& settings);
// One object with the keys mac, network, port, can and filters.
void PrintSettingsJson(std::ostream& out, const std::string& mac, const DeviceSettings& settings);

}  // namespace oxlo::cli
