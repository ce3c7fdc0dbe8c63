#include "cli/device_session.h"

#include "protocol/frame.h"

namespace oxlo::cli {

DeviceSession::DeviceSession(const MacField& mac, const std::vector<std::uint8_t>& replyCodes)
    : mac_(mac), endpoint_({transport::Binding{"", kDevicePort}}) {
  for (std::uint8_t c : replyCodes) codes_.set(c);
  endpoint_.SetBroadcastEnabled(true);
  endpoint_.SetReadHandler([this](const transport::Datagram& d) { OnDatagram(d); });
}

DeviceSession::~DeviceSession() {
  Close();
}

void DeviceSession::Open() {
  endpoint_.Open();
}

void DeviceSession::Close() {
  endpoint_.Close();
}

void DeviceSession::Broadcast(ByteView message) {
  endpoint_.Broadcast(message, kDevicePort);
}

void DeviceSession::Discard() {
  std::lock_guard lock(mutex_);
  replies_.clear();
}

std::optional<Bytes> DeviceSession::Next(Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  if (!arrived_.wait_until(lock, deadline, [this] { return !replies_.empty(); })) {
    return std::nullopt;
  }
  Bytes reply = std::move(replies_.front());
  replies_.pop_front();
  return reply;
}

void DeviceSession::OnDatagram(const transport::Datagram& datagram) {
  const std::optional<std::uint8_t> replyCode = AcceptDatagram(datagram.data);
  if (!replyCode || !codes_.test(*replyCode) || MacOf(datagram.data) != mac_) return;
  if (sink_) {
    sink_(datagram.data);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    replies_.push_back(datagram.data);
  }
  arrived_.notify_one();
}

}  // namespace oxlo::cli
