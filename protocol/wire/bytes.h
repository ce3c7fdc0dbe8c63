// Byte types shared by every message builder and parser.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace oxlo {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

using MacField = std::array<std::uint8_t, 6>;
using Ipv4Field = std::array<std::uint8_t, 4>;

inline constexpr std::uint16_t kDevicePort = 2057;
// Almost every message goes here, so a device is reached whatever its address.
inline constexpr char kBroadcastAddress[] = "255.255.255.255";

}  // namespace oxlo
