// A device's settings with a distinct value in every field, and the replies
// a device holding them sends.
#pragma once

#include <cstdio>
#include <vector>

#include "protocol/settings/device_settings.h"
#include "protocol/wire/device_side.h"
#include "protocol/wire/settings_messages.h"

namespace oxlo::testing {

inline constexpr MacField kMac{0x02, 0x00, 0x5E, 0x00, 0x00, 0x07};

inline DeviceSettings SampleSettings() {
  DeviceSettings s;
  s.network = {1,
               {192, 168, 7, 20},
               {192, 168, 7, 1},
               {255, 255, 255, 0},
               {9, 9, 9, 9},
               "Förderband Süd",
               1,
               0x5A};
  s.port = {0,
            OperationMode::kUdpClient,
            5001,
            "W\xE4rme",
            kPortTypeModem,
            {192, 168, 7, 99},
            6001,
            30,
            12,
            true};
  s.can = {3, kIdFormat29Bit, "1FFFFFFF", "0000ABCD"};
  for (int k = 0; k < kFilterCount; ++k) {
    char id[9];
    std::snprintf(id, sizeof id, "%08X", 0x10 * k + 3);
    s.filters.entries[static_cast<std::size_t>(k)] = {k % 3, id};
  }
  return s;
}

// The replies to the eleven read requests, in request order.
inline std::vector<Bytes> RepliesOf(const MacField& mac, const DeviceSettings& s) {
  std::vector<Bytes> replies{BuildNetworkReply(mac, s.network), BuildOpModeReply(mac, s.port),
                             BuildCanReply(mac, s.can)};
  for (int group = 0; group < kFilterGroupCount; ++group) {
    std::array<FilterEntry, kSlotsPerGroup> slots;
    for (std::size_t k = 0; k < slots.size(); ++k) {
      slots[k] = s.filters.entries[static_cast<std::size_t>(group) * kSlotsPerGroup + k];
    }
    replies.push_back(BuildFilterGroupReply(mac, group, slots));
  }
  return replies;
}

}  // namespace oxlo::testing
