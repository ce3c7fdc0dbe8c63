// Hexadecimal and decimal texts: the conversions from which messages are built.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/wire/bytes.h"

namespace oxlo {

// Two uppercase hex digits per byte, in order.
std::string BytesToHex(ByteView bytes);

// The value of one hex digit (either case), -1 for any other character.
int HexValue(char c);

// Reads hex digits (either case); the empty text is 0 and only the last
// 8 digits count. Throws ConversionError("No Hex-Number") on any other character.
std::int32_t HexToInt(std::string_view text);

// Reads digits made by BytesToHex without checking them.
std::int32_t HexDigitsToInt(std::string_view text);

// Uppercase hex digits without leading zeros; 0 gives the empty text.
// A negative value is written as its 32-bit two's complement.
std::string IntToHexDigits(std::int32_t value);

// The first two characters as one hex pair; 0 for a shorter text or a pair
// that is not hexadecimal.
std::uint8_t HexPairToByte(std::string_view text);

enum class PartKind { kHexadecimal, kDecimal };

// Splits at `separator`, reads each part and writes it as at least two hex digits.
std::string SeparatedToHex(std::string_view text, char separator, PartKind kind);

// The platform's integer syntax: optional leading blanks and sign, then decimal
// digits, or hex digits after '$', 'x', 'X', '0x' or '0X'. No trailing characters.
std::optional<std::int32_t> ParsePlatformInteger(std::string_view text);

// ParsePlatformInteger, or ConversionError("'text' is not a valid integer value").
std::int32_t ReadDecimal(std::string_view text);

}  // namespace oxlo
