// Talks to devices: port 2057 on every local address, messages broadcast to
// the LAN, and each device's replies kept in arrival order for the
// conversation with it. The command line and the configuration window alike.
#pragma once

#include <bitset>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "protocol/wire/bytes.h"
#include "transport/sockets/endpoint.h"

namespace oxlo::transport {

class DeviceSession;

// One endpoint that many conversations share, one per device at a time: each
// datagram goes to the session of the MAC it carries, so one process talks
// to many devices at once over port 2057.
class DeviceLine {
 public:
  // `binding` is port 2057 on every address but in tests ...
  explicit DeviceLine(Binding binding = {"", kDevicePort});
  // ... or any endpoint, not yet open, such as a window's.
  explicit DeviceLine(std::unique_ptr<DatagramEndpoint> endpoint);
  ~DeviceLine();
  DeviceLine(const DeviceLine&) = delete;
  DeviceLine& operator=(const DeviceLine&) = delete;

  // Binds the port; throws SocketError when it is held.
  void Open();
  void Close();
  bool IsOpen() const;
  // The port bound; 0 while closed.
  std::uint16_t Port() const;
  // To 255.255.255.255:2057.
  void Broadcast(ByteView message);
  // Tests: what would be broadcast goes to this loopback peer instead.
  void BroadcastTo(std::string host, std::uint16_t port) {
    peer_host_ = std::move(host);
    peer_port_ = port;
  }
  // Broadcasts the discovery query for a conversation that needs a reply to
  // one sent at or after `since`, unless another conversation sent one since
  // then: every device answers every query, so a fleet confirming many
  // devices at once shares them.
  void AskDiscovery(std::chrono::steady_clock::time_point since);

 private:
  friend class DeviceSession;
  void Attach(DeviceSession* session);
  void Detach(DeviceSession* session);
  void OnDatagram(const Datagram& datagram);

  std::mutex mutex_;  // held while a datagram is handed to a session
  std::unordered_map<std::uint64_t, DeviceSession*> sessions_;
  std::string peer_host_;
  std::uint16_t peer_port_ = 0;
  std::mutex discovery_mutex_;
  std::chrono::steady_clock::time_point last_discovery_query_{};
  // Last, so its receiving thread stops before the members it reads go.
  std::unique_ptr<DatagramEndpoint> endpoint_;
};

class DeviceSession {
 public:
  using Clock = std::chrono::steady_clock;

  // Keeps the datagrams with one of `replyCodes` whose MAC field is `mac`;
  // our own broadcasts come back to us and carry request codes, so they go.
  // Over its own line, bound to `binding` (port 2057 but in tests) ...
  DeviceSession(const MacField& mac, const std::vector<std::uint8_t>& replyCodes,
                Binding binding = {"", kDevicePort});
  // ... or over a shared one, opened by its owner; one session per MAC at a time.
  DeviceSession(DeviceLine& line, const MacField& mac, const std::vector<std::uint8_t>& replyCodes);
  ~DeviceSession();
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  const MacField& Mac() const { return mac_; }
  // Starts taking replies (and binds its own line); throws
  // SocketError when the port is held.
  void Open();
  void Close();
  // The port bound; 0 while closed.
  std::uint16_t Port() const;
  // To 255.255.255.255:2057.
  void Broadcast(ByteView message);
  // The line's AskDiscovery.
  void AskDiscovery(Clock::time_point since) { line_.AskDiscovery(since); }
  // Hands each reply, with when it arrived, to `sink` on the receiving
  // thread instead of keeping it for Next(). Set before Open().
  using ReplySink = std::function<void(const Datagram&)>;
  void SetReplySink(ReplySink sink) { sink_ = std::move(sink); }
  // Forgets the replies that have arrived, so the next one answers what is sent next.
  void Discard();
  // The oldest reply not yet taken; nullopt once `deadline` passes without one.
  std::optional<Bytes> Next(Clock::time_point deadline);
  // Whether a reply for us came that was larger than the endpoint takes
  // (kReceiveBufferSize): it never reaches Next().
  bool OversizeReplyArrived();
  // Replies kept for Next() at most; beyond, the oldest go (see Take).
  static constexpr std::size_t kMaxPendingReplies = 4096;

 private:
  friend class DeviceLine;
  // A datagram carrying our MAC, on the line's receiving thread.
  void Take(const Datagram& datagram);

  MacField mac_;
  std::bitset<256> codes_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<Bytes> replies_;
  bool oversize_ = false;
  bool attached_ = false;
  ReplySink sink_;
  std::unique_ptr<DeviceLine> own_line_;
  DeviceLine& line_;
};

}  // namespace oxlo::transport
