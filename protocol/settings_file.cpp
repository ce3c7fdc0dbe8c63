#include "protocol/settings_file.h"

#include <algorithm>

#include "protocol/conversion_error.h"

namespace oxlo {
namespace {

constexpr std::size_t kIdSlot = kCanIdTextMax;

ByteView Slice(ByteView bytes, std::size_t offset, std::size_t length) {
  if (offset >= bytes.size()) return {};
  return bytes.subspan(offset, std::min(length, bytes.size() - offset));
}

}  // namespace

Bytes BuildFilterSection(const FilterTable& table) {
  Bytes section;
  section.reserve(kFilterSectionSize);
  for (const FilterEntry& entry : table.entries) {
    section.push_back(static_cast<std::uint8_t>(entry.type & 0xFF));
  }
  for (const FilterEntry& entry : table.entries) {
    const std::string id = entry.id.substr(0, kIdSlot);
    section.insert(section.end(), kIdSlot - id.size(), '0');
    section.insert(section.end(), id.begin(), id.end());
  }
  return section;
}

void ParseFilterSection(ByteView section, FilterTable& table) {
  if (section.size() < static_cast<std::size_t>(kFilterCount)) throw ConversionError::NotAnInteger("");
  for (std::size_t k = 0; k < table.entries.size(); ++k) {
    FilterEntry& entry = table.entries[k];
    entry.type = section[k];
    const ByteView id = Slice(section, kFilterCount + kIdSlot * k, kIdSlot);
    entry.id.assign(id.begin(), id.end());
  }
}

SettingsFileSections SplitSettingsFile(ByteView file) {
  return {Slice(file, kNetworkSectionOffset, kOpModeSectionOffset - kNetworkSectionOffset),
          Slice(file, kOpModeSectionOffset, kCanSectionOffset - kOpModeSectionOffset),
          Slice(file, kCanSectionOffset, kFilterSectionOffset - kCanSectionOffset),
          Slice(file, kFilterSectionOffset, kFilterSectionSize)};
}

Bytes ComposeSettingsFile(ByteView networkMessage, ByteView opModeMessage, ByteView canMessage,
                          const FilterTable& table) {
  Bytes file(networkMessage.begin(), networkMessage.end());
  file.insert(file.end(), opModeMessage.begin(), opModeMessage.end());
  file.insert(file.end(), canMessage.begin(), canMessage.end());
  const Bytes filters = BuildFilterSection(table);
  file.insert(file.end(), filters.begin(), filters.end());
  return file;
}

}  // namespace oxlo
