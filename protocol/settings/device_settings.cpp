#include "protocol/settings/device_settings.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <variant>

#include "protocol/wire/device_replies.h"
#include "protocol/wire/frame.h"

namespace oxlo {
namespace {

constexpr int kFilterKindFirst = static_cast<int>(ReadRequestKind::kFilterGroupFirst);

}  // namespace

Bytes BuildSettingsMessage(const MacField& mac, const DeviceSettings& settings, SettingGroup group,
                           int filterGroup) {
  switch (group) {
    case SettingGroup::kNetwork: {
      NetworkSettings network = settings.network;
      network.portCount = 1;
      return BuildNetworkMessage(mac, network);
    }
    case SettingGroup::kOperationMode:
      return BuildOpModeMessage(mac, settings.port);
    case SettingGroup::kCan:
      return BuildCanSettings(mac, settings.can.baudIndex, settings.can.idFormat, settings.can.id,
                              settings.can.mask);
    case SettingGroup::kFilters:
      break;
  }
  if (filterGroup < 0 || filterGroup >= kFilterGroupCount) {
    throw std::invalid_argument("no filter group " + std::to_string(filterGroup));
  }
  return BuildFilterGroupOfTable(mac, settings.filters, filterGroup);
}

std::vector<Bytes> SettingsMessages(const MacField& mac, const DeviceSettings& settings) {
  std::vector<Bytes> messages{BuildSettingsMessage(mac, settings, SettingGroup::kNetwork),
                              BuildSettingsMessage(mac, settings, SettingGroup::kOperationMode),
                              BuildSettingsMessage(mac, settings, SettingGroup::kCan)};
  for (int g = 0; g < kFilterGroupCount; ++g) {
    messages.push_back(BuildSettingsMessage(mac, settings, SettingGroup::kFilters, g));
  }
  return messages;
}

std::string ReadPartName(ReadRequestKind kind) {
  switch (kind) {
    case ReadRequestKind::kNetwork:
      return "network settings";
    case ReadRequestKind::kOperationMode:
      return "operation mode";
    case ReadRequestKind::kCan:
      return "CAN settings";
    default:
      return "filter group " + std::to_string(static_cast<int>(kind) - kFilterKindFirst + 1);
  }
}

void SettingsCollector::Take(ByteView datagram) {
  const std::optional<DeviceReply> reply = ParseDeviceReply(datagram);
  if (!reply) return;
  // Each part is taken from its first reply; an undecodable one is noted.
  const auto take = [this](auto& part, auto decoded, ReadRequestKind kind) {
    any_reply_ = true;
    if (part) return;
    part = decoded;
    unreadable_[static_cast<std::size_t>(kind)] = !part;
  };
  if (const auto* network = std::get_if<NetworkReply>(&*reply)) {
    take(network_, network->Complete(), ReadRequestKind::kNetwork);
  } else if (const auto* port = std::get_if<OpModeReply>(&*reply)) {
    take(port_, port->Complete(), ReadRequestKind::kOperationMode);
  } else if (const auto* can = std::get_if<CanReply>(&*reply)) {
    take(can_, can->settings, ReadRequestKind::kCan);
  } else if (const auto* group = std::get_if<FilterGroupReply>(&*reply)) {
    any_reply_ = true;
    const auto g = static_cast<std::size_t>(group->group);
    if (groups_[g]) return;
    if (group->slots) filters_.StoreGroup(group->group, *group->slots);
    groups_[g] = group->slots.has_value();
    unreadable_[static_cast<std::size_t>(kFilterKindFirst) + g] = !groups_[g];
  }
}

bool SettingsCollector::Complete() const {
  return Missing().empty();
}

std::vector<ReadRequestKind> SettingsCollector::MissingKinds() const {
  std::array<bool, kReadRequestKindCount> have = Have();
  std::vector<ReadRequestKind> missing;
  for (int kind = 0; kind < kReadRequestKindCount; ++kind) {
    if (!have[static_cast<std::size_t>(kind)])
      missing.push_back(static_cast<ReadRequestKind>(kind));
  }
  return missing;
}

std::array<bool, kReadRequestKindCount> SettingsCollector::Have() const {
  std::array<bool, kReadRequestKindCount> have{};
  have[static_cast<std::size_t>(ReadRequestKind::kNetwork)] = network_.has_value();
  have[static_cast<std::size_t>(ReadRequestKind::kOperationMode)] = port_.has_value();
  have[static_cast<std::size_t>(ReadRequestKind::kCan)] = can_.has_value();
  std::copy(groups_.begin(), groups_.end(), have.begin() + kFilterKindFirst);
  return have;
}

std::vector<std::string> SettingsCollector::Missing() const {
  const std::array<bool, kReadRequestKindCount> have = Have();
  std::vector<std::string> missing;
  for (int kind = 0; kind < kReadRequestKindCount; ++kind) {
    const auto k = static_cast<std::size_t>(kind);
    if (have[k]) continue;
    missing.push_back(ReadPartName(static_cast<ReadRequestKind>(kind)) +
                      (unreadable_[k] ? " (unreadable reply)" : ""));
  }
  return missing;
}

DeviceSettings SettingsCollector::Settings() const {
  if (!Complete()) throw std::logic_error("the device's settings are incomplete");
  return {*network_, *port_, *can_, filters_};
}

std::vector<ReadStep> ReadRounds::Next(const std::vector<ReadRequestKind>& missing) {
  if (!RoundsLeft()) return {};
  std::vector<ReadStep> steps;
  for (const ReadStep& step : kReadPlan) {
    if (rounds_ == 0 || std::find(missing.begin(), missing.end(), step.kind) != missing.end()) {
      steps.push_back(step);
    }
  }
  if (!steps.empty()) ++rounds_;
  return steps;
}

}  // namespace oxlo
