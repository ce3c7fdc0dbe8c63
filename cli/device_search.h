// Finds devices with the discovery query, as the device list's Search does.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "protocol/network/diagnosis.h"
#include "protocol/wire/discovery.h"
#include "transport/sockets/endpoint.h"

namespace oxlo::cli {

// The main endpoint: port 2057 on every local address. Replies are kept once
// per MAC, in arrival order, with every interface they came in on, for at
// most kMaxDevices MACs: a flood of spoofed replies must not take all
// memory. Replies from further MACs are counted and dropped.
class DeviceSearch {
 public:
  static constexpr std::size_t kMaxDevices = 10000;

  DeviceSearch();

  // Only replies that came in on this interface count, and broadcasts
  // leave through it only. Set before Open().
  void KeepToInterface(std::string name) { interface_ = std::move(name); }

  // Binds port 2057; throws transport::SocketError when it is held.
  void Open();
  // Broadcasts the query out of each local interface (or the one kept to),
  // so devices behind every adapter answer.
  void Broadcast();
  // Sends the query to one address with broadcasting off.
  void AskHost(const std::string& address);
  // Waits `timeout` from now, then returns what has arrived.
  std::vector<SeenDevice> Collect(std::chrono::milliseconds timeout);
  // Forgets what was found, for a fresh search on the same endpoint.
  void Forget();
  void Close();

  // Time from the last query to the last new device, for the benchmark.
  std::optional<std::chrono::microseconds> LastArrival() const;
  // Replies from new MACs that came once the list was full, since the last Forget().
  std::size_t IgnoredReplies() const;

 private:
  void OnDatagram(const transport::Datagram& datagram);

  transport::Endpoint endpoint_;
  std::string interface_;
  mutable std::mutex mutex_;
  SeenDevices devices_;
  std::size_t ignored_ = 0;
  std::chrono::steady_clock::time_point sent_at_{};
  std::optional<std::chrono::steady_clock::time_point> last_arrival_;
};

}  // namespace oxlo::cli
