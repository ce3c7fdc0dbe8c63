#include "cli/output.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>

#include "protocol/settings/code_names.h"
#include "protocol/settings/settings_document.h"
#include "protocol/wire/fields.h"

namespace oxlo::cli {
namespace {

// The length of the well-formed UTF-8 sequence `text` starts with (no
// overlong forms, surrogates or values past U+10FFFF), or 0.
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  }
  if (length == 0 || text.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

// U+202A to U+202E and U+2066 to U+2069: embeddings, overrides and isolates.
bool IsBidiControl(std::string_view sequence) {
  if (sequence.size() != 3 || static_cast<unsigned char>(sequence[0]) != 0xE2) return false;
  const auto second = static_cast<unsigned char>(sequence[1]);
  const auto third = static_cast<unsigned char>(sequence[2]);
  return (second == 0x80 && third >= 0xAA && third <= 0xAE) ||
         (second == 0x81 && third >= 0xA6 && third <= 0xA9);
}

// The code point of a three-byte sequence.
unsigned CodePointOf(std::string_view sequence) {
  const auto byte = [&sequence](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
  return (byte(0) & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);
}

void AppendHexEscape(std::string& out, const char* prefix, unsigned value) {
  constexpr char kDigits[] = "0123456789abcdef";
  out += prefix;
  out += kDigits[value >> 4 & 0xF];
  out += kDigits[value & 0xF];
}

// Null where the system did not say.
nlohmann::json OrNull(const std::string& text) {
  return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

// The code point of a well-formed sequence of `length` bytes.
char32_t DecodeUtf8(std::string_view sequence, std::size_t length) {
  const auto byte = [&sequence](std::size_t i) { return static_cast<unsigned char>(sequence[i]); };
  if (length == 1) return byte(0);
  char32_t value = byte(0) & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) value = value << 6 | (byte(i) & 0x3Fu);
  return value;
}

struct CodeRange {
  char32_t first, last;
};

bool InRanges(char32_t c, std::span<const CodeRange> ranges) {
  return std::any_of(ranges.begin(), ranges.end(),
                     [c](const CodeRange& r) { return c >= r.first && c <= r.last; });
}

// Marks drawn onto the character before them, and characters with no glyph.
constexpr CodeRange kZeroWidth[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
    {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF},
    {0x200B, 0x200F}, {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}};
// East Asian wide and fullwidth characters, and the emoji a terminal draws wide.
constexpr CodeRange kDoubleWidth[] = {{0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},
                                      {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
                                      {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},
                                      {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
                                      {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};

}  // namespace

std::string EscapeControls(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = c < 0x80 ? 1 : Utf8SequenceLength(utf8.substr(i));
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7F || length == 0) {
      AppendHexEscape(out, "\\x", c);
    } else if (c == 0xC2 && static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
      // U+0080 to U+009F, the C1 controls.
      AppendHexEscape(out, "\\u00", static_cast<unsigned char>(utf8[i + 1]));
    } else if (IsBidiControl(utf8.substr(i, length))) {
      // Would reorder what follows on screen: "invoice\u202egnp.exe".
      AppendHexEscape(out, "\\u20", static_cast<unsigned>(CodePointOf(utf8.substr(i, 3)) & 0xFF));
    } else {
      out.append(utf8.substr(i, length));
    }
    i += std::max<std::size_t>(length, 1);
  }
  return out;
}

std::string ShellQuote(std::string_view text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::size_t DisplayColumns(std::string_view utf8) {
  std::size_t columns = 0;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = c < 0x80 ? 1 : Utf8SequenceLength(utf8.substr(i));
    if (length == 0) {
      ++columns;
      ++i;
      continue;
    }
    const char32_t point = DecodeUtf8(utf8.substr(i), length);
    if (InRanges(point, kDoubleWidth)) {
      columns += 2;
    } else if (!InRanges(point, kZeroWidth)) {
      columns += 1;
    }
    i += length;
  }
  return columns;
}

void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
  if (rows.empty()) return;
  std::vector<std::size_t> widths(rows.front().size(), 0);
  for (const std::vector<std::string>& row : rows) {
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      widths[i] = std::max(widths[i], DisplayColumns(row[i]));
    }
  }
  for (const std::vector<std::string>& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line.append(widths[i] - DisplayColumns(row[i]) + 2, ' ');
    }
    out << line << '\n';
  }
}

std::string JoinWithCommas(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
  return text;
}

std::string ErrorText(const std::exception& error) {
  std::string message = error.what();
  for (char& c : message) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return EscapeControls(message);
}

Document DiffJson(const std::vector<SettingChange>& diff) {
  Document list = Document::array();
  for (const SettingChange& c : diff) {
    list.push_back({{"key", c.key}, {"before", c.before}, {"after", c.after}});
  }
  return list;
}

void PrintDeviceTable(std::ostream& out, const std::vector<SeenDevice>& devices) {
  std::vector<std::vector<std::string>> rows{
      {"MODEL", "MAC", "VERSION", "NAME", "IP", "MASK", "GATEWAY", "INTERFACE"}};
  for (const SeenDevice& seen : devices) {
    const DeviceRecord& d = seen.record;
    rows.push_back({EscapeControls(Latin1ToUtf8(d.model)), d.mac,
                    EscapeControls(Latin1ToUtf8(d.version)), EscapeControls(d.name), d.ip, d.mask,
                    d.gateway, seen.interfaces.empty() ? "-" : seen.interfaces.front()});
  }
  PrintTable(out, rows);
}

nlohmann::json DeviceJson(const std::vector<SeenDevice>& devices,
                          const std::vector<DeviceDiagnosis>& diagnoses) {
  nlohmann::json list = nlohmann::json::array();
  for (std::size_t n = 0; n < devices.size(); ++n) {
    const DeviceRecord& d = devices[n].record;
    nlohmann::json problems = nlohmann::json::array();
    if (n < diagnoses.size()) {
      for (const Problem& p : diagnoses[n].problems) {
        problems.push_back(
            {{"kind", std::string(ProblemKindName(p.kind))}, {"reason", p.reason}, {"fix", p.fix}});
      }
    }
    list.push_back(
        {{"model", Latin1ToUtf8(d.model)},
         {"mac", d.mac},
         {"version", Latin1ToUtf8(d.version)},
         {"name", d.name},
         {"ip", d.ip},
         {"mask", d.mask},
         {"gateway", d.gateway},
         {"interface",
          OrNull(devices[n].interfaces.empty() ? std::string() : devices[n].interfaces.front())},
         {"local_address", OrNull(devices[n].localAddress)},
         {"problems", std::move(problems)}});
  }
  return list;
}

void PrintDeviceJson(std::ostream& out, const std::vector<SeenDevice>& devices,
                     const std::vector<DeviceDiagnosis>& diagnoses) {
  out << DeviceJson(devices, diagnoses).dump(2) << '\n';
}

void PrintSettingsText(std::ostream& out, const std::string& mac, const DeviceSettings& settings) {
  const NetworkSettings& n = settings.network;
  const PortSettings& p = settings.port;
  const CanSettings& c = settings.can;
  out << "Device " << mac << "\n"
      << "Network\n"
      << "  Name:          " << EscapeControls(n.name) << "\n"
      << "  Type:          " << NetworkTypeName(n.networkType) << "\n"
      << "  Address:       " << Ipv4ToText(n.address) << "\n"
      << "  Subnet mask:   " << Ipv4ToText(n.subnetMask) << "\n"
      << "  Gateway:       " << Ipv4ToText(n.gateway) << "\n"
      << "  DNS:           " << Ipv4ToText(n.dns) << "\n"
      << "Port\n"
      << "  Alias:         " << EscapeControls(Latin1ToUtf8(p.alias)) << "\n"
      << "  Mode:          " << ModeName(p.mode) << "\n"
      << "  Local port:    " << p.localPort << "\n"
      << "  Target:        " << Ipv4ToText(p.targetAddress) << ":" << p.targetPort << "\n"
      << "  Alive:         " << p.alive << "\n"
      << "  Latency:       " << p.latency << "\n"
      << "  No delay:      " << (p.noDelay ? "yes" : "no") << "\n"
      << "  Type:          " << PortTypeName(p.portType) << "\n"
      << "CAN\n"
      << "  Bit rate:      " << BitRateName(c.baudIndex) << "\n"
      << "  ID format:     " << IdFormatName(c.idFormat) << "\n"
      << "  ID:            " << EscapeControls(c.id) << "\n"
      << "  Mask:          " << EscapeControls(c.mask) << "\n"
      << "Filters\n"
      << "  No.  Type      ID\n";
  for (std::size_t k = 0; k < settings.filters.entries.size(); ++k) {
    const FilterEntry& f = settings.filters.entries[k];
    std::string number = std::to_string(k + 1);
    std::string type = FilterTypeName(f.type);
    number.insert(0, 3 - number.size(), ' ');
    type.resize(std::max<std::size_t>(type.size() + 1, 10), ' ');
    out << "  " << number << "  " << type << EscapeControls(f.id) << "\n";
  }
}

void PrintSettingsJson(std::ostream& out, const std::string& mac, const DeviceSettings& settings) {
  Document device = {{"mac", mac}};
  device.update(SettingsToDocument(settings));
  // A name cut inside a character must not stop the output.
  out << device.dump(2, ' ', false, Document::error_handler_t::replace) << '\n';
}

void PrintChangeText(std::ostream& out, const std::string& mac, const SettingsChange& change,
                     bool dryRun) {
  for (const SettingChange& c : change.diff) {
    out << c.key << ": "
        << EscapeControls(c.before.dump(-1, ' ', false, Document::error_handler_t::replace))
        << " -> "
        << EscapeControls(c.after.dump(-1, ' ', false, Document::error_handler_t::replace)) << "\n";
  }
  if (change.diff.empty()) {
    out << mac << " already holds these settings; nothing sent\n";
  } else if (dryRun) {
    out << "Dry run: nothing sent to " << mac << "\n";
  } else if (change.verified) {
    out << "Applied to " << mac << " and read back\n";
  }
}

void PrintChangeJson(std::ostream& out, const std::string& mac, const SettingsChange& change) {
  const Document report = {{"mac", mac},
                           {"changed", change.written},
                           {"diff", DiffJson(change.diff)},
                           {"verified", change.verified},
                           {"not_taken", change.notTaken},
                           {"not_applied", change.notInUse}};
  out << report.dump(2, ' ', false, Document::error_handler_t::replace) << '\n';
}

}  // namespace oxlo::cli
