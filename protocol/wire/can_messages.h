// CAN identifiers, the CAN settings message 'C' / reply 'c', the 32 software
// acceptance filters and the filter-group messages.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/wire/bytes.h"

namespace oxlo {

inline constexpr std::size_t kCanSettingsSize = 19;
inline constexpr std::size_t kFilterGroupSize = 29;
inline constexpr std::size_t kCanIdTextMax = 8;

inline constexpr std::array<int, 10> kBaudRatesKbit = {20,  50,  100, 125, 200,
                                                       250, 300, 500, 800, 1000};
inline constexpr std::uint8_t kIdFormat11Bit = 1;  // 11-bit identifiers
inline constexpr std::uint8_t kIdFormat29Bit = 2;  // 29-bit identifiers

inline constexpr std::int32_t kFilterDisable = 0;
inline constexpr std::int32_t kFilterStandard = 1;
inline constexpr std::int32_t kFilterExtend = 2;

// Hex text of 0-8 characters to 4 bytes, least significant first. The text is
// cut into pairs from the right; a piece that is not hex gives 0x00.
// Throws ConversionError for a text longer than 8 characters.
std::array<std::uint8_t, 4> CanIdToBytes(std::string_view text);

// 4 bytes in datagram order to 8 uppercase hex digits, most significant first.
std::string CanIdFromBytes(ByteView fourBytes);

// True when `text` is hex within 0x7FF (kind 1) or 0x1FFFFFFF (any other kind).
bool CanFormCheck(std::string_view text, int kind);

struct CanSettings {
  std::uint8_t baudIndex = 0;
  std::uint8_t idFormat = 0;
  std::string id;    // 8 hex digits when read
  std::string mask;  // 8 hex digits when read

  bool operator==(const CanSettings&) const = default;
};

// Not validated: the caller checks the texts when it must.
Bytes BuildCanSettings(const MacField& mac, int baudIndex, int idFormat, std::string_view id,
                       std::string_view mask);

// A 'c' reply or a stored 'C' message; nullopt when shorter than 19 bytes.
std::optional<CanSettings> ParseCanSettings(ByteView datagram);

inline constexpr int kFilterCount = 32;
inline constexpr int kFilterGroupCount = 8;
inline constexpr int kSlotsPerGroup = 4;

struct FilterEntry {
  std::int32_t type = kFilterDisable;  // the byte as received, kept unchanged
  std::string id;                      // empty until first filled

  bool operator==(const FilterEntry&) const = default;
};

// The device's copy of its 32 filters; group g (0-7) holds entries 4g..4g+3.
struct FilterTable {
  std::array<FilterEntry, kFilterCount> entries{};

  // Slot s (0-3) of group g (0-7).
  FilterEntry& Slot(int group, int slot) {
    return entries.at(static_cast<std::size_t>(group * kSlotsPerGroup + slot));
  }
  const FilterEntry& Slot(int group, int slot) const {
    return entries.at(static_cast<std::size_t>(group * kSlotsPerGroup + slot));
  }
  void StoreGroup(int group, const std::array<FilterEntry, kSlotsPerGroup>& slots) {
    for (int s = 0; s < kSlotsPerGroup; ++s) Slot(group, s) = slots[static_cast<std::size_t>(s)];
  }

  bool operator==(const FilterTable&) const = default;
};

struct FilterGroup {
  int group = 0;  // 0-7
  std::array<FilterEntry, kSlotsPerGroup> slots{};
};

// `group` is 0-7; types are written as their low byte.
Bytes BuildFilterGroup(const MacField& mac, int group, const std::array<std::int32_t, 4>& types,
                       const std::array<std::string, 4>& ids);

// The message of group g (0-7) of the table, unvalidated.
Bytes BuildFilterGroupOfTable(const MacField& mac, const FilterTable& table, int group);

// Decodes a filter-group message (codes 0x01-0x08) or reply (0x11-0x18);
// nullopt when shorter than 29 bytes or the code names no group.
std::optional<FilterGroup> ParseFilterGroup(ByteView datagram);

// A slot is acceptable when it is disabled (type <= 0), or when its identifier
// passes CanFormCheck for its type and the type does not exceed the CAN
// format code (1: 11-bit identifiers only, 2: 29-bit as well).
bool FilterSlotValid(std::int32_t type, std::string_view id, int idFormat);

}  // namespace oxlo
