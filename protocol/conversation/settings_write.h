// Writing settings into a device, without I/O: which groups go, in which
// order and with which pauses, then the apply command and the wait for its
// acknowledgement. The window and the command line both follow it.
#pragma once

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "protocol/settings/device_settings.h"
#include "protocol/wire/device_replies.h"
#include "protocol/wire/discovery.h"

namespace oxlo {

using ChangedGroups = std::array<bool, kSettingGroupCount>;

// The device takes the eight filter groups of a whole table this far apart.
inline constexpr std::chrono::milliseconds kFilterGroupPace{100};

// One send: its group; for the filters, which of the eight groups (0-7), or
// kShownFilterGroup for the one the operator has on show; and the pause
// before it.
inline constexpr int kShownFilterGroup = -1;
struct WriteStep {
  SettingGroup group;
  int filterGroup = kShownFilterGroup;
  std::chrono::milliseconds pauseBefore{0};

  bool operator==(const WriteStep&) const = default;
};

// The sends for the changed groups: network, operation mode, CAN, then the
// filters, as all eight groups `pace` apart when `wholeFilterTable`, else the
// group on show. The apply command follows the last, at once.
std::vector<WriteStep> PlanSettingsWrite(const ChangedGroups& changed, bool wholeFilterTable,
                                         std::chrono::milliseconds pace = kFilterGroupPace);

// The message a step sends when the settings are given whole (the command
// line's import), not the operator's tabs; a step of the filters names its
// group (0-7).
Bytes BuildWriteStep(const MacField& mac, const DeviceSettings& settings, const WriteStep& step);

// The sends that take a device holding `held` to `wanted`: each group whose
// message would differ (each filter group on its own, `pace` after the send
// before it, as in a whole table), none
// when nothing differs. Messages are compared, as PartsNotTaken does.
std::vector<WriteStep> PlanChangedWrite(const MacField& mac, const DeviceSettings& held,
                                        const DeviceSettings& wanted,
                                        std::chrono::milliseconds pace = kFilterGroupPace);

// One send of a write: the step, with the filter group (0-7) it sent for a
// step of the filters, and the message that went.
struct SentStep {
  WriteStep step;
  Bytes message;
};

// The steps of `plan` for whole settings, each with its message.
std::vector<SentStep> BuildSentSteps(const MacField& mac, const DeviceSettings& settings,
                                     const std::vector<WriteStep>& plan);

// What the device did not take: the parts, named as a read names them,
// whose message built from `held` (read back after the acknowledgement)
// differs from the one sent. Messages are compared, not fields, so a value
// the device holds in another spelling (a CAN identifier with leading zeros)
// is the same value.
std::vector<std::string> PartsNotTaken(const MacField& mac, const std::vector<SentStep>& sent,
                                       const DeviceSettings& held);

// The device shows what it runs in its discovery reply: the name and, for a
// static address, the address in use. A lost apply command answered by a
// late copy of an earlier acknowledgement leaves the settings stored but not
// in use, which only this shows. Whether writing `written` over `held`
// changes what the reply shows:
bool ChangesWhatIsShown(const NetworkSettings& held, const NetworkSettings& written);
// What of `written` the reply `shown` does not show in use: "name", "IP
// address"; empty when it shows both.
std::vector<std::string> PartsNotInUse(const NetworkSettings& written, const DeviceRecord& shown);

// The wait for the acknowledgement 'a' of the apply command: five ticks of
// a one-second clock, as the device's own tool counts them.
inline constexpr int kAckTicks = 5;
inline constexpr std::chrono::seconds kAckTick{1};
inline constexpr std::chrono::milliseconds kAckTimeout = kAckTicks * kAckTick;

}  // namespace oxlo
