// Test doubles for the seams of the windows: a prompter that records what it
// showed and answers from a script, a desktop that records, and an in-process
// network that records every datagram sent and delivers replies on demand.
#pragma once

#include <QString>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ui/common/desktop.h"
#include "ui/common/network.h"
#include "ui/common/pacer.h"
#include "ui/common/prompter.h"

// GoogleTest shows QStrings as text.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace oxlo::ui::testing {

class RecordingPrompter final : public Prompter {
 public:
  void ShowMessage(QWidget* parent, const QString& text) override;
  Answer AskYesNoCancel(QWidget* parent, const QString& text) override;
  Answer AskYesNo(QWidget* parent, const QString& text) override;
  std::optional<QString> OpenFile(QWidget* parent, const FileDialogOptions& options) override;
  std::optional<QString> SaveFile(QWidget* parent, const FileDialogOptions& options) override;

  std::vector<QString> messages;  // every text shown, in order
  // The buttons of each question asked, in order: "Yes/No" or "Yes/No/Cancel".
  std::vector<QString> choices;
  // Runs while a message shows, as the operator reads it: a test may spin
  // an event loop here as a modal box does.
  std::function<void(const QString&)> while_shown;
  std::vector<FileDialogOptions> dialogs;
  std::deque<Answer> answers;  // default Cancel (No for a yes/no question) when empty
  std::deque<QString> files;   // an empty path, or none left, cancels
};

class RecordingDesktop final : public Desktop {
 public:
  void StartCommand(const QString& program, const QStringList& arguments) override;
  void OpenUrl(const QString& url) override;

  std::vector<QStringList> commands;  // program first
  std::vector<QString> urls;
};

class RecordingPacer final : public Pacer {
 public:
  void Pause(int milliseconds) override { pauses.push_back(milliseconds); }
  std::vector<int> pauses;
};

struct SentDatagram {
  std::string sender;  // "device" (port 2057 endpoint) or "every-interface"
  std::string host;    // destination; "255.255.255.255" for a broadcast
  std::uint16_t port = 0;
  Bytes data;
  int copy = 0;  // which local address sent it, for every-interface sends
  std::chrono::steady_clock::time_point at{};  // when it was sent
};

class FakeEndpoint;

class FakeNetwork final : public Network {
 public:
  ~FakeNetwork() override;
  std::unique_ptr<transport::DatagramEndpoint> MakeDeviceEndpoint() override;
  std::unique_ptr<transport::InterfaceBroadcaster> MakeEveryInterface() override;
  std::vector<HostInterface> HostInterfaces() override;
  // None unless a test gives some.
  void SetHostInterfaces(std::vector<HostInterface> interfaces);
  // Answers probes as a link would; unset, as the base network does.
  using Prober = std::function<ProbeFinding(const ProbeRequest&)>;
  void SetProber(Prober prober) { prober_ = std::move(prober); }
  std::vector<ProbeFinding> ProbeAddresses(const std::vector<ProbeRequest>& requests) override;
  std::vector<ProbeRequest> probes_asked;
  int probe_batches = 0;  // calls of ProbeAddresses: the window waits for each

  // Hands the datagram to every open device endpoint from a separate thread,
  // as a receiving thread would, and returns once the handlers have run; from
  // within a responder, on the sending thread itself. `interfaceName`: the
  // host interface it came in on, none when empty. `arrived`: the system's
  // stamp of when it reached this computer, none unless given.
  void Deliver(const Bytes& data, const std::string& source = "10.57.0.2",
               const std::string& interfaceName = "",
               std::optional<std::chrono::system_clock::time_point> arrived = std::nullopt);

  std::vector<SentDatagram> Sent() const;
  void ClearSent();
  // Makes the next broadcast fail with this socket error text.
  void FailNextSend(const std::string& text);
  // The broadcast option of the last device endpoint when it last sent.
  bool LastSendBroadcastOption() const;
  // Answers sends as a device would: the reply, if any, is delivered to the
  // open device endpoints before the send returns, on the sending thread. The device sits behind
  // the first local address: it sees one copy of an every-interface send.
  using Responder = std::function<std::optional<Bytes>(const SentDatagram&)>;
  void SetResponder(Responder responder) { responder_ = std::move(responder); }
  // Both local addresses on the device's network: it sees, and answers, both
  // copies of an every-interface send.
  void SetDeviceSeesEveryCopy(bool on) { device_sees_every_copy_ = on; }

 private:
  friend class FakeEndpoint;
  void Record(SentDatagram datagram, bool broadcastOption);
  void Opened(FakeEndpoint* endpoint);
  void Closed(FakeEndpoint* endpoint);
  void Destroyed(FakeEndpoint* endpoint);

  mutable std::mutex mutex_;
  std::vector<FakeEndpoint*> endpoints_;
  std::vector<FakeEndpoint*> open_;
  std::vector<SentDatagram> sent_;
  std::string fail_next_;
  bool last_broadcast_option_ = false;
  Responder responder_;
  bool device_sees_every_copy_ = false;
  std::vector<HostInterface> host_interfaces_;
  Prober prober_;
};

// An 85-byte discovery reply as a device sends it.
Bytes DiscoveryReply(const std::string& model, const std::string& mac, const std::string& version,
                     const std::string& name, const std::string& ip,
                     const std::string& mask = "255.255.255.0",
                     const std::string& gateway = "10.57.0.1");

}  // namespace oxlo::ui::testing
