#include "cli/device_search.h"

#include <thread>

#include "protocol/wire/frame.h"

namespace oxlo::cli {

DeviceSearch::DeviceSearch()
    : endpoint_({transport::Binding{"", kDevicePort}}), devices_(kMaxDevices) {
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
  return devices_.List();
}

void DeviceSearch::Forget() {
  std::lock_guard lock(mutex_);
  devices_.Clear();
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
  switch (devices_.Add(std::move(*record), datagram.interfaceName, datagram.localAddress)) {
    case SeenDevices::Sighting::kNew:
      last_arrival_ = std::chrono::steady_clock::now();
      break;
    case SeenDevices::Sighting::kIgnored:
      ++ignored_;
      break;
    case SeenDevices::Sighting::kNewInterface:
    case SeenDevices::Sighting::kAgain:
      break;
  }
}

}  // namespace oxlo::cli
