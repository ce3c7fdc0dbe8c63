#include "cli/device_search.h"

#include <algorithm>
#include <thread>

#include "protocol/frame.h"

namespace oxlo::cli {

DeviceSearch::DeviceSearch() : endpoint_({transport::Binding{"", kDevicePort}}) {
  endpoint_.SetSocketReceiveBuffer(transport::kBurstReceiveBuffer);
  endpoint_.SetReadHandler([this](const transport::Datagram& d) { OnDatagram(d); });
}

void DeviceSearch::Open() {
  endpoint_.Open();
}

void DeviceSearch::Broadcast() {
  endpoint_.SetBroadcastEnabled(true);
  std::vector<std::string> from;
  for (const HostInterface& host : transport::HostInterfaces()) {
    if (interface_.empty() || host.name == interface_) from.push_back(AddressText(host.address));
  }
  if (!interface_.empty() && from.empty()) {
    throw transport::SocketError("no interface " + interface_ + " with an IPv4 address is up");
  }
  {
    std::lock_guard lock(mutex_);
    sent_at_ = std::chrono::steady_clock::now();
  }
  if (from.empty()) {
    // No adapter to name: the system's route decides, or says why it cannot.
    endpoint_.Broadcast(BuildDiscoveryQuery(), kDevicePort);
    return;
  }
  transport::EveryInterface(from).SendOnEveryInterface(BuildDiscoveryQuery(), kDevicePort);
}

void DeviceSearch::AskHost(const std::string& address) {
  endpoint_.SetBroadcastEnabled(false);
  {
    std::lock_guard lock(mutex_);
    sent_at_ = std::chrono::steady_clock::now();
  }
  endpoint_.SendTo(address, kDevicePort, BuildDiscoveryQuery());
}

std::vector<SeenDevice> DeviceSearch::Collect(std::chrono::milliseconds timeout) {
  std::this_thread::sleep_for(timeout);
  std::lock_guard lock(mutex_);
  return devices_;
}

void DeviceSearch::Forget() {
  std::lock_guard lock(mutex_);
  index_of_mac_.clear();
  devices_.clear();
  ignored_ = 0;
  last_arrival_.reset();
}

void DeviceSearch::Close() {
  endpoint_.Close();
}

std::size_t DeviceSearch::IgnoredReplies() const {
  std::lock_guard lock(mutex_);
  return ignored_;
}

std::optional<std::chrono::microseconds> DeviceSearch::LastArrival() const {
  std::lock_guard lock(mutex_);
  if (!last_arrival_) return std::nullopt;
  return std::chrono::duration_cast<std::chrono::microseconds>(*last_arrival_ - sent_at_);
}

void DeviceSearch::OnDatagram(const transport::Datagram& datagram) {
  if (AcceptDatagram(datagram.data) != code::kDiscovery) return;
  if (!interface_.empty() && datagram.interfaceName != interface_) return;
  std::optional<DeviceRecord> record = ParseDiscoveryReply(datagram.data);
  if (!record) return;
  std::lock_guard lock(mutex_);
  const auto known = index_of_mac_.find(record->mac);
  if (known != index_of_mac_.end()) {
    // The same device through another adapter: bridged or looped networks.
    std::vector<std::string>& seenOn = devices_[known->second].interfaces;
    if (!datagram.interfaceName.empty() &&
        std::find(seenOn.begin(), seenOn.end(), datagram.interfaceName) == seenOn.end()) {
      seenOn.push_back(datagram.interfaceName);
    }
    return;
  }
  if (devices_.size() >= kMaxDevices) {
    ++ignored_;
    return;
  }
  index_of_mac_.emplace(record->mac, devices_.size());
  SeenDevice device;
  device.record = std::move(*record);
  if (!datagram.interfaceName.empty()) device.interfaces.push_back(datagram.interfaceName);
  device.localAddress = datagram.localAddress;
  devices_.push_back(std::move(device));
  last_arrival_ = std::chrono::steady_clock::now();
}

}  // namespace oxlo::cli
