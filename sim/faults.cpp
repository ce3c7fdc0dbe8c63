#include "sim/faults.h"

#include <string>

namespace oxlo::sim {
namespace {

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::uint8_t> ReadCode(std::string_view item) {
  if (item.size() == 1) return static_cast<std::uint8_t>(item[0]);
  if (item.size() < 3 || item.size() > 4 || item[0] != '0' || (item[1] != 'x' && item[1] != 'X')) {
    return std::nullopt;
  }
  int value = 0;
  for (char c : item.substr(2)) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + digit;
  }
  return static_cast<std::uint8_t>(value);
}

}  // namespace

CodeSet ParseCodeList(std::string_view text) {
  CodeSet codes;
  if (Trim(text).empty()) return codes;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::string_view item =
        Trim(text.substr(start, comma == std::string_view::npos ? text.npos : comma - start));
    const auto code = ReadCode(item);
    if (!code) {
      throw CodeListError("'" + std::string(item) +
                          "' is not a command code (a single character or 0xNN)");
    }
    codes.set(*code);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return codes;
}

}  // namespace oxlo::sim
