// Talks to one device: port 2057 on every local address, messages broadcast
// to the LAN, and the device's replies kept in arrival order.
#pragma once

#include <bitset>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "protocol/bytes.h"
#include "transport/endpoint.h"

namespace oxlo::cli {

class DeviceSession {
 public:
  using Clock = std::chrono::steady_clock;

  // Keeps the datagrams with one of `replyCodes` whose MAC field is `mac`;
  // our own broadcasts come back to us and carry request codes, so they go.
  // `binding` is port 2057 on every address but in tests.
  DeviceSession(const MacField& mac, const std::vector<std::uint8_t>& replyCodes,
                transport::Binding binding = {"", kDevicePort});
  ~DeviceSession();
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  // Binds port 2057; throws transport::SocketError when it is held.
  void Open();
  void Close();
  // The port bound; 0 while closed.
  std::uint16_t Port() const;
  // To 255.255.255.255:2057.
  void Broadcast(ByteView message);
  // Hands each reply to `sink` on the receiving thread instead of keeping it
  // for Next(). Set before Open().
  void SetReplySink(std::function<void(const Bytes&)> sink) { sink_ = std::move(sink); }
  // Forgets the replies that have arrived, so the next one answers what is sent next.
  void Discard();
  // The oldest reply not yet taken; nullopt once `deadline` passes without one.
  std::optional<Bytes> Next(Clock::time_point deadline);
  // Whether a reply for us came that was larger than the endpoint takes
  // (transport::kReceiveBufferSize): it never reaches Next().
  bool OversizeReplyArrived();
  // Replies kept for Next() at most; beyond, the oldest go (see OnDatagram).
  static constexpr std::size_t kMaxPendingReplies = 4096;

 private:
  void OnDatagram(const transport::Datagram& datagram);

  MacField mac_;
  std::bitset<256> codes_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<Bytes> replies_;
  bool oversize_ = false;
  std::function<void(const Bytes&)> sink_;
  // Last, so its receiving thread stops before the members it fills go.
  transport::Endpoint endpoint_;
};

}  // namespace oxlo::cli
