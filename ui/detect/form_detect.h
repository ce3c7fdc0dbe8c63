// The main window: the list of discovered devices, the search run that fills
// it, the search by IP and the Apply of edited addresses.
#pragma once

#include <QPointer>
#include <QWidget>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "protocol/conversation/firmware_rollout.h"
#include "protocol/conversation/firmware_upload.h"
#include "protocol/network/diagnosis.h"
#include "protocol/wire/bytes.h"
#include "protocol/wire/discovery.h"
#include "transport/devices/firmware_driver.h"
#include "transport/sockets/endpoint.h"
#include "ui/common/datagram_inbox.h"
#include "ui/detect/rollout_dialog.h"

class QDialog;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;

namespace oxlo::transport {
class FirmwareFleet;
}

namespace oxlo::ui {

class DeviceGrid;
class FirmwareRunner;
class Desktop;
class Network;
class Pacer;
class Prompter;
class TConfigForm;

class TFormDetect : public QWidget {
  Q_OBJECT

 public:
  // The firmware waits are the device's; tests shorten them.
  TFormDetect(Prompter& prompter, Desktop& desktop, Pacer& pacer, Network& network,
              QWidget* parent = nullptr, FirmwareTimeouts timeouts = {});
  ~TFormDetect() override;

  // Shows a modal dialog and gives its result; tests replace it to play the
  // operator's part without a nested event loop.
  using DialogRunner = std::function<int(QDialog&)>;
  void SetDialogRunner(DialogRunner runner) { run_dialog_ = std::move(runner); }
  // The configuration window the Config button and a double-click open.
  void SetConfigForm(TConfigForm* form) { config_form_ = form; }

  // How long an upgraded device has to come back with its new firmware:
  // the watch after a single upgrade and each device of a rollout. Tests
  // shorten it.
  void SetComebackWithin(std::chrono::milliseconds within) { comeback_within_ = within; }
  // Whether the device of the last single upgrade is being watched for its
  // comeback, its replies updating its row's version.
  bool WatchingComeback() const { return comeback_.has_value(); }
  // Whether a single upgrade's upload runs; the window takes other actions
  // meanwhile, those that would disturb it refused.
  bool UpgradingFirmware() const { return upgrade_ != nullptr; }
  // The open dialog of the rollout over several devices, if any.
  RolloutDialog* Rollouts() const { return rollout_dialog_; }

  int DeviceCount() const { return device_count_; }
  // Rows the list holds at most, so a flood of spoofed replies cannot fill
  // memory; tests set a smaller limit.
  static constexpr int kMaxListedDevices = 10000;
  void SetDeviceLimit(int limit) { seen_.SetLimit(static_cast<std::size_t>(limit)); }
  int SavedCount() const { return saved_count_; }
  int Countdown() const { return countdown_; }
  int SelectedRow() const { return selected_row_; }
  transport::DatagramEndpoint& UDPServer() { return *udp_server_; }
  // The row an operation on "the selected device" reads, or -1 when the
  // remembered selection lies beyond a shorter list.
  int SelectedListedRow() const;

  void ClearList();
  void StartBroadcastSearch();
  void SetSearching(bool on);
  // `interfaceName`, `localAddress`: where its reply came in, where known.
  void AddDevice(const DeviceRecord& record, const std::string& interfaceName = {},
                 const std::string& localAddress = {});

  void FlatButton1Click();   // Apply
  void FlatButton2Click();   // Search
  void FlatButton3Click();   // Search IP
  void FlatButton6Click();   // Stop
  void FlatButton4Click();   // Web
  void FlatButton7Click();   // Upgrade Firmware
  void FlatButton8Click();   // Config: modal, searches again after a change
  void FlatButton10Click();  // Import
  void RGridDblClick();      // the same window without modality, no search after
  void TimerFINDTimer();
  // Runs on the receiving thread of UDPServer.
  void UDPServerUDPRead(const transport::Datagram& datagram);
  void RGridRowEnter();
  void RGridAfterEdit(int row);
  // The device list's menu, at a point of its viewport.
  void ShowDeviceMenu(const QPoint& at);
  // "Upgrade firmware of several devices…": the listed devices in a dialog.
  void OpenRolloutDialog();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // After a successful single upgrade: asks the devices every second until
  // the upgraded one answers after a quiet spell, reports another version
  // than before, or the time is up.
  void StartComebackWatch(const std::string& mac, const std::string& versionBefore);
  void ComebackTick();
  // Ends the watch; the endpoint closes unless a search or a rollout uses it.
  void EndComebackWatch();
  // The row of this MAC shows the version its device reported now.
  void ShowReportedVersion(const DeviceRecord& record);
  // Routes the receiving endpoint's datagrams to a rollout's fleet, or
  // stops that once no datagram is being handed over.
  void RouteToFleet(transport::FirmwareFleet* fleet);
  void SetRolloutRunning(bool running);
  void OpenServer();
  void CloseServer();
  // Applies one discovery reply on the UI thread, in arrival order.
  void OnServerDatagram(const transport::Datagram& datagram);
  // Runs an operator action; an error it raises ends it with the error's text.
  // False when it ended that way.
  bool RunAction(const std::function<void()>& action);
  // Closes UDPServer and reads the selected device into the configuration
  // window; false when there is none or the window could not be opened.
  bool OpenSelectedInConfigForm();
  // Shows the configuration window modally; a change there means the list
  // is out of date, so it is searched again.
  void RunConfigForm();
  // The image, the upload and what the window shows of them, while it runs.
  struct FirmwareUpgrade;
  // Opens the image and the endpoint the replies come to, and starts the
  // upload; its end comes to FirmwareUploadOver. Throws what opening throws.
  void StartFirmwareUpload(const QString& path, const std::string& mac,
                           const std::string& versionBefore);
  // The last report says whether the device confirmed the image, or why not.
  void FirmwareUploadOver(const transport::FirmwareDriver::Report& report);
  void EndFirmwareUpgrade(const QString& message);
  // Ends an upload that runs, with no message: the window closes, or a new
  // search takes the endpoint.
  void StopFirmwareUpgrade();
  void ShowMessage(const QString& text);
  // Marks each row whose device this computer cannot reach, or reach
  // reliably, with the reason and the fix.
  void ShowDiagnoses();
  // Whether the operator still wants the page of a device this computer
  // cannot reach, having been told why and what address would work. A
  // device at this computer's own address is never opened: its page would
  // be this computer's.
  bool WebPageReachableOrWanted(int row);
  // The doctor's advice for the listed devices, through the same function:
  // each suggested address probed first where `mayProbe` (a probe waits for
  // the link; during a search only what was probed before counts).
  ProbedDiagnoses Advice(bool mayProbe);

  Prompter& prompter_;
  Network& network_;
  Desktop& desktop_;
  Pacer& pacer_;
  FirmwareTimeouts timeouts_;
  DialogRunner run_dialog_;
  TConfigForm* config_form_ = nullptr;

  std::unique_ptr<transport::DatagramEndpoint> udp_server_;
  std::unique_ptr<transport::InterfaceBroadcaster> every_interface_;
  // Takes UDPServer's datagrams to the UI thread; forgets them at each close.
  DatagramInbox* server_inbox_;
  FirmwareRunner* firmware_runner_;
  std::unique_ptr<FirmwareUpgrade> upgrade_;  // while a single upgrade runs

  int device_count_ = 0;
  int ignored_replies_ = 0;  // from new devices while the list was full
  int saved_count_ = -1;
  int countdown_ = 0;
  // The row an action acts on; -1 while the remembered device is not listed.
  int selected_row_ = 0;
  // The MAC of the device the operator last put the cursor on: a new search
  // highlights that device again wherever it is listed, never another one.
  QString selected_mac_;
  // The listed devices, row by row, with the interfaces they answered on.
  SeenDevices seen_{kMaxListedDevices};
  // What probes found, for the list as it is: asked once, not at each look.
  std::map<ProbeRequest, ProbeFinding> probed_;
  // Versions the listed devices reported after their listing, by MAC.
  std::map<std::string, std::string> reported_versions_;

  struct Comeback {
    std::string mac;
    std::string versionBefore;
    RolloutClock::time_point lastSign;
    RolloutClock::time_point deadline;
  };
  std::optional<Comeback> comeback_;
  std::chrono::milliseconds comeback_within_ = ComebackWatch::kDefaultBackWithin;
  QTimer* comeback_timer_;

  // The rollout's fleet takes what the receiving thread reads while set.
  std::mutex fleet_mutex_;
  std::condition_variable fleet_idle_;
  transport::FirmwareFleet* fleet_ = nullptr;  // under fleet_mutex_
  int fleet_posts_ = 0;                        // hand-overs running, under fleet_mutex_
  bool rollout_running_ = false;
  QPointer<RolloutDialog> rollout_dialog_;
  QMenu* device_menu_;

  QFrame* FlatPanel1;
  QPushButton* FlatButton1;
  QPushButton* FlatButton2;
  QPushButton* FlatButton3;
  QPushButton* FlatButton4;
  QPushButton* FlatButton7;
  QPushButton* FlatButton8;
  QPushButton* FlatButton10;
  QFrame* FlatPanel2;
  DeviceGrid* RGrid;
  QLabel* lblcount;
  QLabel* PnlTime;  // the countdown text is the panel's own caption
  QPushButton* FlatButton6;
  QFrame* FlatPanel3;
  QProgressBar* UpdateProgress;
  QLabel* FUWait;
  QTimer* TimerFIND;
  // Diagnoses a burst of replies once, not once per reply.
  QTimer* diagnosis_timer_;
};

}  // namespace oxlo::ui
