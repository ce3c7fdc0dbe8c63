// The names a device's codes go by wherever the operator sees them: the
// window's lists and the command line's output.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/can_messages.h"

namespace oxlo {

inline constexpr std::array<std::string_view, 2> kNetworkTypeNames{"Static IP", "DHCP"};
inline constexpr std::array<std::string_view, 2> kPortTypeNames{"Data", "Modem"};
// From format code 1 (kIdFormat11Bit) on.
inline constexpr std::array<std::string_view, 2> kIdFormatNames{"A", "B"};
inline constexpr std::array<std::string_view, 3> kFilterTypeNames{"Disable", "Standard", "Extend"};

// The name of `code` among `names`, the first of which names `first`;
// nothing for a code the list does not have.
template <std::size_t N>
constexpr std::optional<std::string_view> NameOfCode(const std::array<std::string_view, N>& names,
                                                     int code, int first = 0) {
  const int at = code - first;
  if (at < 0 || at >= static_cast<int>(N)) return std::nullopt;
  return names[static_cast<std::size_t>(at)];
}

// "500 kbps" for bit-rate index 7; nothing outside the list.
inline std::optional<std::string> BitRateName(int index) {
  if (index < 0 || index >= static_cast<int>(kBaudRatesKbit.size())) return std::nullopt;
  return std::to_string(kBaudRatesKbit[static_cast<std::size_t>(index)]) + " kbps";
}

}  // namespace oxlo
