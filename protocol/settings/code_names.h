// The names a device's codes go by wherever the operator sees them: the
// window's lists, the command line's text and the settings documents (JSON).
// One table per kind of code; the operation modes' names are kept with
// their codes (kOperationModeNames, ModeName).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/wire/can_messages.h"
#include "protocol/wire/settings_messages.h"

namespace oxlo {

inline constexpr std::array<std::string_view, 2> kNetworkTypeNames{"Static IP", "DHCP"};
inline constexpr std::array<std::string_view, 2> kPortTypeNames{"Data", "Modem"};
// From format code 1 (kIdFormat11Bit) on, as the command line and the
// documents name them...
inline constexpr std::array<std::string_view, 2> kIdFormatNames{"11-bit", "29-bit"};
// ...and as the window's list names them (CAN 2.0A and 2.0B).
inline constexpr std::array<std::string_view, 2> kIdFormatWindowNames{"A", "B"};
inline constexpr std::array<std::string_view, 3> kFilterTypeNames{"Disable", "Standard", "Extend"};

// What a code no list names reads as: "unknown (7)". A document gives it
// back to mean "the code the device holds".
inline std::string UnknownCodeName(int code) {
  return "unknown (" + std::to_string(code) + ")";
}

// The name of `code` among `names`, the first of which names `first`;
// nothing for a code the list does not have.
template <std::size_t N>
constexpr std::optional<std::string_view> NameOfCode(const std::array<std::string_view, N>& names,
                                                     int code, int first = 0) {
  const int at = code - first;
  if (at < 0 || at >= static_cast<int>(N)) return std::nullopt;
  return names[static_cast<std::size_t>(at)];
}

// NameOfCode, or UnknownCodeName for a code the list does not have.
template <std::size_t N>
std::string CodeName(const std::array<std::string_view, N>& names, int code, int first = 0) {
  const std::optional<std::string_view> name = NameOfCode(names, code, first);
  return name ? std::string(*name) : UnknownCodeName(code);
}

inline std::string NetworkTypeName(int code) {
  return CodeName(kNetworkTypeNames, code);
}
inline std::string PortTypeName(int code) {
  return CodeName(kPortTypeNames, code);
}
inline std::string IdFormatName(int code) {
  return CodeName(kIdFormatNames, code, kIdFormat11Bit);
}
inline std::string FilterTypeName(int code) {
  return CodeName(kFilterTypeNames, code);
}

// "500 kbps" for bit-rate index 7.
inline std::string BitRateName(int index) {
  if (index < 0 || index >= static_cast<int>(kBaudRatesKbit.size())) return UnknownCodeName(index);
  return std::to_string(kBaudRatesKbit[static_cast<std::size_t>(index)]) + " kbps";
}

}  // namespace oxlo
