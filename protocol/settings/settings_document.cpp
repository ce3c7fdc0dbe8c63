#include "protocol/settings/settings_document.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>
#include <optional>

#include "protocol/settings/code_names.h"
#include "protocol/settings/setting_checks.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/frame.h"

namespace oxlo {
namespace {

enum class Kind { kText, kNumber, kBool };

// One setting: its dotted key, the section it belongs to for the checks
// that span fields, and how it is read out of and written into settings.
struct Field {
  std::string key;
  Kind kind;
  std::function<Document(const DeviceSettings&)> get;
  // Throws DocumentError; `base` holds the value before any change.
  std::function<void(DeviceSettings&, const Document&, const DeviceSettings& base)> set;
};

// An error text cut to a length a terminal line can hold.
std::string Shortened(std::string text, std::size_t longest = 160) {
  if (text.size() > longest) text = text.substr(0, longest - 3) + "...";
  return text;
}

// A value as a message quotes it: text that is no UTF-8 is shown, not refused.
std::string Shown(const Document& value) {
  return value.dump(-1, ' ', false, Document::error_handler_t::replace);
}

// A message quotes what it was given, so never more than a short excerpt.
[[noreturn]] void Refuse(const std::string& key, const std::string& problem) {
  throw DocumentError(Shortened(key, 38), Shortened(problem));
}

std::string Choices(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

template <std::size_t N>
std::vector<std::string> NameList(const std::array<std::string_view, N>& names) {
  return {names.begin(), names.end()};
}

// The code a value names. A code no list has is kept only as it was.
template <std::size_t N>
int CodeOf(const std::string& key, const Document& value,
           const std::array<std::string_view, N>& names, int current, int first = 0) {
  if (value.is_string()) {
    const std::string text = value.get<std::string>();
    for (std::size_t i = 0; i < N; ++i) {
      if (text == names[i]) return static_cast<int>(i) + first;
    }
    if (text == UnknownCodeName(current) && !NameOfCode(names, current, first)) return current;
  }
  Refuse(key, Shown(value) + " is not one of: " + Choices(NameList(names)));
}

std::string Text(const std::string& key, const Document& value) {
  if (!value.is_string()) Refuse(key, "expected text, not " + Shown(value));
  return value.get<std::string>();
}

Ipv4Field Address(const std::string& key, const Document& value) {
  const std::string text = Text(key, value);
  const std::optional<Ipv4Field> address = ParseIpv4Text(text);
  if (!address) Refuse(key, "\"" + text + "\" is not an IPv4 address");
  return *address;
}

std::uint16_t Port(const std::string& key, const Document& value) {
  if (!value.is_number_integer() || value.get<std::int64_t>() < 0 ||
      value.get<std::int64_t>() > 65535) {
    Refuse(key, "expected a whole number from 0 to 65535, not " + Shown(value));
  }
  return static_cast<std::uint16_t>(value.get<std::int64_t>());
}

std::string Latin1FromUtf8(const std::string& key, const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size() &&
               (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
      out.push_back(static_cast<char>(((c & 0x03) << 6) | (text[++i] & 0x3F)));
    } else {
      Refuse(key, "only characters up to U+00FF fit");
    }
  }
  return out;
}

std::string FilterKey(int group, int slot, const char* part) {
  return "filters." + std::to_string(group + 1) + "." + std::to_string(slot + 1) + "." + part;
}

// A field holding an IPv4 address, as dotted text.
void AddAddressField(std::vector<Field>& f, const std::string& key, auto member) {
  f.push_back({key, Kind::kText,
               [member](const DeviceSettings& s) { return Document(Ipv4ToText(member(s))); },
               [member, key](DeviceSettings& s, const Document& v, const DeviceSettings&) {
                 member(s) = Address(key, v);
               }});
}

// A field holding a TCP or UDP port number.
void AddPortField(std::vector<Field>& f, const std::string& key, auto member) {
  f.push_back({key, Kind::kNumber,
               [member](const DeviceSettings& s) { return Document(member(s)); },
               [member, key](DeviceSettings& s, const Document& v, const DeviceSettings&) {
                 member(s) = Port(key, v);
               }});
}

void AppendNetworkFields(std::vector<Field>& f) {
  f.push_back({"network.name", Kind::kText,
               [](const DeviceSettings& s) { return Document(s.network.name); },
               [](DeviceSettings& s, const Document& v, const DeviceSettings&) {
                 const std::string name = Text("network.name", v);
                 // The device ends a name at its first NUL: the rest would be lost.
                 if (name.find('\0') != std::string::npos) {
                   Refuse("network.name", "a name cannot hold a NUL character");
                 }
                 if (!IsValidUtf8(ByteView(reinterpret_cast<const std::uint8_t*>(name.data()),
                                           name.size()))) {
                   Refuse("network.name", "not valid UTF-8");
                 }
                 if (name.size() > kNameFieldSize) {
                   Refuse("network.name",
                          "longer than " + std::to_string(kNameFieldSize) + " bytes in UTF-8");
                 }
                 s.network.name = name;
               }});
  f.push_back(
      {"network.type", Kind::kText,
       [](const DeviceSettings& s) { return Document(NetworkTypeName(s.network.networkType)); },
       [](DeviceSettings& s, const Document& v, const DeviceSettings& base) {
         s.network.networkType = static_cast<std::uint8_t>(
             CodeOf("network.type", v, kNetworkTypeNames, base.network.networkType));
       }});
  AddAddressField(
      f, "network.ip", [](auto& s) -> auto& { return s.network.address; });
  AddAddressField(
      f, "network.mask", [](auto& s) -> auto& { return s.network.subnetMask; });
  AddAddressField(
      f, "network.gateway", [](auto& s) -> auto& { return s.network.gateway; });
  AddAddressField(
      f, "network.dns", [](auto& s) -> auto& { return s.network.dns; });
}

void AppendPortFields(std::vector<Field>& f) {
  f.push_back({"port.alias", Kind::kText,
               [](const DeviceSettings& s) { return Document(Latin1ToUtf8(s.port.alias)); },
               [](DeviceSettings& s, const Document& v, const DeviceSettings&) {
                 const std::string alias = Latin1FromUtf8("port.alias", Text("port.alias", v));
                 if (alias.size() > kAliasFieldSize) {
                   Refuse("port.alias",
                          "longer than " + std::to_string(kAliasFieldSize) + " characters");
                 }
                 s.port.alias = alias;
               }});
  f.push_back({"port.mode", Kind::kText,
               [](const DeviceSettings& s) { return Document(std::string(ModeName(s.port.mode))); },
               [](DeviceSettings& s, const Document& v, const DeviceSettings&) {
                 const std::string name = v.is_string() ? v.get<std::string>() : std::string();
                 if (auto refusal = CheckPortMode(name)) Refuse("port.mode", *refusal);
                 s.port.mode = *ModeFromName(name);
               }});
  AddPortField(
      f, "port.local_port", [](auto& s) -> auto& { return s.port.localPort; });
  AddAddressField(
      f, "port.target_ip", [](auto& s) -> auto& { return s.port.targetAddress; });
  AddPortField(
      f, "port.target_port", [](auto& s) -> auto& { return s.port.targetPort; });
  AddPortField(
      f, "port.alive", [](auto& s) -> auto& { return s.port.alive; });
  AddPortField(
      f, "port.latency", [](auto& s) -> auto& { return s.port.latency; });
  f.push_back({"port.no_delay", Kind::kBool,
               [](const DeviceSettings& s) { return Document(s.port.noDelay); },
               [](DeviceSettings& s, const Document& v, const DeviceSettings&) {
                 if (!v.is_boolean()) Refuse("port.no_delay", "expected true or false");
                 s.port.noDelay = v.get<bool>();
               }});
  f.push_back({"port.type", Kind::kText,
               [](const DeviceSettings& s) { return Document(PortTypeName(s.port.portType)); },
               [](DeviceSettings& s, const Document& v, const DeviceSettings& base) {
                 s.port.portType = static_cast<std::uint8_t>(
                     CodeOf("port.type", v, kPortTypeNames, base.port.portType));
               }});
}

void AppendCanFields(std::vector<Field>& f) {
  f.push_back({"can.bitrate_kbps", Kind::kNumber,
               [](const DeviceSettings& s) {
                 return s.can.baudIndex < kBaudRatesKbit.size()
                            ? Document(kBaudRatesKbit[s.can.baudIndex])
                            : Document(UnknownCodeName(s.can.baudIndex));
               },
               [](DeviceSettings& s, const Document& v, const DeviceSettings& base) {
                 if (v.is_number_integer()) {
                   const auto it = std::find(kBaudRatesKbit.begin(), kBaudRatesKbit.end(),
                                             v.get<std::int64_t>());
                   if (it != kBaudRatesKbit.end()) {
                     s.can.baudIndex = static_cast<std::uint8_t>(it - kBaudRatesKbit.begin());
                     return;
                   }
                 } else if (v == Document(UnknownCodeName(base.can.baudIndex)) &&
                            base.can.baudIndex >= kBaudRatesKbit.size()) {
                   return;
                 }
                 std::vector<std::string> rates;
                 for (int rate : kBaudRatesKbit) rates.push_back(std::to_string(rate));
                 Refuse("can.bitrate_kbps", Shown(v) + " is not one of: " + Choices(rates));
               }});
  f.push_back({"can.id_format", Kind::kText,
               [](const DeviceSettings& s) { return Document(IdFormatName(s.can.idFormat)); },
               [](DeviceSettings& s, const Document& v, const DeviceSettings& base) {
                 s.can.idFormat = static_cast<std::uint8_t>(
                     CodeOf("can.id_format", v, kIdFormatNames, base.can.idFormat, kIdFormat11Bit));
               }});
  f.push_back({"can.id", Kind::kText, [](const DeviceSettings& s) { return Document(s.can.id); },
               [](DeviceSettings& s, const Document& v, const DeviceSettings&) {
                 s.can.id = Text("can.id", v);
               }});
  f.push_back({"can.mask", Kind::kText,
               [](const DeviceSettings& s) { return Document(s.can.mask); },
               [](DeviceSettings& s, const Document& v, const DeviceSettings&) {
                 s.can.mask = Text("can.mask", v);
               }});
}

void AppendFilterFields(std::vector<Field>& f) {
  for (int g = 0; g < kFilterGroupCount; ++g) {
    for (int k = 0; k < kSlotsPerGroup; ++k) {
      const std::string typeKey = FilterKey(g, k, "type");
      const std::string idKey = FilterKey(g, k, "id");
      f.push_back(
          {typeKey, Kind::kText,
           [g, k](const DeviceSettings& s) {
             return Document(FilterTypeName(s.filters.Slot(g, k).type));
           },
           [g, k, typeKey](DeviceSettings& s, const Document& v, const DeviceSettings& base) {
             s.filters.Slot(g, k).type =
                 CodeOf(typeKey, v, kFilterTypeNames, base.filters.Slot(g, k).type);
           }});
      f.push_back({idKey, Kind::kText,
                   [g, k](const DeviceSettings& s) { return Document(s.filters.Slot(g, k).id); },
                   [g, k, idKey](DeviceSettings& s, const Document& v, const DeviceSettings&) {
                     s.filters.Slot(g, k).id = Text(idKey, v);
                   }});
    }
  }
}

// The document's fields in the order it lists them: network, port, CAN, filters.
std::vector<Field> MakeFields() {
  std::vector<Field> f;
  AppendNetworkFields(f);
  AppendPortFields(f);
  AppendCanFields(f);
  AppendFilterFields(f);
  return f;
}

const std::vector<Field>& Fields() {
  static const std::vector<Field> fields = MakeFields();
  return fields;
}

const Field* FieldOf(const std::string& key) {
  for (const Field& field : Fields()) {
    if (field.key == key) return &field;
  }
  return nullptr;
}

using Flat = std::vector<std::pair<std::string, Document>>;

void FlattenSection(const Document& section, const std::string& name, Flat& out) {
  if (!section.is_object()) Refuse(name, "expected an object");
  for (const auto& [member, value] : section.items()) {
    out.emplace_back(name + "." + member, value);
  }
}

// The dotted keys of a document and their values, as written.
Flat Flatten(const Document& document) {
  if (!document.is_object()) Refuse("", "a settings document is a JSON object");
  Flat flat;
  for (const auto& [name, section] : document.items()) {
    if (name == "mac") continue;
    if (name == "network" || name == "port" || name == "can") {
      FlattenSection(section, name, flat);
    } else if (name == "filters") {
      if (!section.is_array()) Refuse("filters", "expected a list");
      for (const Document& entry : section) {
        if (!entry.is_object()) Refuse("filters", "each filter is an object");
        const Document group = entry.value("group", Document());
        const Document slot = entry.value("slot", Document());
        if (!group.is_number_integer() || group.get<int>() < 1 ||
            group.get<int>() > kFilterGroupCount || !slot.is_number_integer() ||
            slot.get<int>() < 1 || slot.get<int>() > kSlotsPerGroup) {
          Refuse("filters", "each filter names its group (1-8) and slot (1-4): " + Shown(entry));
        }
        const std::string at =
            "filters." + std::to_string(group.get<int>()) + "." + std::to_string(slot.get<int>());
        for (const auto& [member, value] : entry.items()) {
          if (member != "group" && member != "slot") flat.emplace_back(at + "." + member, value);
        }
      }
    } else {
      Refuse(name, "unknown key");
    }
  }
  return flat;
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view WithoutByteOrderMark(std::string_view text) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(3);
  return text;
}

// Refuses nesting past kDeepestDocument, counting brackets outside strings.
void CheckNesting(std::string_view text) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      if (++depth > kDeepestDocument) {
        Refuse("", "nested deeper than " + std::to_string(kDeepestDocument) + " levels (at byte " +
                       std::to_string(i + 1) + ")");
      }
    } else if ((c == '}' || c == ']') && depth > 0) {
      --depth;
    }
  }
}

}  // namespace

Document ParseSettingsDocument(std::string_view text) {
  text = WithoutByteOrderMark(text);
  CheckNesting(text);
  try {
    return Document::parse(text);
  } catch (const Document::exception& error) {  // a number too large too
    Refuse("", std::string("not valid JSON: ") + error.what());
  }
}

bool LooksLikeSettingsFile(std::string_view text) {
  return !text.empty() && static_cast<unsigned char>(text.front()) == kStx;
}

Document SettingsToDocument(const DeviceSettings& settings) {
  Document document = {{"network", Document::object()},
                       {"port", Document::object()},
                       {"can", Document::object()},
                       {"filters", Document::array()}};
  for (const Field& field : Fields()) {
    const std::string::size_type dot = field.key.find('.');
    const std::string section = field.key.substr(0, dot);
    if (section != "filters") {
      document[section][field.key.substr(dot + 1)] = field.get(settings);
    }
  }
  for (int g = 0; g < kFilterGroupCount; ++g) {
    for (int k = 0; k < kSlotsPerGroup; ++k) {
      document["filters"].push_back({{"group", g + 1},
                                     {"slot", k + 1},
                                     {"type", FieldOf(FilterKey(g, k, "type"))->get(settings)},
                                     {"id", settings.filters.Slot(g, k).id}});
    }
  }
  return document;
}

namespace {

// `base` changed by the dotted keys and values of a document.
DeviceSettings ApplyValues(const DeviceSettings& base, const Flat& values) {
  DeviceSettings settings = base;
  for (const auto& [key, value] : values) {
    const Field* field = FieldOf(key);
    if (field == nullptr) Refuse(key, "unknown key");
    field->set(settings, value, base);
  }
  // The checks that span fields, as the window's Apply makes them: on what
  // changed, and on what a changed identifier format bears on.
  const bool formatChanged = settings.can.idFormat != base.can.idFormat;
  if (settings.can != base.can) {
    if (auto refusal = CheckCanId(settings.can.id, settings.can.idFormat)) {
      Refuse("can.id", *refusal);
    }
    if (auto refusal = CheckCanMask(settings.can.mask, settings.can.idFormat)) {
      Refuse("can.mask", *refusal);
    }
  }
  for (int g = 0; g < kFilterGroupCount; ++g) {
    for (int k = 0; k < kSlotsPerGroup; ++k) {
      const FilterEntry& slot = settings.filters.Slot(g, k);
      if (!formatChanged && slot == base.filters.Slot(g, k)) continue;
      if (auto refusal = CheckFilterSlot(k, slot.type, slot.id, settings.can.idFormat)) {
        Refuse("filters." + std::to_string(g + 1) + "." + std::to_string(k + 1), *refusal);
      }
    }
  }
  return settings;
}

// A value read out of a code no list names.
bool UnknownCodeText(const std::string& key, const Document& value) {
  const bool coded = key == "port.mode" || key == "can.bitrate_kbps" || key == "can.id_format" ||
                     (key.size() > 5 && key.compare(key.size() - 5, 5, ".type") == 0);
  if (!coded || !value.is_string()) return false;
  const std::string text = value.get<std::string>();
  for (int code = 0; code <= 255; ++code) {
    if (text == UnknownCodeName(code)) return true;
  }
  return false;
}

}  // namespace

DeviceSettings ApplyDocument(const DeviceSettings& base, const Document& document) {
  return ApplyValues(base, Flatten(document));
}

void CheckDocumentValues(const Document& document) {
  Flat values;
  for (auto& [key, value] : Flatten(document)) {
    if (!UnknownCodeText(key, value)) values.emplace_back(std::move(key), std::move(value));
  }
  // Identifiers and masks of 0 and disabled filters fit either format, so
  // only what the document gives is judged.
  DeviceSettings neutral;
  neutral.can.id = "0";
  neutral.can.mask = "0";
  std::optional<DocumentError> refused;
  for (const std::uint8_t format : {std::uint8_t{kIdFormat11Bit}, std::uint8_t{kIdFormat29Bit}}) {
    neutral.can.idFormat = format;
    try {
      ApplyValues(neutral, values);
      return;
    } catch (const DocumentError& error) {
      if (!refused) refused = error;
    }
  }
  throw *refused;
}

void CheckDocumentShape(const Document& document) {
  for (const auto& [key, value] : Flatten(document)) {
    const Field* field = FieldOf(key);
    if (field == nullptr) Refuse(key, "unknown key");
    const bool fits = field->kind == Kind::kBool ? value.is_boolean()
                      : field->kind == Kind::kNumber
                          ? value.is_number_integer() || value.is_string()
                          : value.is_string();
    if (!fits) Refuse(key, "a value of the wrong kind: " + Shown(value));
    // A name is checked whole here: what it may hold does not depend on the device.
    if (key == "network.name") {
      DeviceSettings scratch;
      field->set(scratch, value, scratch);
    }
  }
}

Document DocumentOfAssignments(const std::vector<std::string>& assignments) {
  Document document = Document::object();
  std::vector<std::pair<std::string, Document>> filters;
  for (const std::string& assignment : assignments) {
    const std::string::size_type equals = assignment.find('=');
    if (equals == std::string::npos) Refuse(assignment, "expected KEY=VALUE");
    const std::string key = assignment.substr(0, equals);
    const std::string text = assignment.substr(equals + 1);
    const Field* field = FieldOf(key);
    if (field == nullptr) Refuse(key, "unknown key");
    Document value = text;
    if (field->kind == Kind::kBool) {
      if (text != "true" && text != "false") Refuse(key, "expected true or false");
      value = text == "true";
    } else if (field->kind == Kind::kNumber) {
      std::int64_t number = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
      // Text that is no number goes on as text, for its own message.
      if (error == std::errc() && end == text.data() + text.size()) value = number;
    }
    const std::string::size_type dot = key.find('.');
    const std::string section = key.substr(0, dot);
    if (section == "filters") {
      // filters.G.S.part
      const std::string rest = key.substr(dot + 1);
      const std::string::size_type second = rest.find('.');
      const std::string::size_type third = rest.find('.', second + 1);
      const int group = std::stoi(rest.substr(0, second));
      const int slot = std::stoi(rest.substr(second + 1, third - second - 1));
      document["filters"].push_back(
          {{"group", group}, {"slot", slot}, {rest.substr(third + 1), value}});
    } else {
      document[section][key.substr(dot + 1)] = value;
    }
  }
  return document;
}

std::vector<std::pair<std::string, Document>> SettingsByKey(const DeviceSettings& settings) {
  std::vector<std::pair<std::string, Document>> keys;
  for (const Field& field : Fields()) keys.emplace_back(field.key, field.get(settings));
  return keys;
}

std::vector<SettingChange> DiffSettings(const DeviceSettings& before, const DeviceSettings& after) {
  std::vector<SettingChange> changes;
  for (const Field& field : Fields()) {
    Document was = field.get(before);
    Document now = field.get(after);
    if (was != now) changes.push_back({field.key, std::move(was), std::move(now)});
  }
  return changes;
}

}  // namespace oxlo
