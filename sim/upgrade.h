// What a device does around a firmware upgrade: how long it takes to write
// each message to flash, whether it takes the image, how long it reboots and
// which version it reports when it is back.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace oxlo::sim {

// The discovery reply's version field holds this many bytes.
inline constexpr std::size_t kVersionTextMax = 8;

// The longest flash or reboot time a device may be given.
inline constexpr std::chrono::milliseconds kMaxUpgradeTime{600000};

struct UpgradeBehaviour {
  // Reported once the device is back from the reboot; nullopt keeps the
  // version it had.
  std::optional<std::string> versionAfter;
  // From the accepted end message on, the device answers nothing and takes
  // nothing in until this long after the image is in flash (the end
  // message's flash time after it came); the reply to the end message still
  // goes out.
  std::chrono::milliseconds reboot{0};
  // Every firmware reply is held this much longer, data and end alike; it
  // goes through the reply's delay so a hundred devices flash side by side.
  std::chrono::milliseconds flash{0};
  // The end message is refused (FirmwareStatus::kEndRefusedOnRequest) though
  // every chunk before it was taken.
  bool refuseEnd = false;
};

// One device's departures from the behaviour the whole simulator was given;
// what is unset follows it.
struct UpgradeOverrides {
  std::optional<std::string> versionAfter;
  std::optional<std::chrono::milliseconds> reboot;
  std::optional<std::chrono::milliseconds> flash;
  std::optional<bool> refuseEnd;

  UpgradeBehaviour Over(const UpgradeBehaviour& base) const {
    UpgradeBehaviour result = base;
    if (versionAfter) result.versionAfter = versionAfter;
    if (reboot) result.reboot = *reboot;
    if (flash) result.flash = *flash;
    if (refuseEnd) result.refuseEnd = *refuseEnd;
    return result;
  }
};

}  // namespace oxlo::sim
