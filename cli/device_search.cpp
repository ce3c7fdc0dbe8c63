#include "cli/device_search.h"

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
  {
    std::lock_guard lock(mutex_);
    sent_at_ = std::chrono::steady_clock::now();
  }
  endpoint_.Broadcast(BuildDiscoveryQuery(), kDevicePort);
}

void DeviceSearch::AskHost(const std::string& address) {
  endpoint_.SetBroadcastEnabled(false);
  {
    std::lock_guard lock(mutex_);
    sent_at_ = std::chrono::steady_clock::now();
  }
  endpoint_.SendTo(address, kDevicePort, BuildDiscoveryQuery());
}

std::vector<DeviceRecord> DeviceSearch::Collect(std::chrono::milliseconds timeout) {
  std::this_thread::sleep_for(timeout);
  std::lock_guard lock(mutex_);
  return devices_;
}

void DeviceSearch::Forget() {
  std::lock_guard lock(mutex_);
  macs_.clear();
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
  std::optional<DeviceRecord> record = ParseDiscoveryReply(datagram.data);
  if (!record) return;
  std::lock_guard lock(mutex_);
  if (devices_.size() >= kMaxDevices) {
    if (macs_.count(record->mac) == 0) ++ignored_;
    return;
  }
  if (!macs_.insert(record->mac).second) return;
  devices_.push_back(std::move(*record));
  last_arrival_ = std::chrono::steady_clock::now();
}

}  // namespace oxlo::cli
