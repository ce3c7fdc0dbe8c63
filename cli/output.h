// How the command-line tool prints devices.
#pragma once

#include <cstddef>
#include <exception>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/settings_exchange.h"
#include "protocol/network/diagnosis.h"
#include "protocol/settings/device_settings.h"
#include "protocol/wire/discovery.h"
#include "protocol/wire/fields.h"

namespace oxlo::cli {

// UTF-8 text from a device, safe to show on a terminal: no name can clear the
// screen, set the window title or reorder the line. Controls and DEL become
// "\x1b", the C1 controls (U+0080 to U+009F) "\u009b", the bidirectional
// controls (U+202A to U+202E, U+2066 to U+2069) "\u202e", a byte outside
// valid UTF-8 "\xc3", and a backslash "\\", so the escaped text reads back
// unambiguously.
std::string EscapeControls(std::string_view utf8);

// Text as one word for any POSIX shell: in single quotes, each quote written
// '\''. Not escaped for a terminal: show only text EscapeControls leaves alone.
std::string ShellQuote(std::string_view text);

// The columns `utf8` takes on a terminal: a combining mark or zero-width
// character none, an East Asian wide or fullwidth character two, any other
// character (or a byte outside valid UTF-8) one.
std::size_t DisplayColumns(std::string_view utf8);

// Rows as columns two spaces apart, lined up by DisplayColumns, not bytes: a
// device's text may hold UTF-8. Each row as long as the first (the header).
void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows);

// "a, b, c".
std::string JoinWithCommas(const std::vector<std::string>& parts);

// An error's message as one line for stderr: socket messages carry a CR LF,
// and a message may quote what a device or a file held (EscapeControls).
std::string ErrorText(const std::exception& error);

// A settings diff as [{"key", "before", "after"}], in its order.
Document DiffJson(const std::vector<SettingChange>& diff);

// Columns of device texts, escaped (EscapeControls), with the interface the
// device answered on.
void PrintDeviceTable(std::ostream& out, const std::vector<SeenDevice>& devices);
// An array of objects with the keys model, mac, version, name, ip, mask,
// gateway, interface, local_address and problems (kind, reason, fix), one
// diagnosis per device.
nlohmann::json DeviceJson(const std::vector<SeenDevice>& devices,
                          const std::vector<DeviceDiagnosis>& diagnoses);
void PrintDeviceJson(std::ostream& out, const std::vector<SeenDevice>& devices,
                     const std::vector<DeviceDiagnosis>& diagnoses);

// A device's settings as `config get` shows them, in sections, its texts
// escaped; a code with no name reads "unknown (N)".
void PrintSettingsText(std::ostream& out, const std::string& mac, const DeviceSettings& settings);
// One object with the keys mac, network, port, can and filters.
void PrintSettingsJson(std::ostream& out, const std::string& mac, const DeviceSettings& settings);

// What config set and config apply did: each changed key as
// "key: old -> new", then the outcome.
void PrintChangeText(std::ostream& out, const std::string& mac, const SettingsChange& change,
                     bool dryRun);
// {"mac", "changed", "diff": [{"key", "before", "after"}], "verified", "not_taken",
// "not_applied"}.
void PrintChangeJson(std::ostream& out, const std::string& mac, const SettingsChange& change);

}  // namespace oxlo::cli
