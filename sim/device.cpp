#include "sim/device.h"

#include <array>
#include <stdexcept>
#include <string>

namespace oxlo::sim {
namespace {

// A mixed fleet, so list views show more than one model and version.
constexpr std::array<const char*, 3> kModels = {"Oxlo CG-100", "Oxlo CG-200", "Oxlo CG-200M"};
constexpr std::array<const char*, 3> kVersions = {"1.0.1", "1.1.0", "2.0.3"};

// The first 154 devices share the lab's /24; later ones spread over the /16.
void AssignAddresses(int number, DeviceIdentity& identity) {
  if (number <= 154) {
    identity.ip = {10, 57, 0, static_cast<std::uint8_t>(100 + number)};
    identity.mask = {255, 255, 255, 0};
  } else {
    const int j = number - 155;
    identity.ip = {10, 57, static_cast<std::uint8_t>(1 + j / 254),
                   static_cast<std::uint8_t>(1 + j % 254)};
    identity.mask = {255, 255, 0, 0};
  }
  identity.gateway = {10, 57, 0, 1};
}

}  // namespace

std::string CanIdText(std::string_view hexText) {
  const auto bytes = CanIdToBytes(hexText);
  return CanIdFromBytes(bytes);
}

DeviceState GeneratedDevice(int number, const MacField& macBase) {
  if (number < 1 || number > kMaxGeneratedDevices) {
    throw std::out_of_range("device number out of range");
  }
  DeviceState device;
  DeviceIdentity& id = device.identity;
  std::uint64_t mac = 0;
  for (std::uint8_t b : macBase) mac = mac << 8 | b;
  mac += static_cast<std::uint64_t>(number);
  for (std::size_t i = id.mac.size(); i-- > 0; mac >>= 8)
    id.mac[i] = static_cast<std::uint8_t>(mac);
  AssignAddresses(number, id);
  id.name = "Oxlo-" + std::to_string(number);
  const auto variant = static_cast<std::size_t>(number - 1) % kModels.size();
  id.model = kModels[variant];
  id.version = kVersions[variant];

  device.network.networkType = 0;
  device.network.address = id.ip;
  device.network.gateway = id.gateway;
  device.network.subnetMask = id.mask;
  device.network.dns = id.gateway;
  device.network.name = id.name;
  device.network.portCount = 1;
  device.network.echoByte = 0;

  device.port.portIndex = 0;
  device.port.mode = OperationMode::kTcpServer;
  device.port.localPort = 4001;
  device.port.alias = "CAN1";
  device.port.portType = kPortTypeData;
  device.port.alive = 7;

  device.can.baudIndex = 7;  // 500 kbit/s
  device.can.idFormat = kIdFormat11Bit;
  device.can.id = CanIdText("");
  device.can.mask = CanIdText("");
  for (FilterEntry& filter : device.filters.entries) filter.id = CanIdText("");
  return device;
}

}  // namespace oxlo::sim
