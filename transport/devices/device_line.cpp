#include "transport/devices/device_line.h"

#include <stdexcept>

#include "protocol/wire/discovery.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/frame.h"

namespace oxlo::transport {

namespace {

std::unique_ptr<DatagramEndpoint> SocketFor(Binding binding) {
  auto endpoint = std::make_unique<Endpoint>(std::vector<Binding>{std::move(binding)});
  endpoint->DeliverOversize(true);
  // Many devices answer at once in a fleet run.
  endpoint->SetSocketReceiveBuffer(kBurstReceiveBuffer);
  return endpoint;
}

}  // namespace

DeviceLine::DeviceLine(Binding binding) : DeviceLine(SocketFor(std::move(binding))) {}

DeviceLine::DeviceLine(std::unique_ptr<DatagramEndpoint> endpoint)
    : endpoint_(std::move(endpoint)) {
  endpoint_->SetBroadcastEnabled(true);
  endpoint_->SetReadHandler([this](const Datagram& d) { OnDatagram(d); });
}

DeviceLine::~DeviceLine() {
  Close();
}

bool DeviceLine::IsOpen() const {
  return endpoint_->IsActive();
}

void DeviceLine::Open() {
  endpoint_->Open();
}

void DeviceLine::Close() {
  endpoint_->Close();
}

std::uint16_t DeviceLine::Port() const {
  const std::optional<Binding> bound = endpoint_->CurrentBinding();
  return bound ? bound->port : 0;
}

void DeviceLine::Broadcast(ByteView message) {
  if (!peer_host_.empty()) {
    endpoint_->SendTo(peer_host_, peer_port_, message);
    return;
  }
  endpoint_->Broadcast(message, kDevicePort);
}

void DeviceLine::AskDiscovery(std::chrono::steady_clock::time_point since) {
  std::lock_guard lock(discovery_mutex_);
  if (last_discovery_query_ >= since) return;
  last_discovery_query_ = std::chrono::steady_clock::now();
  Broadcast(BuildDiscoveryQuery());
}

void DeviceLine::Attach(DeviceSession* session) {
  std::lock_guard lock(mutex_);
  if (!sessions_.emplace(MacKey(session->mac_), session).second) {
    throw std::logic_error("two conversations with one device at once");
  }
}

void DeviceLine::Detach(DeviceSession* session) {
  std::lock_guard lock(mutex_);
  const auto it = sessions_.find(MacKey(session->mac_));
  if (it != sessions_.end() && it->second == session) sessions_.erase(it);
}

void DeviceLine::OnDatagram(const Datagram& datagram) {
  // A cut datagram has no ETX, but its start still says whose it is.
  const std::optional<MacField> mac = MacOf(datagram.data);
  if (!mac) return;
  std::lock_guard lock(mutex_);
  const auto it = sessions_.find(MacKey(*mac));
  if (it != sessions_.end()) it->second->Take(datagram);
}

DeviceSession::DeviceSession(const MacField& mac, const std::vector<std::uint8_t>& replyCodes,
                             Binding binding)
    : mac_(mac), own_line_(std::make_unique<DeviceLine>(std::move(binding))), line_(*own_line_) {
  for (std::uint8_t c : replyCodes) codes_.set(c);
}

DeviceSession::DeviceSession(DeviceLine& line, const MacField& mac,
                             const std::vector<std::uint8_t>& replyCodes)
    : mac_(mac), line_(line) {
  for (std::uint8_t c : replyCodes) codes_.set(c);
}

DeviceSession::~DeviceSession() {
  Close();
}

void DeviceSession::Open() {
  if (attached_) return;
  line_.Attach(this);
  attached_ = true;
  if (own_line_) {
    try {
      own_line_->Open();
    } catch (...) {
      Close();
      throw;
    }
  }
}

void DeviceSession::Close() {
  // Once detached, no receiving thread is inside Take().
  if (own_line_) own_line_->Close();
  if (attached_) line_.Detach(this);
  attached_ = false;
}

std::uint16_t DeviceSession::Port() const {
  return line_.Port();
}

void DeviceSession::Broadcast(ByteView message) {
  line_.Broadcast(message);
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

void DeviceSession::Take(const Datagram& datagram) {
  if (datagram.truncated) {
    const Bytes& start = datagram.data;
    if (start.size() > kCodeOffset && codes_.test(start[kCodeOffset])) {
      std::lock_guard lock(mutex_);
      oversize_ = true;
    }
    return;
  }
  const std::optional<std::uint8_t> replyCode = AcceptDatagram(datagram.data);
  if (!replyCode || !codes_.test(*replyCode)) return;
  if (sink_) {
    sink_(datagram);
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

}  // namespace oxlo::transport
