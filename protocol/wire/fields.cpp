#include "protocol/wire/fields.h"

#include <algorithm>
#include <cstdio>

#include "protocol/wire/conversion_error.h"
#include "protocol/wire/text_numbers.h"

namespace oxlo {
namespace {

std::string_view TextAt(std::string_view text, std::size_t position, std::size_t count) {
  if (position >= text.size()) return {};
  return text.substr(position, count);
}

// A decoded text ends at its first NUL.
std::string UpToNul(ByteView bytes) {
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  return std::string(bytes.begin(), end);
}

// Decoding fails as a whole: an invalid run gives the empty text.
std::string DecodeUtf8(ByteView bytes) {
  if (!IsValidUtf8(bytes)) return {};
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

std::string MacToText(const MacField& mac) {
  const std::string hex = BytesToHex(mac);
  std::string text;
  for (std::size_t i = 0; i < mac.size(); ++i) {
    if (i > 0) text.push_back('-');
    text.append(hex, i * 2, 2);
  }
  return text;
}

MacField MacToBytes(std::string_view macText) {
  MacField mac{};
  for (std::size_t i = 0; i < mac.size(); ++i) {
    try {
      mac[i] = static_cast<std::uint8_t>(HexToInt(TextAt(macText, i * 3, 2)));
    } catch (const ConversionError&) {
      mac[i] = 0;
    }
  }
  return mac;
}

MacField MacToBytesSeparated(std::string_view macText) {
  const std::string digits = SeparatedToHex(macText, '-', PartKind::kHexadecimal);
  MacField mac{};
  for (std::size_t i = 0; i < mac.size(); ++i) mac[i] = HexPairToByte(TextAt(digits, i * 2, 2));
  return mac;
}

std::string Ipv4ToText(const Ipv4Field& address) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", address[0], address[1], address[2], address[3]);
  return text;
}

Ipv4Field Ipv4ToBytes(std::string_view text) {
  Ipv4Field address{};
  std::size_t position = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t dot = text.find('.', position);
    if (dot == std::string_view::npos) throw ConversionError::NotAnInteger("");
    address[i] = static_cast<std::uint8_t>(ReadDecimal(text.substr(position, dot - position)));
    position = dot + 1;
  }
  address[3] = static_cast<std::uint8_t>(ReadDecimal(text.substr(position)));
  return address;
}

Ipv4Field Ipv4ToBytesSeparated(std::string_view text) {
  const std::string digits = SeparatedToHex(text, '.', PartKind::kDecimal);
  Ipv4Field address{};
  for (std::size_t i = 0; i < address.size(); ++i) {
    address[i] = HexPairToByte(TextAt(digits, i * 2, 2));
  }
  return address;
}

NameField NameToField(std::string_view utf8Name) {
  NameField field{};
  const std::size_t kept = std::min(utf8Name.size(), field.size());
  std::copy_n(utf8Name.begin(), kept, field.begin());
  return field;
}

std::string NameFromField(const NameField& field) {
  const ByteView bytes(field);
  const auto nul = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  if (nul != bytes.end()) {
    std::string name = DecodeUtf8(bytes.first(static_cast<std::size_t>(nul - bytes.begin())));
    if (!name.empty()) return name;
  } else if (IsValidUtf8(bytes)) {
    // A name of exactly 32 bytes that ends on a whole character is complete.
    return std::string(bytes.begin(), bytes.end());
  }
  // The last character may have been cut inside its bytes: drop up to three.
  for (std::size_t length : {31u, 30u, 29u}) {
    if (IsValidUtf8(bytes.first(length))) return UpToNul(bytes.first(length));
  }
  return {};
}

std::string NameFromFieldWhole(const NameField& field) {
  if (IsValidUtf8(field)) return UpToNul(field);
  // A cut last character must not read as the empty name: the next network
  // message would erase the device's name.
  return NameFromField(field);
}

std::array<std::uint8_t, 2> WordToBytes(std::string_view decimalText) {
  const std::int32_t value = ReadDecimal(decimalText);
  return {static_cast<std::uint8_t>(value % 256), static_cast<std::uint8_t>(value / 256)};
}

std::uint16_t WordFromText(std::string_view decimalText) {
  const auto bytes = WordToBytes(decimalText);
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

FieldRangeError::FieldRangeError(std::string_view field, std::string_view value, int low, int high)
    : std::runtime_error(std::string(field) + ": " + std::string(value) + " is out of range (" +
                         std::to_string(low) + " to " + std::to_string(high) + ").") {}

namespace {

// The operator is told which of the window's fields holds no number.
template <typename Read>
auto NamingField(std::string_view field, Read read) {
  try {
    return read();
  } catch (const ConversionError& error) {
    throw ConversionError(std::string(field) + ": " + error.what());
  }
}

std::int32_t ReadWithin(std::string_view text, std::string_view field, int high) {
  const std::int32_t value = NamingField(field, [text] { return ReadDecimal(text); });
  if (value < 0 || value > high) throw FieldRangeError(field, text, 0, high);
  return value;
}

}  // namespace

std::uint16_t WordFieldFromText(std::string_view decimalText, std::string_view field) {
  return static_cast<std::uint16_t>(ReadWithin(decimalText, field, 0xFFFF));
}

Ipv4Field AddressFieldFromText(std::string_view text, std::string_view field) {
  // Ipv4ToBytes reads the parts and gives the conversion errors; only the
  // range is added here.
  const Ipv4Field address = NamingField(field, [text] { return Ipv4ToBytes(text); });
  std::size_t position = 0;
  for (std::size_t i = 0; i < address.size(); ++i) {
    const std::size_t dot = i + 1 < address.size() ? text.find('.', position) : text.size();
    ReadWithin(text.substr(position, dot - position), field, 0xFF);
    position = dot + 1;
  }
  return address;
}

std::optional<MacField> ParseMacText(std::string_view text) {
  if (text.size() != 17) return std::nullopt;
  MacField mac{};
  for (std::size_t i = 0; i < mac.size(); ++i) {
    if (i > 0 && text[i * 3 - 1] != '-' && text[i * 3 - 1] != ':') return std::nullopt;
    const int high = HexValue(text[i * 3]);
    const int low = HexValue(text[i * 3 + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    mac[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return mac;
}

std::optional<Ipv4Field> ParseIpv4Text(std::string_view text) {
  Ipv4Field address{};
  std::size_t position = 0;
  for (std::size_t part = 0; part < address.size(); ++part) {
    const std::size_t end = part < 3 ? text.find('.', position) : text.size();
    if (end == std::string_view::npos || end == position || end - position > 3) return std::nullopt;
    int value = 0;
    for (std::size_t i = position; i < end; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    if (value > 255) return std::nullopt;
    address[part] = static_cast<std::uint8_t>(value);
    position = end + 1;
  }
  return address;
}

bool IsHexText(std::string_view text, std::size_t maxDigits) {
  return !text.empty() && text.size() <= maxDigits &&
         std::all_of(text.begin(), text.end(), [](char c) { return HexValue(c) >= 0; });
}

std::int32_t SmallFieldToInt(ByteView field) {
  if (field.empty()) throw MissingBytesError();
  if (field.size() == 1) return field[0];
  return field[0] + 256 * field[1];
}

std::string FixedTextFromField(ByteView field) {
  return UpToNul(field);
}

bool IsValidUtf8(ByteView bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::uint8_t lead = bytes[i];
    std::size_t extra = 0;
    std::uint32_t min = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, min = 0x80, code = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, min = 0x800, code = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, min = 0x10000, code = lead & 0x07u;
    } else {
      return false;
    }
    if (bytes.size() - i - 1 < extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const std::uint8_t next = bytes[i + k];
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3Fu);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

std::string Latin1ToUtf8(const std::string& text) {
  std::string utf8;
  for (unsigned char c : text) {
    if (c < 0x80) {
      utf8.push_back(static_cast<char>(c));
    } else {
      utf8.push_back(static_cast<char>(0xC0 | c >> 6));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return utf8;
}

}  // namespace oxlo
