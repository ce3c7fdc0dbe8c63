#include "protocol/settings/settings_file.h"

#include <algorithm>
#include <string>

#include "protocol/settings/device_settings.h"
#include "protocol/wire/conversion_error.h"
#include "protocol/wire/settings_messages.h"

namespace oxlo {
namespace {

constexpr std::size_t kIdSlot = kCanIdTextMax;

ByteView Slice(ByteView bytes, std::size_t offset, std::size_t length) {
  if (offset >= bytes.size()) return {};
  return bytes.subspan(offset, std::min(length, bytes.size() - offset));
}

// Where the listed values sit in the file.
constexpr std::size_t kNetworkTypeAt = kNetworkSectionOffset + 8;
constexpr std::size_t kModeCodeAt = kOpModeSectionOffset + 9;
constexpr std::size_t kPortTypeAt = kOpModeSectionOffset + 28;
constexpr std::size_t kBitRateAt = kCanSectionOffset + 8;
constexpr std::size_t kIdFormatAt = kCanSectionOffset + 9;

void CheckListed(ByteView file, std::size_t at, const std::string& field, bool listed,
                 const std::string& entries) {
  if (listed) return;
  throw SettingsFileValueError("The settings file holds " + field + " " + std::to_string(file[at]) +
                               ", which has no entry (" + entries + ").");
}

}  // namespace

void CheckSettingsFileValues(ByteView file) {
  if (file.size() < kSettingsFileMinSize) throw MissingBytesError();
  CheckListed(file, kNetworkTypeAt, "network type", file[kNetworkTypeAt] <= 1,
              "0 Static IP, 1 DHCP");
  CheckListed(file, kModeCodeAt, "operation mode code", ModeFromCode(file[kModeCodeAt]).has_value(),
              "0 to 7");
  CheckListed(file, kPortTypeAt, "port type",
              file[kPortTypeAt] == kPortTypeData || file[kPortTypeAt] == kPortTypeModem,
              "0 Data, 1 Modem");
  CheckListed(file, kBitRateAt, "CAN bit rate index", file[kBitRateAt] < kBaudRatesKbit.size(),
              "0 to " + std::to_string(kBaudRatesKbit.size() - 1));
  CheckListed(file, kIdFormatAt, "CAN ID format",
              file[kIdFormatAt] == kIdFormat11Bit || file[kIdFormatAt] == kIdFormat29Bit,
              "1 A, 2 B");
  for (std::size_t k = 0; k < static_cast<std::size_t>(kFilterCount); ++k) {
    const std::size_t at = kFilterSectionOffset + k;
    CheckListed(file, at, "filter " + std::to_string(k + 1) + " type", file[at] <= kFilterExtend,
                "0 Disable, 1 Standard, 2 Extend");
  }
}

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
  if (section.size() < static_cast<std::size_t>(kFilterCount)) throw MissingBytesError();
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

Bytes BuildSettingsFile(const MacField& mac, const DeviceSettings& settings) {
  const std::vector<Bytes> messages = SettingsMessages(mac, settings);
  return ComposeSettingsFile(messages[0], messages[1], messages[2], settings.filters);
}

DeviceSettings ParseSettingsFile(ByteView file) {
  if (file.size() < kSettingsFileMinSize) {
    throw SettingsFileError("The settings file is too short: " + std::to_string(file.size()) +
                            " bytes, at least " + std::to_string(kSettingsFileMinSize) +
                            " are needed.");
  }
  // A value no list names would be written raw into the device.
  CheckSettingsFileValues(file);
  const SettingsFileSections sections =
      SplitSettingsFile(file.first(std::min(file.size(), kSettingsFileSize)));
  const auto fail = [](const std::string& section) {
    return SettingsFileError("The " + section + " section of the settings file does not decode.");
  };
  DeviceSettings settings;
  const std::optional<NetworkSettings> network = ParseNetworkReply(sections.network).Complete();
  if (!network) throw fail("network");
  settings.network = *network;
  const std::optional<PortSettings> port = ParseOpModeReply(sections.opMode).Complete();
  if (!port) throw fail("operation mode");
  settings.port = *port;
  const std::optional<CanSettings> can = ParseCanSettings(sections.can);
  if (!can) throw fail("CAN");
  settings.can = *can;
  try {
    ParseFilterSection(sections.filters, settings.filters);
  } catch (const ConversionError&) {
    throw fail("filter");
  }
  return settings;
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
