#include "protocol/settings/address_check.h"

#include <array>

#include "protocol/wire/text_numbers.h"

namespace oxlo {
namespace {

bool IsBlank(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

// Reads each part; one that does not read counts as -1.
std::vector<int> ReadParts(std::string_view text) {
  std::vector<int> values;
  for (const std::string& part : SplitAddressParts(text)) {
    values.push_back(ParsePlatformInteger(part).value_or(-1));
  }
  return values;
}

bool PartsWithin(std::string_view text, const std::array<std::pair<int, int>, 4>& ranges) {
  const std::vector<int> values = ReadParts(text);
  if (values.size() != ranges.size()) return false;
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    if (values[i] < ranges[i].first || values[i] > ranges[i].second) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> SplitAddressParts(std::string_view text) {
  // A NUL ends the text, as it would for a C string.
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> parts;
  std::size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && IsBlank(text[i])) ++i;
  };
  skipBlanks();
  while (i < text.size()) {
    std::string part;
    if (text[i] == '"') {
      ++i;
      while (i < text.size()) {
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {  // a doubled quote stands for one
            part.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        part.push_back(text[i++]);
      }
    } else {
      while (i < text.size() && static_cast<unsigned char>(text[i]) > ' ' && text[i] != '.') {
        part.push_back(text[i++]);
      }
    }
    parts.push_back(std::move(part));
    skipBlanks();
    if (i < text.size() && text[i] == '.') {
      if (i + 1 == text.size()) parts.emplace_back();
      ++i;
      skipBlanks();
    }
  }
  return parts;
}

bool CheckAddressText(std::string_view text) {
  return PartsWithin(text, {{{0, 255}, {0, 255}, {0, 255}, {0, 255}}});
}

std::optional<std::string> CanonicalAddressText(std::string_view text) {
  if (!CheckAddressText(text)) return std::nullopt;
  const std::vector<int> values = ReadParts(text);
  return std::to_string(values[0]) + "." + std::to_string(values[1]) + "." +
         std::to_string(values[2]) + "." + std::to_string(values[3]);
}

bool CheckHostAddressText(std::string_view text) {
  return PartsWithin(text, {{{1, 253}, {0, 254}, {0, 254}, {1, 253}}});
}

}  // namespace oxlo
