#include "protocol/device_settings.h"

#include <algorithm>

#include "protocol/frame.h"

namespace oxlo {
namespace {

constexpr int kFilterKindFirst = static_cast<int>(ReadRequestKind::kFilterGroup1);

std::string PartName(int kind) {
  switch (static_cast<ReadRequestKind>(kind)) {
    case ReadRequestKind::kNetwork:
      return "network settings";
    case ReadRequestKind::kOperationMode:
      return "operation mode";
    case ReadRequestKind::kCan:
      return "CAN settings";
    default:
      return "filter group " + std::to_string(kind - kFilterKindFirst + 1);
  }
}


}  // namespace

void SettingsCollector::Take(ByteView reply) {
  const std::optional<std::uint8_t> replyCode = AcceptDatagram(reply);
  if (!replyCode) return;
  const bool filterGroup = *replyCode >= code::kFilterReplyFirst && *replyCode <= code::kFilterReplyLast;
  any_reply_ = any_reply_ || filterGroup || *replyCode == code::kNetworkReply ||
               *replyCode == code::kOpModeReply || *replyCode == code::kCanReply;
  switch (*replyCode) {
    case code::kNetworkReply:
      if (network_) return;
      network_ = ParseNetworkReply(reply).Complete();
      unreadable_[static_cast<std::size_t>(ReadRequestKind::kNetwork)] = !network_;
      return;
    case code::kOpModeReply:
      if (port_) return;
      port_ = ParseOpModeReply(reply).Complete();
      unreadable_[static_cast<std::size_t>(ReadRequestKind::kOperationMode)] = !port_;
      return;
    case code::kCanReply:
      if (can_) return;
      can_ = ReadCanSettings(reply);
      unreadable_[static_cast<std::size_t>(ReadRequestKind::kCan)] = !can_;
      return;
    default:
      break;
  }
  if (!filterGroup) return;
  const int group = *replyCode - code::kFilterReplyFirst;
  if (groups_[static_cast<std::size_t>(group)]) return;
  const bool read = ReadFilterGroup(reply, filters_).has_value();
  groups_[static_cast<std::size_t>(group)] = read;
  unreadable_[static_cast<std::size_t>(kFilterKindFirst + group)] = !read;
}

bool SettingsCollector::Complete() const { return Missing().empty(); }

std::vector<std::string> SettingsCollector::Missing() const {
  std::array<bool, kReadRequestKindCount> have{};
  have[static_cast<std::size_t>(ReadRequestKind::kNetwork)] = network_.has_value();
  have[static_cast<std::size_t>(ReadRequestKind::kOperationMode)] = port_.has_value();
  have[static_cast<std::size_t>(ReadRequestKind::kCan)] = can_.has_value();
  std::copy(groups_.begin(), groups_.end(), have.begin() + kFilterKindFirst);
  std::vector<std::string> missing;
  for (int kind = 0; kind < kReadRequestKindCount; ++kind) {
    const auto k = static_cast<std::size_t>(kind);
    if (have[k]) continue;
    missing.push_back(PartName(kind) + (unreadable_[k] ? " (unreadable reply)" : ""));
  }
  return missing;
}

DeviceSettings SettingsCollector::Settings() const {
  if (!Complete()) throw std::logic_error("the device's settings are incomplete");
  return {*network_, *port_, *can_, filters_};
}

std::vector<Bytes> SettingsMessages(const MacField& mac, const DeviceSettings& settings) {
  NetworkSettings network = settings.network;
  network.portCount = 1;
  std::vector<Bytes> messages{
      BuildNetworkMessage(mac, network),
      BuildOpModeMessage(mac, settings.port),
      BuildCanSettings(mac, settings.can.baudIndex, settings.can.specCode, settings.can.id,
                       settings.can.mask)};
  for (int group = 1; group <= kFilterGroupCount; ++group) {
    std::array<std::int32_t, kSlotsPerGroup> types{};
    std::array<std::string, kSlotsPerGroup> ids;
    for (std::size_t s = 0; s < kSlotsPerGroup; ++s) {
      const FilterEntry& entry =
          settings.filters.entries[static_cast<std::size_t>(group - 1) * kSlotsPerGroup + s];
      types[s] = entry.type;
      ids[s] = entry.id;
    }
    messages.push_back(BuildFilterGroup(mac, group, types, ids));
  }
  return messages;
}

}  // namespace oxlo
