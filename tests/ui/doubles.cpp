#include "tests/ui/doubles.h"

#include <algorithm>
#include <thread>

#include "protocol/wire/device_side.h"
#include "protocol/wire/fields.h"

namespace oxlo::ui::testing {

void RecordingPrompter::ShowMessage(QWidget*, const QString& text) {
  messages.push_back(text);
  if (while_shown) while_shown(text);
}

Answer RecordingPrompter::AskYesNoCancel(QWidget*, const QString& text) {
  messages.push_back(text);
  choices.push_back("Yes/No/Cancel");
  if (answers.empty()) return Answer::Cancel;
  const Answer answer = answers.front();
  answers.pop_front();
  return answer;
}

Answer RecordingPrompter::AskYesNo(QWidget*, const QString& text) {
  messages.push_back(text);
  choices.push_back("Yes/No");
  if (answers.empty()) return Answer::No;
  const Answer answer = answers.front();
  answers.pop_front();
  return answer;
}

std::optional<QString> RecordingPrompter::OpenFile(QWidget*, const FileDialogOptions& options) {
  dialogs.push_back(options);
  if (files.empty()) return std::nullopt;
  const QString file = files.front();
  files.pop_front();
  if (file.isEmpty()) return std::nullopt;
  return file;
}

std::optional<QString> RecordingPrompter::SaveFile(QWidget* parent,
                                                   const FileDialogOptions& options) {
  return OpenFile(parent, options);
}

void RecordingDesktop::StartCommand(const QString& program, const QStringList& arguments) {
  commands.push_back(QStringList{program} + arguments);
}

void RecordingDesktop::OpenUrl(const QString& url) {
  urls.push_back(url);
}

// Keeps the state a real endpoint keeps and reports sends to its network.
class FakeEndpoint final : public transport::DatagramEndpoint {
 public:
  FakeEndpoint(FakeNetwork& network, std::string sender, int copy = 0)
      : network_(network), sender_(std::move(sender)), copy_(copy) {}
  ~FakeEndpoint() override { network_.Destroyed(this); }

  void SetDefaultPort(std::uint16_t port) override { default_port_ = port; }
  void SetBroadcastEnabled(bool enabled) override { broadcast_ = enabled; }
  void SetReadHandler(transport::ReadHandler handler) override { handler_ = std::move(handler); }
  void Open() override {
    if (active_) return;
    network_.Opened(this);
    active_ = true;
  }
  void Close() override {
    if (!active_) return;
    active_ = false;
    network_.Closed(this);
  }
  bool IsActive() const override { return active_; }
  std::optional<transport::Binding> CurrentBinding() const override {
    if (!active_) return std::nullopt;
    return transport::Binding{"", default_port_};
  }
  void Broadcast(ByteView data, std::uint16_t port) override {
    Send(transport::kBroadcastAddress, port, data);
  }
  void SendTo(std::string_view host, std::uint16_t port, ByteView data) override {
    Send(std::string(host), port, data);
  }

  void SetAcceptedCodes(std::vector<std::uint8_t> codes) override {
    accepted_codes_ = std::move(codes);
  }

  void Receive(const transport::Datagram& datagram) {
    if (!handler_) return;
    // As the kernel filter does: only the accepted codes come through.
    if (!accepted_codes_.empty() &&
        (datagram.data.size() < 2 || std::find(accepted_codes_.begin(), accepted_codes_.end(),
                                               datagram.data[1]) == accepted_codes_.end())) {
      return;
    }
    handler_(datagram);
  }
  std::uint16_t DefaultPort() const { return default_port_; }
  // The every-interface sockets send from system ports: replies to 2057
  // never reach them.
  bool Receives() const { return sender_ != "every-interface"; }

 private:
  // A real endpoint refuses to send while closed; so does this one.
  void Send(std::string host, std::uint16_t port, ByteView data) {
    if (!active_) throw transport::SocketError(transport::kEndpointNotOpen);
    network_.Record({sender_, std::move(host), port, Bytes(data.begin(), data.end()), copy_},
                    broadcast_);
  }

  FakeNetwork& network_;
  std::string sender_;
  int copy_;
  std::uint16_t default_port_ = 0;
  bool broadcast_ = true;
  bool active_ = false;
  transport::ReadHandler handler_;
  std::vector<std::uint8_t> accepted_codes_;
};

namespace {

class FakeEveryInterface final : public transport::InterfaceBroadcaster {
 public:
  explicit FakeEveryInterface(FakeNetwork& network) : network_(network) {}
  void SendOnEveryInterface(ByteView data, std::uint16_t port) override {
    // Two local addresses, so a test sees each message twice.
    for (int i = 0; i < 2; ++i) {
      FakeEndpoint endpoint(network_, "every-interface", i);
      endpoint.Open();
      endpoint.Broadcast(data, port);
    }
  }

 private:
  FakeNetwork& network_;
};

}  // namespace

FakeNetwork::~FakeNetwork() = default;

std::unique_ptr<transport::DatagramEndpoint> FakeNetwork::MakeDeviceEndpoint() {
  auto endpoint = std::make_unique<FakeEndpoint>(*this, "device");
  endpoint->SetDefaultPort(kDevicePort);
  std::lock_guard lock(mutex_);
  endpoints_.push_back(endpoint.get());
  return endpoint;
}

std::unique_ptr<transport::InterfaceBroadcaster> FakeNetwork::MakeEveryInterface() {
  return std::make_unique<FakeEveryInterface>(*this);
}

namespace {
// Set while a responder answers a send on this thread.
thread_local bool t_answering_send = false;
}  // namespace

std::vector<HostInterface> FakeNetwork::HostInterfaces() {
  std::lock_guard lock(mutex_);
  return host_interfaces_;
}

std::vector<ProbeFinding> FakeNetwork::ProbeAddresses(const std::vector<ProbeRequest>& requests) {
  if (!prober_) return Network::ProbeAddresses(requests);
  ++probe_batches;
  std::vector<ProbeFinding> found;
  for (const ProbeRequest& r : requests) {
    probes_asked.push_back(r);
    found.push_back(prober_(r));
  }
  return found;
}

void FakeNetwork::SetHostInterfaces(std::vector<HostInterface> interfaces) {
  std::lock_guard lock(mutex_);
  host_interfaces_ = std::move(interfaces);
}

void FakeNetwork::Deliver(const Bytes& data, const std::string& source,
                          const std::string& interfaceName,
                          std::optional<std::chrono::system_clock::time_point> arrived) {
  std::vector<FakeEndpoint*> receivers;
  transport::Datagram datagram{data, source, kDevicePort, {"", kDevicePort}};
  datagram.arrived = arrived;
  {
    std::lock_guard lock(mutex_);
    for (FakeEndpoint* endpoint : open_) {
      if (endpoint->Receives()) receivers.push_back(endpoint);
    }
    datagram.interfaceName = interfaceName;
    for (const HostInterface& i : host_interfaces_) {
      if (i.name == interfaceName) datagram.localAddress = AddressText(i.address);
    }
  }
  const auto receive = [&] {
    for (FakeEndpoint* endpoint : receivers) endpoint->Receive(datagram);
  };
  if (t_answering_send) {
    receive();
    return;
  }
  std::thread receiving(receive);
  receiving.join();
}

std::vector<SentDatagram> FakeNetwork::Sent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

void FakeNetwork::ClearSent() {
  std::lock_guard lock(mutex_);
  sent_.clear();
}

void FakeNetwork::FailNextSend(const std::string& text) {
  std::lock_guard lock(mutex_);
  fail_next_ = text;
}

bool FakeNetwork::LastSendBroadcastOption() const {
  std::lock_guard lock(mutex_);
  return last_broadcast_option_;
}

void FakeNetwork::Record(SentDatagram datagram, bool broadcastOption) {
  {
    std::lock_guard lock(mutex_);
    if (!fail_next_.empty()) {
      const std::string text = std::exchange(fail_next_, {});
      throw transport::SocketError(text);
    }
    if (datagram.sender == "device") last_broadcast_option_ = broadcastOption;
    datagram.at = std::chrono::steady_clock::now();
    sent_.push_back(datagram);
  }
  if (!responder_ || (datagram.copy != 0 && !device_sees_every_copy_)) return;
  // The sender is still in its send: a thread that waited for it to finish
  // would wait for ever, so the answer arrives on the sending thread.
  t_answering_send = true;
  struct Reset {
    ~Reset() { t_answering_send = false; }
  } reset;
  if (const std::optional<Bytes> reply = responder_(datagram)) Deliver(*reply);
}

void FakeNetwork::Opened(FakeEndpoint* endpoint) {
  std::lock_guard lock(mutex_);
  // Endpoints on the device port hold it exclusively, as real ones do.
  if (endpoint->DefaultPort() == kDevicePort) {
    for (FakeEndpoint* other : open_) {
      if (other->DefaultPort() == kDevicePort) {
        throw transport::SocketError("Could not bind socket. Address and port are already in use.");
      }
    }
  }
  open_.push_back(endpoint);
}

void FakeNetwork::Closed(FakeEndpoint* endpoint) {
  std::lock_guard lock(mutex_);
  std::erase(open_, endpoint);
}

void FakeNetwork::Destroyed(FakeEndpoint* endpoint) {
  std::lock_guard lock(mutex_);
  std::erase(open_, endpoint);
  std::erase(endpoints_, endpoint);
}

Bytes DiscoveryReply(const std::string& model, const std::string& mac, const std::string& version,
                     const std::string& name, const std::string& ip, const std::string& mask,
                     const std::string& gateway) {
  DeviceIdentity device;
  device.mac = MacToBytes(mac);
  device.ip = Ipv4ToBytes(ip);
  device.mask = Ipv4ToBytes(mask);
  device.gateway = Ipv4ToBytes(gateway);
  device.name = name;
  device.version = version;
  device.model = model;
  return BuildDiscoveryReply(device);
}

}  // namespace oxlo::ui::testing
