// Field encodings shared by the messages: MAC, IPv4, name, 16-bit and small fields.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "protocol/wire/bytes.h"

namespace oxlo {

inline constexpr std::size_t kNameFieldSize = 32;
using NameField = std::array<std::uint8_t, kNameFieldSize>;

// "00-1A-2B-3C-4D-5E".
std::string MacToText(const MacField& mac);

// The MAC as one number, to look devices up by.
inline std::uint64_t MacKey(const MacField& mac) {
  std::uint64_t key = 0;
  for (std::uint8_t b : mac) key = key << 8 | b;
  return key;
}

// The configuration window's reading: the pairs at characters 1, 4, 7, 10, 13
// and 16; a pair that is not hexadecimal (or is missing) gives 0x00. Never fails.
MacField MacToBytes(std::string_view macText);

// The device list's reading: SeparatedToHex with '-' and hexadecimal parts, then
// HexPairToByte on the pairs at 1, 3, 5, 7, 9, 11. Throws ConversionError.
MacField MacToBytesSeparated(std::string_view macText);

// "%d.%d.%d.%d".
std::string Ipv4ToText(const Ipv4Field& address);

// Four decimal parts separated by '.', each kept to its low 8 bits.
// Throws ConversionError("'part' is not a valid integer value").
Ipv4Field Ipv4ToBytes(std::string_view text);

// The device list's route to the same bytes: SeparatedToHex with '.' and
// decimal parts, then HexPairToByte on the pairs at 1, 3, 5, 7.
Ipv4Field Ipv4ToBytesSeparated(std::string_view text);

// UTF-8 name cut to 32 bytes (even inside a character) and padded with 0x00.
NameField NameToField(std::string_view utf8Name);

// Discovery replies: recovers a name whose last character was cut.
std::string NameFromField(const NameField& field);

// Network replies: the whole field decoded at once, ending at the first NUL.
std::string NameFromFieldWhole(const NameField& field);

// Decimal text to 16-bit little-endian bytes. Throws ConversionError.
std::array<std::uint8_t, 2> WordToBytes(std::string_view decimalText);
// WordToBytes read back as a number, for callers that hold 16-bit values.
std::uint16_t WordFromText(std::string_view decimalText);

// An operator's number that does not fit the message field it goes into; the
// text names the field, the value and the range, e.g.
// "Local Port: 99999 is out of range (0 to 65535)."
class FieldRangeError : public std::runtime_error {
 public:
  FieldRangeError(std::string_view field, std::string_view value, int low, int high);
};

// The operator's text for a 16-bit field, refused rather than wrapped.
// Throws ConversionError when it is not a number, its text led by the field
// ("Local Port: '' is not a valid integer value"), FieldRangeError naming
// `field` when it lies outside 0 to 65535.
std::uint16_t WordFieldFromText(std::string_view decimalText, std::string_view field);
// The operator's IPv4 text for an address field. Throws ConversionError as
// Ipv4ToBytes does, led by the field, FieldRangeError naming `field` for a
// part outside 0 to 255.
Ipv4Field AddressFieldFromText(std::string_view text, std::string_view field);

// Strict readings of a text an operator types on a command line or writes in
// a file: nothing unless it is exactly of the form. (The windows keep the
// lenient readings above, which the device protocol defines.)
// Six hex pairs, either case, joined by '-' or ':' ("02-00-5e-00-00-07").
std::optional<MacField> ParseMacText(std::string_view text);
// Four decimal numbers 0-255 of one to three digits joined by '.'.
std::optional<Ipv4Field> ParseIpv4Text(std::string_view text);
// 1 to `maxDigits` hex digits, either case.
bool IsHexText(std::string_view text, std::size_t maxDigits);

// One byte, or two bytes low first. Throws ConversionError for empty input.
std::int32_t SmallFieldToInt(ByteView field);

// 8-bit text ending at the first 0x00 byte.
std::string FixedTextFromField(ByteView field);

// True when `bytes` is complete, well-formed UTF-8.
bool IsValidUtf8(ByteView bytes);

// 8-bit device texts (model, version, alias) as UTF-8.
std::string Latin1ToUtf8(const std::string& text);

}  // namespace oxlo
