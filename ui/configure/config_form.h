// The configuration window: created once, hidden, reused for every device.
// It reads a device with eleven requests, shows its settings on four tabs,
// writes back the groups the operator changed and waits for the device to
// acknowledge that it took them into use.
#pragma once

#include <QDialog>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "protocol/conversation/device_exchange.h"
#include "protocol/conversation/settings_write.h"
#include "protocol/settings/device_settings.h"
#include "protocol/wire/can_messages.h"
#include "protocol/wire/discovery.h"
#include "protocol/wire/settings_messages.h"
#include "transport/devices/device_line.h"
#include "ui/common/datagram_inbox.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTimer;

namespace oxlo::ui {

class CanTab;
class FilterTab;
class Network;
class NetworkTab;
class OpModeTab;
class Prompter;

// The device's fixed waits; tests shorten them.
struct ConfigTiming {
  // Ticks before the acknowledgement is lost.
  int ackTicks = kAckTicks;
  int tickMs = static_cast<int>(std::chrono::milliseconds(kAckTick).count());
  // Between the eight groups of a bulk filter send.
  int bulkPaceMs = static_cast<int>(kFilterGroupPace.count());
  // After this long, read requests still unanswered are asked again.
  int readAgainMs = tickMs;
  // How long the read-back after an acknowledged Apply, and the check of
  // what the device shows, may take; the acknowledgement's wait when zero.
  int readBackMs = 0;
  // The pauses the device needs between read requests; off in tests.
  bool pacedReads = true;
  // The window's clock; tests move it on.
  std::function<std::chrono::steady_clock::time_point()> clock;
};

class TConfigForm : public QDialog {
  Q_OBJECT

 public:
  TConfigForm(Prompter& prompter, Network& network, QWidget* parent = nullptr,
              ConfigTiming timing = {});
  ~TConfigForm() override;

  // Prepares the window for a device and reads it; the caller shows it.
  // Throws the endpoint's error when port 2057 cannot be held.
  void OpenForDevice(const QString& model, const QString& mac, const QString& version);
  // Prepares the window from a settings file for the device named by the
  // texts (never the MAC stored in the file); sends nothing. Throws on a file
  // that cannot be read or decoded, or that holds a value no list has: the
  // window must then not be shown, and nothing of the window has changed.
  void OpenFromFile(const QString& path, const QString& model, const QString& mac,
                    const QString& version);
  void SendReadRequest(ReadRequestKind kind);
  // Sends the messages of one group as Apply builds them, at once, without
  // the apply command.
  void SendGroup(SettingGroup group);
  // Runs on the UI thread, one datagram at a time.
  void ConfigUDPUDPRead(const transport::Datagram& datagram);

  void FlatButton1Click();  // Apply
  void FlatButton2Click();  // Cancel
  void FlatButton9Click();  // Export
  // Steps the conversation with the device: sends what is due, ends the
  // waits whose time is up, and sets the timer for what comes next.
  void TimerExchangeTimer();
  // Every close: the window's result is OK when a setting group changed.
  void done(int result) override;

  // State kept for the program's run.
  bool ChangeFlag(SettingGroup group) const {
    return change_flags_.at(static_cast<std::size_t>(group));
  }
  void SetAllChangeFlags();
  bool FiltersImported() const { return filters_imported_; }
  void SetFiltersImported(bool on) { filters_imported_ = on; }
  int PortCount() const { return port_count_; }
  std::uint8_t EchoByte() const { return echo_byte_; }
  // Ticks until the acknowledgement is lost; 0 when none is awaited.
  int AckCountdown() const;
  // Where the conversation with the device is; none when none runs.
  std::optional<DeviceExchange::Phase> ExchangePhase() const;
  bool CanCheckFailed() const { return can_check_failed_; }
  FilterTable& Filters() { return filter_table_; }
  transport::DeviceLine& Line() { return *line_; }
  MacField DeviceMac() const;

  NetworkTab& NetworkPage() { return *network_tab_; }
  OpModeTab& OpModePage() { return *opmode_tab_; }
  CanTab& CanPage() { return *can_tab_; }
  FilterTab& FilterPage() { return *filter_tab_; }

 private:
  void SetFlag(SettingGroup group) { change_flags_.at(static_cast<std::size_t>(group)) = true; }
  void SetLabels(const QString& model, const QString& mac, const QString& version);
  // Stores the cell edits still open on any tab, so what the operator sees
  // is what is sent and exported.
  void CommitPendingEdits();
  // Reads the changed groups that have no validation of their own from the
  // tabs; throws what a build would throw, before anything is sent.
  void CheckChangedGroups() const;
  // The network fill: the tab, the port count, the echo byte and, when the
  // reply decoded whole, new empty port rows; true then.
  bool FillNetwork(const NetworkReply& reply);
  // The settings file's bytes for what the tabs and the table hold now.
  Bytes SettingsFileOfTabs() const;
  // Opens the line on port 2057 if needed, with this device's replies
  // going to the inbox; throws SocketError when the port is held.
  void OpenLine();
  void BroadcastToDevices(const Bytes& message);
  // The messages of `steps` as the tabs hold them; a group the checks
  // refuse shows why and is read back from the device instead.
  WritePlan PlanFromTabs(const std::vector<WriteStep>& steps);
  void PlanShownFilterGroup(WritePlan& plan);
  void PlanReadRequest(WritePlan& plan, ReadRequestKind kind);
  DeviceExchange::Time Now() const;
  ExchangeTiming WindowExchangeTiming() const;
  void StartExchange(DeviceExchange exchange);
  // After the exchange's phase ended: the filter table's progress panel
  // goes once the table went out; a finished exchange says how it ended.
  void FinishExchange();
  // Drops the device's datagrams still waiting in the inbox, of `replyCode`
  // only when given: they came before the message they would answer.
  void ForgetQueued(std::optional<std::uint8_t> replyCode);
  void ShowMessage(const QString& text);
  QWidget* PanelFor(ReadRequestKind kind) const;

  Prompter& prompter_;
  ConfigTiming timing_;
  std::unique_ptr<transport::DeviceLine> line_;
  // This device's replies on the line, while the window is open.
  std::unique_ptr<transport::DeviceSession> session_;
  // Takes the session's replies to the UI thread; forgets them at each close.
  DatagramInbox* inbox_;

  ChangedGroups change_flags_{};
  bool filters_imported_ = false;
  int port_count_ = 0;
  std::uint8_t echo_byte_ = 0;
  // The conversation with the device under way: the opening's read, or
  // Apply's write with its read-back.
  std::optional<DeviceExchange> exchange_;
  // Apply's write, clicked while the opening still sends its requests: it
  // follows them, so that every part of the device is asked once.
  std::optional<WritePlan> apply_after_opening_;
  bool can_check_failed_ = false;
  FilterTable filter_table_;

  QLabel* ProductLabel;
  QLabel* MACLabel;
  QLabel* VersionLabel;
  QTabWidget* ConfigTab;
  NetworkTab* network_tab_;
  OpModeTab* opmode_tab_;
  CanTab* can_tab_;
  FilterTab* filter_tab_;
  QPushButton* FlatButton9;
  QPushButton* FlatButton1;
  QPushButton* FlatButton2;
  QWidget* PanelFilterSend;
  QLabel* lblFilterSend;
  QProgressBar* FilterSendBar;
  QTimer* TimerExchange;
};

}  // namespace oxlo::ui
