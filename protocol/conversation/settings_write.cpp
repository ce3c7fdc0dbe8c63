#include "protocol/conversation/settings_write.h"

#include <algorithm>
#include <variant>

#include "protocol/wire/fields.h"

namespace oxlo {

std::vector<WriteStep> PlanSettingsWrite(const ChangedGroups& changed, bool wholeFilterTable,
                                         std::chrono::milliseconds pace) {
  std::vector<WriteStep> steps;
  for (const SettingGroup group :
       {SettingGroup::kNetwork, SettingGroup::kOperationMode, SettingGroup::kCan}) {
    if (changed[static_cast<std::size_t>(group)]) steps.push_back({group});
  }
  if (!changed[static_cast<std::size_t>(SettingGroup::kFilters)]) return steps;
  if (!wholeFilterTable) {
    steps.push_back({SettingGroup::kFilters});
    return steps;
  }
  for (int group = 0; group < kFilterGroupCount; ++group) {
    steps.push_back({SettingGroup::kFilters, group, pace});
  }
  return steps;
}

std::vector<WriteStep> PlanChangedWrite(const MacField& mac, const DeviceSettings& held,
                                        const DeviceSettings& wanted,
                                        std::chrono::milliseconds pace) {
  std::vector<WriteStep> steps;
  const auto differs = [&](const WriteStep& step) {
    return BuildWriteStep(mac, held, step) != BuildWriteStep(mac, wanted, step);
  };
  for (const SettingGroup group :
       {SettingGroup::kNetwork, SettingGroup::kOperationMode, SettingGroup::kCan}) {
    if (differs({group})) steps.push_back({group});
  }
  for (int group = 0; group < kFilterGroupCount; ++group) {
    const WriteStep step{SettingGroup::kFilters, group, pace};
    if (differs(step)) steps.push_back(step);
  }
  return steps;
}

Bytes BuildWriteStep(const MacField& mac, const DeviceSettings& settings, const WriteStep& step) {
  return BuildSettingsMessage(mac, settings, step.group, step.filterGroup);
}

std::vector<SentStep> BuildSentSteps(const MacField& mac, const DeviceSettings& settings,
                                     const std::vector<WriteStep>& plan) {
  std::vector<SentStep> sent;
  for (const WriteStep& step : plan) sent.push_back({step, BuildWriteStep(mac, settings, step)});
  return sent;
}

std::vector<std::string> PartsNotTaken(const MacField& mac, const std::vector<SentStep>& sent,
                                       const DeviceSettings& held) {
  std::vector<std::string> parts;
  for (const SentStep& s : sent) {
    if (BuildWriteStep(mac, held, s.step) == s.message) continue;
    ReadRequestKind kind = ReadRequestKind::kNetwork;
    switch (s.step.group) {
      case SettingGroup::kNetwork:
        break;
      case SettingGroup::kOperationMode:
        kind = ReadRequestKind::kOperationMode;
        break;
      case SettingGroup::kCan:
        kind = ReadRequestKind::kCan;
        break;
      case SettingGroup::kFilters:
        kind = FilterGroupRequest(s.step.filterGroup);
        break;
    }
    const std::string name = ReadPartName(kind);
    if (std::find(parts.begin(), parts.end(), name) == parts.end()) parts.push_back(name);
  }
  return parts;
}

namespace {

// The name as a discovery reply carries it back.
std::string ShownName(const std::string& name) {
  return NameFromField(NameToField(name));
}

}  // namespace

bool ChangesWhatIsShown(const NetworkSettings& held, const NetworkSettings& written) {
  if (ShownName(held.name) != ShownName(written.name)) return true;
  return written.networkType == kNetworkTypeStatic &&
         (held.networkType != kNetworkTypeStatic || held.address != written.address);
}

std::vector<std::string> PartsNotInUse(const NetworkSettings& written, const DeviceRecord& shown) {
  std::vector<std::string> parts;
  if (shown.name != ShownName(written.name)) parts.push_back("name");
  if (written.networkType == kNetworkTypeStatic && shown.ip != Ipv4ToText(written.address)) {
    parts.push_back("IP address");
  }
  return parts;
}

}  // namespace oxlo
