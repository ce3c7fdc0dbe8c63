// Devices described in a JSON file: an array with one object per device.
// Every key is optional; a missing one keeps the value GeneratedDevice gives
// the device at that position.
//
//   [{"mac": "02-00-00-00-00-01", "model": "Oxlo CG-100", "version": "1.0.1",
//     "name": "Hall 1", "ip": "10.57.0.101", "mask": "255.255.255.0",
//     "gateway": "10.57.0.1", "extra": "0.0.0.0",
//     "network": {"type": 0, "dns": "10.57.0.1", "echo": 0},
//     "port": {"index": 0, "mode": "TCP_Server", "local_port": 4001, "alias": "CAN1",
//              "type": 0, "target_ip": "0.0.0.0", "target_port": 0, "alive": 7,
//              "latency": 0, "no_delay": false},
//     "can": {"baud_index": 7, "format": 1, "id": "000007FF", "mask": "00000000"},
//     "filters": [{"type": 1, "id": "123"}, ...],   // up to 32, in order
//     "firmware": {"version_after": "2.0.0", "reboot_ms": 3000, "flash_ms": 2,
//                  "refuse_end": false}}]
// "firmware" overrides the simulator's upgrade options for this device
// (UpgradeBehaviour); reboot_ms and flash_ms take 0..600000.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "sim/device.h"

namespace oxlo::sim {

// Says where in the file the problem is: "devices[2].port.mode: ...".
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::vector<DeviceState> DevicesFromJson(std::string_view jsonText);

// DevicesFromJson on a file's content; the error names the file.
std::vector<DeviceState> LoadDeviceFile(const std::filesystem::path& file);

}  // namespace oxlo::sim
