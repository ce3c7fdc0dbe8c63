// Everything `config get`, `export` and `import` move: one device's network,
// port, CAN and filter settings, read from its replies or from a settings
// file, and the messages that write them into a device. No I/O.
#pragma once

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/bytes.h"
#include "protocol/can_messages.h"
#include "protocol/settings_messages.h"

namespace oxlo::cli {

struct DeviceSettings {
  NetworkSettings network;
  PortSettings port;
  CanSettings can;
  FilterTable filters;

  bool operator==(const DeviceSettings&) const = default;
};

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
  // Only once Complete().
  DeviceSettings Settings() const;

 private:
  std::optional<NetworkSettings> network_;
  std::optional<PortSettings> port_;
  std::optional<CanSettings> can_;
  FilterTable filters_;
  std::array<bool, kFilterGroupCount> groups_{};
  std::array<bool, kReadRequestKindCount> unreadable_{};
  bool any_reply_ = false;
};

// The 'N', 'O', 'C' messages and the eight filter groups, addressed to `mac`,
// in the order a device takes them. The network message always says one port.
std::vector<Bytes> SettingsMessages(const MacField& mac, const DeviceSettings& settings);

// The 429-byte settings file of the device `mac`.
Bytes SettingsFileOf(const MacField& mac, const DeviceSettings& settings);

// A file that cannot be used: too short, a value with no entry in its list
// (the message names the field and the value), or a section that does not
// decode.
class SettingsFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads a settings file; bytes past the 429 of a whole file are ignored and
// the MAC the file holds is not used. Throws SettingsFileError, before
// decoding anything when a value has no entry (CheckSettingsFileValues).
DeviceSettings DecodeSettingsFile(ByteView file);

}  // namespace oxlo::cli
