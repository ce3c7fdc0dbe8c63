// UDP endpoints: bound datagram sockets with one receiving thread each.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "protocol/network/host_network.h"
#include "protocol/wire/bytes.h"
#include "transport/descriptor.h"

namespace oxlo::transport {

// Every socket failure that reaches an operator action, with its message:
// "Could not bind socket. Address and port are already in use.",
// "Package Size Too Big.", "Not all bytes sent.", "The endpoint is not open."
// or "Socket Error # %d\r\n%s".
class SocketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  static SocketError FromErrno(int error);
};

using oxlo::kBroadcastAddress;
inline constexpr char kEndpointNotOpen[] = "The endpoint is not open.";
inline constexpr std::size_t kReceiveBufferSize = 8192;
inline constexpr int kReceiveWaitMs = 1000;
// Kernel receive buffer for endpoints that collect discovery replies: room
// for thousands of devices answering one broadcast at once.
inline constexpr int kBurstReceiveBuffer = 8 * 1024 * 1024;

struct Binding {
  std::string address;     // empty: every local address
  std::uint16_t port = 0;  // 0: chosen by the system
};

struct Datagram {
  Bytes data;
  std::string sourceAddress;
  std::uint16_t sourcePort = 0;
  Binding receivedOn;  // the local binding, with the port actually bound
  // Larger than kReceiveBufferSize: `data` is only its start. Delivered only
  // by endpoints that ask for it (Endpoint::DeliverOversize).
  bool truncated = false;
  // Where it came in: the interface and this computer's address on it (for a
  // broadcast, the interface's address). Empty where the system does not say.
  int interfaceIndex = 0;
  std::string interfaceName{};
  std::string localAddress{};
  // The address it was sent to: ours, or a broadcast address.
  std::string destinationAddress{};
  // When it reached this computer, by the system's stamp; none where the
  // system does not say. It may have waited in the socket long after.
  std::optional<std::chrono::system_clock::time_point> arrived{};
};

using ReadHandler = std::function<void(const Datagram&)>;

// What a window needs of an endpoint; lets window tests run without sockets.
class DatagramEndpoint {
 public:
  virtual ~DatagramEndpoint() = default;
  virtual void SetDefaultPort(std::uint16_t port) = 0;
  virtual void SetBroadcastEnabled(bool enabled) = 0;
  // The handler runs on the receiving thread. Set while inactive.
  virtual void SetReadHandler(ReadHandler handler) = 0;
  virtual void Open() = 0;
  virtual void Close() = 0;
  virtual bool IsActive() const = 0;
  // The binding sends leave from, with its actual port; nullopt while inactive.
  virtual std::optional<Binding> CurrentBinding() const = 0;
  // Both throw SocketError(kEndpointNotOpen) while inactive: a send never
  // opens the endpoint behind its owner's back.
  virtual void Broadcast(ByteView data, std::uint16_t port) = 0;
  virtual void SendTo(std::string_view host, std::uint16_t port, ByteView data) = 0;
  // Only datagrams with one of these command codes (byte 1) are received;
  // the others, our own broadcasts among them, are dropped by the kernel.
  // Empty: all. Set while inactive.
  virtual void SetAcceptedCodes(std::vector<std::uint8_t> codes) = 0;
};

// Sends one datagram as a broadcast out of every local interface.
class InterfaceBroadcaster {
 public:
  virtual ~InterfaceBroadcaster() = default;
  virtual void SendOnEveryInterface(ByteView data, std::uint16_t port) = 0;
};

class Endpoint final : public DatagramEndpoint {
 public:
  explicit Endpoint(std::vector<Binding> bindings = {});
  ~Endpoint() override;
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  void SetDefaultPort(std::uint16_t port) override;
  void SetBroadcastEnabled(bool enabled) override;

  void SetReadHandler(ReadHandler handler) override;

  // Asks the kernel for a receive buffer of this many bytes at the next
  // activation, so a burst of replies is not dropped.
  void SetSocketReceiveBuffer(int bytes);
  // A datagram larger than kReceiveBufferSize is dropped, unless this is on:
  // then it is delivered cut to that size and marked `truncated`, so its
  // owner can tell the operator. Set while inactive.
  void DeliverOversize(bool on) { deliver_oversize_ = on; }
  void SetAcceptedCodes(std::vector<std::uint8_t> codes) override {
    accepted_codes_ = std::move(codes);
  }

  void Open() override;
  void Close() override;
  bool IsActive() const override;

  void Broadcast(ByteView data, std::uint16_t port) override;
  void SendTo(std::string_view host, std::uint16_t port, ByteView data) override;

  const std::vector<Binding>& Bindings() const { return bindings_; }
  std::optional<Binding> CurrentBinding() const override;
  // The broadcast option of the current socket as the kernel has it.
  bool SocketBroadcastOption() const;

 private:
  struct Socket;

  Socket OpenSocket(const Binding& binding) const;
  // The socket sends leave from; throws while inactive.
  int SendingDescriptor() const;
  void SetBroadcastOption(int fd, bool on) const;
  void CloseDescriptors();
  void SendDatagram(int fd, const std::string& address, std::uint16_t port, ByteView data);
  void ReceiveLoop();
  void Deliver(Datagram datagram);

  std::vector<Binding> bindings_;
  std::uint16_t default_port_ = 0;
  bool broadcast_enabled_ = true;
  int socket_receive_buffer_ = 0;
  bool deliver_oversize_ = false;
  std::vector<std::uint8_t> accepted_codes_;
  ReadHandler handler_;

  std::vector<Socket> sockets_;
  Descriptor wake_read_;
  Descriptor wake_write_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> active_{false};
  std::thread thread_;
};

// One endpoint per local address, each bound to that address and a system
// port, so one datagram can be broadcast out of every interface. Each opens
// at its first send and stays open until the set is destroyed.
class EveryInterface final : public InterfaceBroadcaster {
 public:
  explicit EveryInterface(const std::vector<std::string>& localAddresses);
  // Broadcasts through each endpoint in order; stops at the first failure.
  void SendOnEveryInterface(ByteView data, std::uint16_t port) override;
  std::size_t Size() const { return endpoints_.size(); }
  Endpoint& At(std::size_t i) { return *endpoints_.at(i); }

 private:
  std::vector<std::unique_ptr<Endpoint>> endpoints_;
  // Many uploads send from several threads; each endpoint opens once.
  std::mutex open_mutex_;
};

// The IPv4 interfaces that are up, loopback excluded, in the platform's
// order, with their names and prefixes. A socket bound to 127.0.0.1 cannot
// broadcast.
std::vector<HostInterface> HostInterfaces();
// Their addresses.
std::vector<std::string> LocalAddresses();

// "localhost" in any case is 127.0.0.1; a dotted quad is used unchanged; the
// empty text is the first local address; anything else is looked up.
// Throws SocketError when the lookup fails.
std::string ResolveHost(std::string_view host);

}  // namespace oxlo::transport
