#include "protocol/wire/text_numbers.h"

#include <limits>

#include "protocol/wire/conversion_error.h"

namespace oxlo {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string BytesToHex(ByteView bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    text.push_back(kHexDigits[b >> 4]);
    text.push_back(kHexDigits[b & 0x0F]);
  }
  return text;
}

std::int32_t HexToInt(std::string_view text) {
  std::uint32_t value = 0;
  for (char c : text) {
    const int digit = HexValue(c);
    if (digit < 0) throw ConversionError::NoHexNumber();
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return static_cast<std::int32_t>(value);
}

std::int32_t HexDigitsToInt(std::string_view text) {
  std::uint32_t value = 0;
  std::uint32_t weight = 1;
  for (auto it = text.rbegin(); it != text.rend(); ++it) {
    const auto code = static_cast<std::uint8_t>(*it);
    const std::uint32_t digit = code <= '9' ? code - 0x30u : code - 0x37u;
    value += digit * weight;
    weight *= 16;
  }
  return static_cast<std::int32_t>(value);
}

std::string IntToHexDigits(std::int32_t value) {
  auto rest = static_cast<std::uint32_t>(value);
  std::string text;
  while (rest != 0) {
    text.insert(text.begin(), kHexDigits[rest % 16]);
    rest /= 16;
  }
  return text;
}

std::uint8_t HexPairToByte(std::string_view text) {
  if (text.size() < 2) return 0;
  const int high = HexValue(text[0]);
  const int low = HexValue(text[1]);
  if (high < 0 || low < 0) return 0;
  return static_cast<std::uint8_t>(high * 16 + low);
}

std::string SeparatedToHex(std::string_view text, char separator, PartKind kind) {
  std::string result;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    const std::string_view part =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    const std::int32_t value = kind == PartKind::kHexadecimal ? HexToInt(part) : ReadDecimal(part);
    std::string digits = IntToHexDigits(value);
    if (digits.size() < 2) digits.insert(0, 2 - digits.size(), '0');
    result += digits;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return result;
}

std::optional<std::int32_t> ParsePlatformInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == text.size()) return std::nullopt;

  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int digit =
        hex ? HexValue(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (digit < 0) return std::nullopt;
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
    if (magnitude > 0xFFFFFFFFull) return std::nullopt;
  }
  if (hex) {
    // Hex texts name a 32-bit pattern: $FFFFFFFF is -1.
    const auto pattern = static_cast<std::uint32_t>(magnitude);
    const auto value = static_cast<std::int32_t>(pattern);
    return negative ? static_cast<std::int32_t>(0u - pattern) : value;
  }
  constexpr std::uint64_t kMaxPositive = std::numeric_limits<std::int32_t>::max();
  if (magnitude > kMaxPositive + (negative ? 1 : 0)) return std::nullopt;
  const auto signed_magnitude = static_cast<std::int64_t>(magnitude);
  return static_cast<std::int32_t>(negative ? -signed_magnitude : signed_magnitude);
}

std::int32_t ReadDecimal(std::string_view text) {
  if (auto value = ParsePlatformInteger(text)) return *value;
  throw ConversionError::NotAnInteger(text);
}

}  // namespace oxlo
