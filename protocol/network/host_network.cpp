#include "protocol/network/host_network.h"

#include <algorithm>
#include <utility>

#include "protocol/wire/fields.h"

namespace oxlo {

SeenDevices::Sighting SeenDevices::Add(DeviceRecord record, const std::string& interfaceName,
                                       const std::string& localAddress) {
  std::vector<std::size_t>& rows = index_of_mac_[record.mac];
  for (const std::size_t row : rows) {
    if (devices_[row].record != record) continue;
    // The same device through another adapter: bridged or looped networks.
    std::vector<std::string>& seenOn = devices_[row].interfaces;
    if (interfaceName.empty() ||
        std::find(seenOn.begin(), seenOn.end(), interfaceName) != seenOn.end()) {
      return Sighting::kAgain;
    }
    seenOn.push_back(interfaceName);
    return Sighting::kNewInterface;
  }
  // Another answer with a listed MAC on an adapter where that MAC answered
  // already: the device changed, or a copy; the first answer stays.
  for (const std::size_t row : rows) {
    const std::vector<std::string>& seenOn = devices_[row].interfaces;
    if (interfaceName.empty() || seenOn.empty() ||
        std::find(seenOn.begin(), seenOn.end(), interfaceName) != seenOn.end()) {
      return Sighting::kAgain;
    }
  }
  if (devices_.size() >= limit_) {
    if (rows.empty()) index_of_mac_.erase(record.mac);
    return Sighting::kIgnored;
  }
  rows.push_back(devices_.size());
  SeenDevice device;
  device.record = std::move(record);
  if (!interfaceName.empty()) device.interfaces.push_back(interfaceName);
  device.localAddress = localAddress;
  devices_.push_back(std::move(device));
  return Sighting::kNew;
}

void SeenDevices::Clear() {
  index_of_mac_.clear();
  devices_.clear();
}

std::optional<std::uint32_t> AddressOfText(const std::string& text) {
  const std::optional<Ipv4Field> field = ParseIpv4Text(text);
  if (!field) return std::nullopt;
  return (std::uint32_t{(*field)[0]} << 24) | (std::uint32_t{(*field)[1]} << 16) |
         (std::uint32_t{(*field)[2]} << 8) | std::uint32_t{(*field)[3]};
}

std::uint32_t MaskOfPrefix(int prefixLength) {
  if (prefixLength <= 0) return 0;
  if (prefixLength >= 32) return 0xFFFFFFFFu;
  return ~(0xFFFFFFFFu >> prefixLength);
}

std::string AddressText(std::uint32_t address) {
  return Ipv4ToText({static_cast<std::uint8_t>(address >> 24),
                     static_cast<std::uint8_t>(address >> 16),
                     static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)});
}

}  // namespace oxlo
