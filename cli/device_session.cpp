#include "cli/device_session.h"

#include "protocol/frame.h"

namespace oxlo::cli {

DeviceSession::DeviceSession(const MacField& mac, const std::vector<std::uint8_t>& replyCodes,
                             transport::Binding binding)
    : mac_(mac), endpoint_({std::move(binding)}) {
  for (std::uint8_t c : replyCodes) codes_.set(c);
  endpoint_.SetBroadcastEnabled(true);
  endpoint_.DeliverOversize(true);
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

std::uint16_t DeviceSession::Port() const {
  const std::optional<transport::Binding> bound = endpoint_.CurrentBinding();
  return bound ? bound->port : 0;
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

bool DeviceSession::OversizeReplyArrived() {
  std::lock_guard lock(mutex_);
  return oversize_;
}

void DeviceSession::OnDatagram(const transport::Datagram& datagram) {
  if (datagram.truncated) {
    // Only its start is here, no ETX: the code and MAC still say whose it is.
    const Bytes& start = datagram.data;
    if (start.size() > kCodeOffset && codes_.test(start[kCodeOffset]) && MacOf(start) == mac_) {
      std::lock_guard lock(mutex_);
      oversize_ = true;
    }
    return;
  }
  const std::optional<std::uint8_t> replyCode = AcceptDatagram(datagram.data);
  if (!replyCode || !codes_.test(*replyCode) || MacOf(datagram.data) != mac_) return;
  if (sink_) {
    sink_(datagram.data);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    // A flood of replies must not grow without end. The oldest go: each
    // reply answers what was sent last, and the one a caller waits for is
    // the newest when it comes.
    if (replies_.size() >= kMaxPendingReplies) replies_.pop_front();
    replies_.push_back(datagram.data);
  }
  arrived_.notify_one();
}

}  // namespace oxlo::cli
