#include "sim/device_config.h"

#include <chrono>
#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "protocol/wire/fields.h"

namespace oxlo::sim {
namespace {

using Json = nlohmann::json;

[[noreturn]] void Fail(const std::string& path, const std::string& problem) {
  throw ConfigError(path + ": " + problem);
}

// One JSON object of the file, with the keys it may hold.
class Section {
 public:
  Section(const Json& value, std::string path, std::initializer_list<const char*> keys)
      : value_(value), path_(std::move(path)) {
    if (!value_.is_object()) Fail(path_, "expected an object");
    const std::set<std::string> known(keys.begin(), keys.end());
    for (const auto& item : value_.items()) {
      if (known.count(item.key()) == 0) {
        std::string list;
        for (const char* key : keys) list += std::string(list.empty() ? "" : ", ") + key;
        Fail(path_, "unknown key \"" + item.key() + "\" (known: " + list + ")");
      }
    }
  }

  const Json* Find(const char* key) const {
    const auto it = value_.find(key);
    return it == value_.end() ? nullptr : &*it;
  }
  std::string PathOf(const char* key) const { return path_ + "." + key; }

  std::optional<std::string> Text(const char* key, std::size_t maxBytes) const {
    const Json* value = Find(key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_string()) Fail(PathOf(key), "expected a string");
    std::string text = value->get<std::string>();
    if (text.size() > maxBytes) {
      Fail(PathOf(key), "\"" + text + "\" is longer than " + std::to_string(maxBytes) + " bytes");
    }
    return text;
  }

  std::optional<std::int64_t> Integer(const char* key, std::int64_t min, std::int64_t max) const {
    const Json* value = Find(key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_number_integer()) Fail(PathOf(key), "expected a whole number");
    const auto number = value->get<std::int64_t>();
    if (number < min || number > max) {
      Fail(PathOf(key), std::to_string(number) + " is outside " + std::to_string(min) + ".." +
                            std::to_string(max));
    }
    return number;
  }

  std::optional<bool> Flag(const char* key) const {
    const Json* value = Find(key);
    if (value == nullptr) return std::nullopt;
    if (!value->is_boolean()) Fail(PathOf(key), "expected true or false");
    return value->get<bool>();
  }

  std::optional<Ipv4Field> Address(const char* key) const {
    const auto text = Text(key, 64);
    if (!text) return std::nullopt;
    const auto address = ParseAddress(*text);
    if (!address) Fail(PathOf(key), "\"" + *text + "\" is not an IPv4 address");
    return address;
  }

  std::optional<std::string> CanId(const char* key) const {
    const Json* value = Find(key);
    if (value == nullptr) return std::nullopt;
    const std::string text = value->is_string() ? value->get<std::string>() : std::string();
    if (!IsHexText(text, kCanIdTextMax))
      Fail(PathOf(key), "expected 1 to 8 hex digits in a string");
    return CanIdText(text);
  }

 private:
  static std::optional<Ipv4Field> ParseAddress(const std::string& text) {
    return ParseIpv4Text(text);
  }

  const Json& value_;
  std::string path_;
};

void ReadNetwork(const Section& device, DeviceState& state) {
  const Json* value = device.Find("network");
  if (value == nullptr) return;
  const Section network(*value, device.PathOf("network"), {"type", "dns", "echo"});
  if (auto type = network.Integer("type", 0, 255)) {
    state.network.networkType = static_cast<std::uint8_t>(*type);
  }
  if (auto dns = network.Address("dns")) state.network.dns = *dns;
  if (auto echo = network.Integer("echo", 0, 255)) {
    state.network.echoByte = static_cast<std::uint8_t>(*echo);
  }
}

void ReadPort(const Section& device, PortSettings& port) {
  const Json* value = device.Find("port");
  if (value == nullptr) return;
  const Section section(*value, device.PathOf("port"),
                        {"index", "mode", "local_port", "alias", "type", "target_ip", "target_port",
                         "alive", "latency", "no_delay"});
  if (auto index = section.Integer("index", 0, 255))
    port.portIndex = static_cast<std::uint8_t>(*index);
  if (auto name = section.Text("mode", 32)) {
    const auto mode = ModeFromName(*name);
    if (!mode) {
      std::string names;
      for (std::string_view known : kOperationModeNames) {
        names += (names.empty() ? "" : ", ") + std::string(known);
      }
      Fail(section.PathOf("mode"), "\"" + *name + "\" is not one of " + names);
    }
    port.mode = *mode;
  }
  if (auto local = section.Integer("local_port", 0, 65535)) {
    port.localPort = static_cast<std::uint16_t>(*local);
  }
  if (auto alias = section.Text("alias", kAliasFieldSize)) port.alias = *alias;
  // 0xFF is allowed: it is how a port row that was never filled reads back.
  if (auto type = section.Integer("type", 0, 255)) port.portType = static_cast<std::uint8_t>(*type);
  if (auto target = section.Address("target_ip")) port.targetAddress = *target;
  if (auto target = section.Integer("target_port", 0, 65535)) {
    port.targetPort = static_cast<std::uint16_t>(*target);
  }
  if (auto alive = section.Integer("alive", 0, 65535))
    port.alive = static_cast<std::uint16_t>(*alive);
  if (auto latency = section.Integer("latency", 0, 65535)) {
    port.latency = static_cast<std::uint16_t>(*latency);
  }
  if (auto noDelay = section.Flag("no_delay")) port.noDelay = *noDelay;
}

void ReadCan(const Section& device, CanSettings& can) {
  const Json* value = device.Find("can");
  if (value == nullptr) return;
  const Section section(*value, device.PathOf("can"), {"baud_index", "format", "id", "mask"});
  if (auto baud = section.Integer("baud_index", 0, 255))
    can.baudIndex = static_cast<std::uint8_t>(*baud);
  if (auto format = section.Integer("format", 0, 255))
    can.idFormat = static_cast<std::uint8_t>(*format);
  if (auto id = section.CanId("id")) can.id = *id;
  if (auto mask = section.CanId("mask")) can.mask = *mask;
}

void ReadFilters(const Section& device, FilterTable& filters) {
  const Json* value = device.Find("filters");
  if (value == nullptr) return;
  const std::string path = device.PathOf("filters");
  if (!value->is_array()) Fail(path, "expected an array");
  if (value->size() > filters.entries.size()) {
    Fail(path, "holds " + std::to_string(value->size()) + " filters; a device has " +
                   std::to_string(filters.entries.size()));
  }
  for (std::size_t i = 0; i < value->size(); ++i) {
    const Section filter((*value)[i], path + "[" + std::to_string(i) + "]", {"type", "id"});
    if (auto type = filter.Integer("type", 0, 255)) {
      filters.entries[i].type = static_cast<std::int32_t>(*type);
    }
    if (auto id = filter.CanId("id")) filters.entries[i].id = *id;
  }
}

void ReadUpgrade(const Section& device, UpgradeOverrides& upgrade) {
  const Json* value = device.Find("firmware");
  if (value == nullptr) return;
  const Section section(*value, device.PathOf("firmware"),
                        {"version_after", "reboot_ms", "flash_ms", "refuse_end"});
  // The version may be the one the device has: it comes back unchanged.
  if (auto version = section.Text("version_after", kVersionTextMax)) {
    upgrade.versionAfter = *version;
  }
  const std::int64_t longest = kMaxUpgradeTime.count();
  if (auto reboot = section.Integer("reboot_ms", 0, longest)) {
    upgrade.reboot = std::chrono::milliseconds(*reboot);
  }
  if (auto flash = section.Integer("flash_ms", 0, longest)) {
    upgrade.flash = std::chrono::milliseconds(*flash);
  }
  if (auto refuse = section.Flag("refuse_end")) upgrade.refuseEnd = *refuse;
}

DeviceState ReadDevice(const Json& value, std::size_t position) {
  const Section device(value, "devices[" + std::to_string(position) + "]",
                       {"mac", "model", "version", "name", "ip", "mask", "gateway", "extra",
                        "network", "port", "can", "filters", "firmware"});
  DeviceState state = GeneratedDevice(static_cast<int>(position) + 1);
  DeviceIdentity& id = state.identity;
  if (auto text = device.Text("mac", 17)) {
    const auto mac = ParseMacText(*text);
    if (!mac) Fail(device.PathOf("mac"), "\"" + *text + "\" is not a MAC like 02-00-00-00-00-01");
    id.mac = *mac;
  }
  if (auto model = device.Text("model", 20)) id.model = *model;
  if (auto version = device.Text("version", kVersionTextMax)) id.version = *version;
  if (auto name = device.Text("name", kNameFieldSize)) id.name = *name;
  if (auto ip = device.Address("ip")) id.ip = *ip;
  if (auto mask = device.Address("mask")) id.mask = *mask;
  if (auto gateway = device.Address("gateway")) {
    id.gateway = *gateway;
    state.network.dns = *gateway;  // unless the network section names one
  }
  if (auto extra = device.Address("extra")) id.extra = *extra;

  // The network settings carry the same address the discovery reply shows.
  state.network.address = id.ip;
  state.network.gateway = id.gateway;
  state.network.subnetMask = id.mask;
  state.network.name = id.name;
  ReadNetwork(device, state);
  ReadPort(device, state.port);
  ReadCan(device, state.can);
  ReadFilters(device, state.filters);
  ReadUpgrade(device, state.upgrade);
  return state;
}

}  // namespace

std::vector<DeviceState> DevicesFromJson(std::string_view jsonText) {
  Json document;
  try {
    document = Json::parse(jsonText);
  } catch (const Json::parse_error& error) {
    throw ConfigError(std::string("not valid JSON: ") + error.what());
  }
  if (!document.is_array()) throw ConfigError("devices: expected an array of device objects");
  if (document.empty()) throw ConfigError("devices: the array lists no device");
  if (document.size() > static_cast<std::size_t>(kMaxGeneratedDevices)) {
    throw ConfigError("devices: more than " + std::to_string(kMaxGeneratedDevices) + " devices");
  }
  std::vector<DeviceState> devices;
  std::set<MacField> macs;
  for (std::size_t i = 0; i < document.size(); ++i) {
    devices.push_back(ReadDevice(document[i], i));
    if (!macs.insert(devices.back().identity.mac).second) {
      throw ConfigError("devices[" + std::to_string(i) +
                        "].mac: " + MacToText(devices.back().identity.mac) +
                        " is already used by another device");
    }
  }
  return devices;
}

std::vector<DeviceState> LoadDeviceFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw ConfigError(file.string() + ": cannot be read");
  std::ostringstream content;
  content << in.rdbuf();
  try {
    return DevicesFromJson(content.str());
  } catch (const ConfigError& error) {
    throw ConfigError(file.string() + ": " + error.what());
  }
}

}  // namespace oxlo::sim
