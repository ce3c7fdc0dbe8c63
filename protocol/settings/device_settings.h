// One device's network, port, CAN and filter settings, gathered from its
// replies, and the messages that write them.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "protocol/wire/bytes.h"
#include "protocol/wire/can_messages.h"
#include "protocol/wire/device_replies.h"
#include "protocol/wire/settings_messages.h"

namespace oxlo {

struct DeviceSettings {
  NetworkSettings network;
  PortSettings port;
  CanSettings can;
  FilterTable filters;

  bool operator==(const DeviceSettings&) const = default;
};

// The four parts a write sends, in the order a device takes them.
enum class SettingGroup { kNetwork = 0, kOperationMode = 1, kCan = 2, kFilters = 3 };
inline constexpr int kSettingGroupCount = 4;

// The message that writes `group` of `settings` into the device `mac`; of
// the filters, filter group `filterGroup` (0-7). The network message always
// says one port.
Bytes BuildSettingsMessage(const MacField& mac, const DeviceSettings& settings, SettingGroup group,
                           int filterGroup = 0);

// The 'N', 'O', 'C' messages and the eight filter groups, addressed to `mac`,
// in the order a device takes them.
std::vector<Bytes> SettingsMessages(const MacField& mac, const DeviceSettings& settings);

// How a part of the settings is named to the operator: "network settings",
// "operation mode", "CAN settings", "filter group 3".
std::string ReadPartName(ReadRequestKind kind);

// Gathers the replies to the eleven read requests, in any order.
class SettingsCollector {
 public:
  // Ignores a datagram that answers none of the requests. A reply that
  // cannot be decoded leaves its part missing and is remembered as such.
  void Take(ByteView reply);
  bool Complete() const;
  // False while not one datagram answering a request has come.
  bool AnyReply() const { return any_reply_; }
  // The parts still missing, "network settings", "filter group 3" ...; an
  // undecodable reply is named with "(unreadable reply)".
  std::vector<std::string> Missing() const;
  // The requests whose part has not arrived whole, in the order of kReadPlan.
  std::vector<ReadRequestKind> MissingKinds() const;
  // Only once Complete().
  DeviceSettings Settings() const;

 private:
  std::array<bool, kReadRequestKindCount> Have() const;

  std::optional<NetworkSettings> network_;
  std::optional<PortSettings> port_;
  std::optional<CanSettings> can_;
  FilterTable filters_;
  std::array<bool, kFilterGroupCount> groups_{};
  std::array<bool, kReadRequestKindCount> unreadable_{};
  bool any_reply_ = false;
};

// Read requests are idempotent, so the parts that did not answer within a
// round are asked again, up to kAsksAgain times. Writes, the apply command
// and firmware messages are never repeated: a copy could land after a newer
// message, or count twice.
class ReadRounds {
 public:
  static constexpr int kAsksAgain = 3;
  static constexpr int kRounds = 1 + kAsksAgain;

  // The requests of the next round, in plan order with their pauses: all
  // eleven first, then those of `missing`; empty once nothing is missing or
  // every ask again is used.
  std::vector<ReadStep> Next(const std::vector<ReadRequestKind>& missing);
  bool RoundsLeft() const { return rounds_ < kRounds; }
  // How long each round waits when a whole read may take `total`.
  static std::chrono::milliseconds RoundWait(std::chrono::milliseconds total) {
    return total / kRounds;
  }

 private:
  int rounds_ = 0;
};

}  // namespace oxlo
