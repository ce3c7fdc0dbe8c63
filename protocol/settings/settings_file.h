// The settings file (*.oxl): the 'N', 'O' and 'C' messages of one device as
// they are sent, then a filter section with the 32 filters.
#pragma once

#include <cstddef>
#include <stdexcept>

#include "protocol/settings/device_settings.h"
#include "protocol/wire/bytes.h"
#include "protocol/wire/can_messages.h"

namespace oxlo {

inline constexpr std::size_t kSettingsFileSize = 429;
inline constexpr std::size_t kNetworkSectionOffset = 0;
inline constexpr std::size_t kOpModeSectionOffset = 81;
inline constexpr std::size_t kCanSectionOffset = 122;
inline constexpr std::size_t kFilterSectionOffset = 141;
inline constexpr std::size_t kFilterSectionSize = 288;
// Shorter files lack a filter type byte and are refused.
inline constexpr std::size_t kSettingsFileMinSize = kFilterSectionOffset + kFilterCount;

// 32 type bytes (the low byte of each type), then the 32 identifiers in
// 8-byte slots. An identifier shorter than 8 characters is left-padded with
// '0' (an empty one is "00000000") so every filter keeps its slot.
Bytes BuildFilterSection(const FilterTable& table);

// Loads the section (the file from offset 141 on; bytes past 288 are
// ignored) into the table. An identifier whose slot the data ends inside
// comes out shorter, or empty. Throws ConversionError, leaving the table
// untouched, when a type byte is missing.
void ParseFilterSection(ByteView section, FilterTable& table);

// The file's sections, each cut to what the file holds.
struct SettingsFileSections {
  ByteView network;
  ByteView opMode;
  ByteView can;
  ByteView filters;
};
SettingsFileSections SplitSettingsFile(ByteView file);

// A file that cannot be used: too short, or a section that does not decode.
class SettingsFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A settings file value that no list has an entry for; the message names the
// field and the value.
class SettingsFileValueError : public SettingsFileError {
 public:
  using SettingsFileError::SettingsFileError;
};

// Refuses a file (at least kSettingsFileMinSize bytes) whose network type,
// operation-mode code, port type, CAN bit rate, CAN identifier format or
// filter type has no entry in its list: sending such a value would put a
// setting into the device that the operator never saw. Throws
// SettingsFileValueError for the first one, in file order.
void CheckSettingsFileValues(ByteView file);

// The 429-byte settings file of the device `mac`: the messages that would
// write the settings into it, then the filter section.
Bytes BuildSettingsFile(const MacField& mac, const DeviceSettings& settings);

// Reads a settings file of at least kSettingsFileMinSize bytes; bytes past
// the 429 of a whole file are ignored and the MAC the file holds is not
// used. Throws SettingsFileError, or SettingsFileValueError before anything
// is decoded.
DeviceSettings ParseSettingsFile(ByteView file);

// The whole file from the three messages and the table.
Bytes ComposeSettingsFile(ByteView networkMessage, ByteView opModeMessage, ByteView canMessage,
                          const FilterTable& table);

}  // namespace oxlo
