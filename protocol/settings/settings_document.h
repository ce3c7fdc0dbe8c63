// A device's settings as a JSON document with names, not codes, for people
// and configuration tools: reading it out of settings, changing settings by
// a whole or partial document, and the differences between two settings.
#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/settings/device_settings.h"

namespace oxlo {

using Document = nlohmann::ordered_json;

// A document or value the settings cannot take; says which key and why, as
// "network.ip: \"10.0.0.256\" is not an IPv4 address".
class DocumentError : public std::runtime_error {
 public:
  DocumentError(const std::string& key, const std::string& problem)
      : std::runtime_error(key.empty() ? problem : key + ": " + problem), key_(key) {}
  const std::string& Key() const { return key_; }

 private:
  std::string key_;
};

// The deepest a settings document nests: an object, its filter list, a
// filter. Deeper text is refused before anything is built of it.
inline constexpr int kDeepestDocument = 16;

// A settings document from the text of a file: JSON in UTF-8, a leading
// byte-order mark skipped. Throws DocumentError, quoting at most a short
// excerpt of the text.
Document ParseSettingsDocument(std::string_view text);

// True when the text starts as no settings document but as a settings file
// (*.oxl) does: with the STX byte of its first message.
bool LooksLikeSettingsFile(std::string_view text);

// The sections network, port, can and filters (a list of group, slot, type,
// id). A code no list names, as a device may hold, reads "unknown (N)" and
// is taken back only unchanged, so a document read from a device always
// goes back into it.
Document SettingsToDocument(const DeviceSettings& settings);

// `base` changed by a whole or partial document (a top-level "mac" is
// ignored). Every changed value is checked as the configuration window
// checks it, with the window's message; an unknown key is refused too.
DeviceSettings ApplyDocument(const DeviceSettings& base, const Document& document);

// Checks what a document can be checked for without the device's settings:
// known keys, each with a value of its kind (text, number, true or false).
// Throws DocumentError.
void CheckDocumentShape(const Document& document);

// Checks every value of a document as ApplyDocument does, without the
// device's settings, so many devices' documents can be judged before any is
// written: the values are laid on neutral settings of each identifier
// format, and one refused under both is refused. What only the device can
// decide is left to ApplyDocument: a code read out as "unknown (N)", and a
// format change that the device's own filters do not fit. Throws DocumentError.
void CheckDocumentValues(const Document& document);

// A partial document from KEY=VALUE texts with dotted keys: network.ip,
// port.local_port, can.bitrate_kbps, filters.3.2.id (group 3, slot 2). The
// value is read as the key's kind: a number, true or false, or text.
Document DocumentOfAssignments(const std::vector<std::string>& assignments);

// Every setting by its dotted key, in document order.
std::vector<std::pair<std::string, Document>> SettingsByKey(const DeviceSettings& settings);

// One setting that differs, by its dotted key.
struct SettingChange {
  std::string key;
  Document before;
  Document after;
};
std::vector<SettingChange> DiffSettings(const DeviceSettings& before, const DeviceSettings& after);

}  // namespace oxlo
