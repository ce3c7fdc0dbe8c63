#include "ui/detect/form_detect.h"

#include <QCloseEvent>
#include <QDialog>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <exception>

#include "oxlo/version.h"
#include "protocol/conversation/firmware_upload.h"
#include "protocol/settings/address_check.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/frame.h"
#include "transport/devices/firmware_fleet.h"
#include "transport/files/files.h"
#include "ui/common/desktop.h"
#include "ui/common/network.h"
#include "ui/common/pacer.h"
#include "ui/common/prompter.h"
#include "ui/common/window_style.h"
#include "ui/configure/config_form.h"
#include "ui/detect/device_grid.h"
#include "ui/detect/firmware_runner.h"
#include "ui/detect/form_search_ip.h"
#include "ui/detect/rollout_dialog.h"

namespace oxlo::ui {
namespace {

constexpr int kSearchSeconds = 10;
const char kSearchStartText[] = "        Search ends in = 10 seconds";
const char kRemainTimeText[] = "        Remain time = ";
const char kListFullText[] = "List full : ";
constexpr int kDiagnosisDelayMs = 150;
// The upgraded device is asked this often whether it is back.
constexpr int kComebackAskMs = 1000;

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TFormDetect::TFormDetect(Prompter& prompter, Desktop& desktop, Pacer& pacer, Network& network,
                         QWidget* parent, FirmwareTimeouts timeouts)
    : QWidget(parent, kFixedWindowFlags),
      prompter_(prompter),
      network_(network),
      desktop_(desktop),
      pacer_(pacer),
      timeouts_(timeouts),
      run_dialog_([](QDialog& dialog) { return dialog.exec(); }),
      udp_server_(network.MakeDeviceEndpoint()),
      every_interface_(network.MakeEveryInterface()),
      server_inbox_(new DatagramInbox(this)),
      firmware_runner_(new FirmwareRunner(*every_interface_, this)) {
  setObjectName("TFormDetect");
  setWindowTitle(QStringLiteral("OxloConfig ") + kDisplayVersion);
  setFixedSize(923, 530);

  FlatPanel1 = new QFrame(this);
  FlatPanel1->setObjectName("FlatPanel1");
  FlatPanel1->setGeometry(0, 15, 977, 41);
  FlatButton2 = MakeFlatButton("Search", "FlatButton2", FlatPanel1, {11, 8, 73, 25});
  FlatButton3 = MakeFlatButton("Search IP", "FlatButton3", FlatPanel1, {91, 8, 94, 25});
  FlatButton8 = MakeFlatButton("Config", "FlatButton8", FlatPanel1, {222, 8, 89, 25});
  FlatButton10 = MakeFlatButton("Import", "FlatButton10", FlatPanel1, {318, 8, 89, 25});
  FlatButton4 = MakeFlatButton("Web", "FlatButton4", FlatPanel1, {560, 8, 89, 25});
  FlatButton7 = MakeFlatButton("Upgrade Firmware", "FlatButton7", FlatPanel1, {664, 8, 105, 25});
  FlatButton1 = MakeFlatButton("Apply", "FlatButton1", this, {819, 24, 73, 25});

  FlatPanel2 = new QFrame(this);
  FlatPanel2->setObjectName("FlatPanel2");
  FlatPanel2->setGeometry(10, 68, 903, 444);
  RGrid = new DeviceGrid(FlatPanel2);
  RGrid->setObjectName("RGrid");
  RGrid->setGeometry(0, 0, 903, 444);

  lblcount = new QLabel(this);
  lblcount->setObjectName("lblcount");
  lblcount->setGeometry(28, 512, 120, 16);
  lblcount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  PnlTime = new QLabel(this);
  MakeOverlayPanel(PnlTime, "PnlTime", {312, 202, 297, 67});
  PnlTime->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  QPalette light = PnlTime->palette();
  light.setColor(QPalette::Window, QColor(232, 255, 255));
  PnlTime->setPalette(light);
  FlatButton6 = MakeFlatButton("Stop", "FlatButton6", PnlTime, {208, 16, 73, 25});

  FlatPanel3 = new QFrame(this);
  MakeOverlayPanel(FlatPanel3, "FlatPanel3", {312, 200, 297, 69});
  FUWait = new QLabel(FlatPanel3);
  FUWait->setObjectName("FUWait");
  FUWait->setGeometry(16, 10, 265, 16);
  UpdateProgress = new QProgressBar(FlatPanel3);
  UpdateProgress->setObjectName("UpdateProgress");
  UpdateProgress->setGeometry(16, 36, 265, 18);
  UpdateProgress->setTextVisible(false);

  TimerFIND = new QTimer(this);
  TimerFIND->setObjectName("TimerFIND");
  TimerFIND->setInterval(1000);
  diagnosis_timer_ = new QTimer(this);
  diagnosis_timer_->setSingleShot(true);
  diagnosis_timer_->setInterval(kDiagnosisDelayMs);

  connect(FlatButton1, &QPushButton::clicked, this, &TFormDetect::FlatButton1Click);
  connect(FlatButton2, &QPushButton::clicked, this, &TFormDetect::FlatButton2Click);
  connect(FlatButton3, &QPushButton::clicked, this, &TFormDetect::FlatButton3Click);
  connect(FlatButton6, &QPushButton::clicked, this, &TFormDetect::FlatButton6Click);
  connect(FlatButton4, &QPushButton::clicked, this, &TFormDetect::FlatButton4Click);
  connect(FlatButton7, &QPushButton::clicked, this, &TFormDetect::FlatButton7Click);
  connect(FlatButton8, &QPushButton::clicked, this, &TFormDetect::FlatButton8Click);
  connect(FlatButton10, &QPushButton::clicked, this, &TFormDetect::FlatButton10Click);
  connect(RGrid, &QTableWidget::cellDoubleClicked, this, &TFormDetect::RGridDblClick);
  connect(TimerFIND, &QTimer::timeout, this, &TFormDetect::TimerFINDTimer);
  connect(diagnosis_timer_, &QTimer::timeout, this, &TFormDetect::ShowDiagnoses);
  comeback_timer_ = new QTimer(this);
  comeback_timer_->setInterval(kComebackAskMs);
  connect(comeback_timer_, &QTimer::timeout, this, &TFormDetect::ComebackTick);

  device_menu_ = new QMenu(this);
  device_menu_->setObjectName("DeviceMenu");
  device_menu_->setAccessibleName(tr("Device list menu"));
  QAction* several = device_menu_->addAction(tr("&Upgrade firmware of several devices…"));
  several->setObjectName("UpgradeSeveral");
  connect(several, &QAction::triggered, this, &TFormDetect::OpenRolloutDialog);
  connect(device_menu_, &QMenu::aboutToShow, this,
          [this, several] { several->setEnabled(device_count_ > 0 && !rollout_running_); });
  RGrid->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(RGrid, &QWidget::customContextMenuRequested, this, &TFormDetect::ShowDeviceMenu);
  // The context-menu key and Shift+F10 open it where the current row is.
  RGrid->installEventFilter(this);
  connect(RGrid, &QTableWidget::currentCellChanged, this, &TFormDetect::RGridRowEnter);
  connect(RGrid, &DeviceGrid::RowEditStarted, this, &TFormDetect::RGridAfterEdit);

  udp_server_->SetDefaultPort(kDevicePort);
  // Discovery and firmware replies only: the kernel drops the rest, our own
  // broadcast of every firmware message among them.
  udp_server_->SetAcceptedCodes({code::kDiscovery, code::kFirmwareReply});
  udp_server_->SetReadHandler([this](const transport::Datagram& d) { UDPServerUDPRead(d); });
  connect(server_inbox_, &DatagramInbox::Received, this, &TFormDetect::OnServerDatagram);
}

TFormDetect::~TFormDetect() {
  // A rollout still running ends before the endpoints it uses go.
  delete rollout_dialog_;
  // The receiving thread calls into this window; stop it first.
  udp_server_->Close();
  // The upload goes with this window; no send of it may be under way then.
  firmware_runner_->Stop();
}

int TFormDetect::SelectedListedRow() const {
  if (selected_row_ < 0 || device_count_ <= 0) return -1;
  if (selected_row_ >= device_count_ || selected_row_ >= RGrid->rowCount()) return -1;
  // Only a row the operator sees highlighted is acted on.
  if (!RGrid->selectionModel()->isRowSelected(selected_row_, QModelIndex())) return -1;
  return selected_row_;
}

void TFormDetect::ClearList() {
  // The remembered device has no row until it is listed again.
  if (!selected_mac_.isEmpty()) selected_row_ = -1;
  device_count_ = 0;
  seen_.Clear();
  probed_.clear();
  reported_versions_.clear();
  diagnosis_timer_->stop();
  RGrid->setRowCount(0);
  RGrid->viewport()->update();
}

void TFormDetect::OpenServer() {
  if (!udp_server_->IsActive()) udp_server_->Open();
}

void TFormDetect::CloseServer() {
  // The watch asks through this endpoint and hears through it.
  comeback_timer_->stop();
  comeback_.reset();
  udp_server_->Close();
  server_inbox_->Forget();
}

void TFormDetect::StartBroadcastSearch() {
  StopFirmwareUpgrade();
  EndComebackWatch();
  ClearList();
  RunAction([this] {
    udp_server_->SetDefaultPort(kDevicePort);
    OpenServer();
    udp_server_->SetBroadcastEnabled(true);
    udp_server_->Broadcast(BuildDiscoveryQuery(), kDevicePort);
    saved_count_ = -1;
    SetSearching(true);
  });
}

void TFormDetect::SetSearching(bool on) {
  countdown_ = kSearchSeconds;
  PnlTime->setText(kSearchStartText);
  PnlTime->setVisible(on);
  if (on) {
    TimerFIND->start();
  } else {
    TimerFIND->stop();
  }
  FlatPanel1->setEnabled(!on);
  FlatPanel2->setEnabled(!on);
  if (on) {
    OpenServer();
  } else {
    CloseServer();
    // The marks again, now with each suggested address probed.
    if (device_count_ > 0) diagnosis_timer_->start();
  }
}

void TFormDetect::TimerFINDTimer() {
  --countdown_;
  PnlTime->setText(kRemainTimeText + QString::number(countdown_) + "sec");
  PnlTime->repaint();
  if (countdown_ > 0) return;
  SetSearching(false);
  if (saved_count_ != -1 && saved_count_ == device_count_) ShowMessage("There is no Oxlo.");
}

void TFormDetect::FlatButton2Click() {
  StartBroadcastSearch();
}

void TFormDetect::FlatButton6Click() {
  SetSearching(false);
}

void TFormDetect::FlatButton3Click() {
  TFormSearchIP dialog(prompter_, this);
  if (run_dialog_(dialog) != QDialog::Accepted) return;
  StopFirmwareUpgrade();
  EndComebackWatch();
  ClearList();
  saved_count_ = device_count_;
  // The dialog accepted the text, so it reads; the socket takes only the plain dotted quad.
  const std::string host = CanonicalAddressText(dialog.AddressText().toStdString()).value_or("");
  RunAction([this, &host] {
    udp_server_->SetDefaultPort(kDevicePort);
    OpenServer();
    udp_server_->SetBroadcastEnabled(false);
    udp_server_->SendTo(host, kDevicePort, BuildDiscoveryQuery());
    SetSearching(true);
  });
}

bool TFormDetect::OpenSelectedInConfigForm() {
  RGrid->CommitPendingEdit();
  const int row = SelectedListedRow();
  if (row < 0 || config_form_ == nullptr) return false;
  CloseServer();
  return RunAction([&] {
    config_form_->OpenForDevice(RGrid->Text(row, column::kModel), RGrid->Text(row, column::kMac),
                                RGrid->Text(row, column::kVersion));
  });
}

void TFormDetect::FlatButton8Click() {
  if (SelectedListedRow() < 0 || config_form_ == nullptr) return;
  pacer_.Pause(100);
  if (!OpenSelectedInConfigForm()) return;
  RunConfigForm();
}

void TFormDetect::RunConfigForm() {
  if (run_dialog_(*config_form_) == QDialog::Accepted) StartBroadcastSearch();
}

void TFormDetect::FlatButton10Click() {
  RGrid->CommitPendingEdit();
  const int row = SelectedListedRow();
  if (row < 0 || config_form_ == nullptr) return;
  CloseServer();
  const std::optional<QString> path =
      prompter_.OpenFile(this, SettingsFileDialog("Import Setting"));
  if (!path) return;
  const bool opened = RunAction([&] {
    config_form_->OpenFromFile(*path, RGrid->Text(row, column::kModel),
                               RGrid->Text(row, column::kMac), RGrid->Text(row, column::kVersion));
  });
  if (opened) RunConfigForm();
}

void TFormDetect::FlatButton4Click() {
  // The row as the operator sees it, an edit not yet confirmed included.
  RGrid->CommitPendingEdit();
  if (device_count_ == 0) {
    ShowMessage("No Oxlo device was found.\r\nPlease connect an Oxlo.");
    return;
  }
  const int row = SelectedListedRow();
  if (row < 0) return;
  if (!WebPageReachableOrWanted(row)) return;
  const QString ip = RGrid->Text(row, column::kIp);
  const QString current = RGrid->Text(row, column::kColumn2);
  // Linux arp takes the MAC with colons, and reads a part with a leading
  // zero as octal: it gets the values the address check reads.
  const QString mac = RGrid->Text(row, column::kMac).replace('-', ':');
  const std::optional<std::string> canonical = CanonicalAddressText(ip.toStdString());
  desktop_.StartCommand("arp", {"-s", canonical ? QString::fromStdString(*canonical) : ip, mac});
  pacer_.Pause(2000);
  if (ip != current) {
    ShowMessage("New IP address was not applied. Previous IP address is still configured.");
  }
  desktop_.OpenUrl("http://" + current);
}

void TFormDetect::FlatButton7Click() {
  // One upload at a time: its replies have one driver.
  if (upgrade_) return;
  RGrid->CommitPendingEdit();
  const int row = SelectedListedRow();
  if (row < 0) return;
  FUWait->setText("Sending Firmware...");
  FUWait->show();
  CloseServer();
  const std::optional<QString> path = prompter_.OpenFile(
      this, {"Update Firmware", "Oxlo.bin", "bin", {"All files (*.*)", "Firmware File (*.bin)"}});
  if (!path) return;
  FlatPanel1->setEnabled(false);
  FlatPanel2->setEnabled(false);
  const std::string mac = RGrid->Text(row, column::kMac).toStdString();
  std::string versionBefore;
  if (row < static_cast<int>(seen_.Size())) {
    versionBefore = seen_.List()[static_cast<std::size_t>(row)].record.version;
    if (const auto it = reported_versions_.find(mac); it != reported_versions_.end()) {
      versionBefore = it->second;
    }
  }
  try {
    StartFirmwareUpload(*path, mac, versionBefore);
  } catch (const std::exception& error) {
    upgrade_.reset();
    EndFirmwareUpgrade(QString::fromUtf8(error.what()));
  }
}

struct TFormDetect::FirmwareUpgrade {
  FirmwareUpgrade(const QString& path, const std::string& target, const std::string& before,
                  FirmwareTimeouts timeouts)
      // Refuses a FIFO, a device or an image too large to send before anything goes out.
      : image(LocalPath(path)),
        upload(
            MacToBytes(target),
            [this](std::span<std::uint8_t> buffer) { return image.Read(buffer); }, timeouts),
        mac(target),
        versionBefore(before) {}

  transport::ImageFile image;
  FirmwareUpload upload;
  std::string mac;
  std::string versionBefore;
  QElapsedTimer waitingForEnd;
  QTimer blinker;
};

void TFormDetect::StartFirmwareUpload(const QString& path, const std::string& mac,
                                      const std::string& versionBefore) {
  upgrade_ = std::make_unique<FirmwareUpgrade>(path, mac, versionBefore, timeouts_);
  FirmwareUpgrade& upgrade = *upgrade_;
  // Below 2^31 bytes, so it fits.
  const int size = static_cast<int>(upgrade.image.Size());
  UpdateProgress->setMaximum(size);
  UpdateProgress->setValue(0);
  FlatPanel3->show();

  connect(&upgrade.blinker, &QTimer::timeout, this, [this, &upgrade] {
    // Shown in even seconds, blank in odd ones.
    FUWait->setText((upgrade.waitingForEnd.elapsed() / 1000) % 2 == 0 ? "Waiting For Complete"
                                                                      : "");
  });
  FirmwareRunner::Observer observer;
  observer.awaitingEnd = [this, &upgrade] {
    upgrade.image.Close();
    FUWait->setText("Waiting For Complete");
    FUWait->show();
    upgrade.waitingForEnd.start();
    upgrade.blinker.start(250);
  };
  observer.progress = [this, size](std::uint64_t acknowledged) {
    // Repainting the bar for every chunk costs more than waiting for the
    // device: it moves when the shown tenth of a percent changes.
    const int position = static_cast<int>(acknowledged);
    if (position == size || position * 1000LL / std::max(size, 1) !=
                                UpdateProgress->value() * 1000LL / std::max(size, 1)) {
      UpdateProgress->setValue(position);
    }
  };
  observer.finished = [this](const transport::FirmwareDriver::Report& report) {
    FirmwareUploadOver(report);
  };
  observer.failed = [this](const std::exception& error) {
    upgrade_.reset();
    EndFirmwareUpgrade(QString::fromUtf8(error.what()));
  };
  // The replies come to UDPServer.
  udp_server_->SetDefaultPort(kDevicePort);
  OpenServer();
  firmware_runner_->Start(upgrade.upload, std::move(observer));
}

void TFormDetect::FirmwareUploadOver(const transport::FirmwareDriver::Report& report) {
  const std::unique_ptr<FirmwareUpgrade> upgrade = std::move(upgrade_);
  upgrade->blinker.stop();
  QString message;
  if (report.state == FirmwareUpload::kSucceeded) {
    message = "Updating firmware was successful";
    StartComebackWatch(upgrade->mac, upgrade->versionBefore);
  } else {
    // The operator learns which message failed and how, as oxlo says it.
    message = "Updating firmware was failed";
    const std::string reason = transport::FailureReason(report);
    if (!reason.empty()) message += "\n" + tr("Reason: %1.").arg(QString::fromStdString(reason));
  }
  EndFirmwareUpgrade(message);
}

void TFormDetect::EndFirmwareUpgrade(const QString& message) {
  FUWait->hide();
  FlatPanel3->hide();
  ShowMessage(message);
  FlatPanel1->setEnabled(true);
  FlatPanel2->setEnabled(true);
}

void TFormDetect::StopFirmwareUpgrade() {
  if (!upgrade_) return;
  firmware_runner_->Stop();
  upgrade_.reset();
  CloseServer();
  FUWait->hide();
  FlatPanel3->hide();
  FlatPanel1->setEnabled(true);
  FlatPanel2->setEnabled(true);
}

void TFormDetect::RGridDblClick() {
  if (!OpenSelectedInConfigForm()) return;
  config_form_->show();
  config_form_->raise();
  config_form_->activateWindow();
}

void TFormDetect::FlatButton1Click() {
  if (device_count_ == 0) {
    ShowMessage("No Oxlo device found.\r\nPlease connect an Oxlo.");
    return;
  }
  RGrid->CommitPendingEdit();
  for (int row = 0; row < RGrid->rowCount(); ++row) {
    for (const int c : {column::kIp, column::kMask, column::kGateway}) {
      if (!CheckAddressText(RGrid->Text(row, c).toStdString())) {
        ShowMessage("Please check the IP's setting.");
        RGrid->setFocus();
        return;
      }
    }
  }
  // The list is searched again below, every device's reply heard.
  EndComebackWatch();
  int applied = 0;
  bool finished = false;
  RunAction([&] {
    const int rows = RGrid->rowCount();
    for (int row = 0; row < rows; ++row) {
      if (!RGrid->Modified(row)) continue;
      ++applied;
      // Every row passed the check, so each address reads; the message
      // carries the values it read.
      const auto address = [&](int c) {
        return CanonicalAddressText(RGrid->Text(row, c).toStdString()).value_or("");
      };
      const std::string ip = address(column::kIp);
      const Bytes message = BuildAddressAssignment(
          RGrid->Text(row, column::kMac).toStdString(), ip, address(column::kMask),
          address(column::kGateway), RGrid->Text(row, column::kName).toStdString());
      udp_server_->SetDefaultPort(kDevicePort);
      OpenServer();
      udp_server_->SetBroadcastEnabled(true);
      udp_server_->Broadcast(BuildDiscoveryQuery(), kDevicePort);
      every_interface_->SendOnEveryInterface(message, kDevicePort);
      RGrid->SetModified(row, false);
      RGrid->SetText(row, column::kColumn2, QString::fromStdString(ip));
      RGrid->CommitPendingEdit();
    }
    finished = true;
  });
  if (!finished) return;
  if (applied == 0) {
    ShowMessage("No device is applied.");
    return;
  }
  ShowMessage("Configuration of " + QString::number(applied) + " device(s)" +
              " was/were successful.");
  ClearList();
}

void TFormDetect::UDPServerUDPRead(const transport::Datagram& datagram) {
  const std::optional<std::uint8_t> code = AcceptDatagram(datagram.data);
  if (code != code::kFirmwareReply && code != code::kDiscovery) return;
  {
    std::unique_lock lock(fleet_mutex_);
    if (transport::FirmwareFleet* fleet = fleet_) {
      // Counted, so the fleet is not taken away while it is handed this.
      ++fleet_posts_;
      lock.unlock();
      struct Done {
        TFormDetect& window;
        ~Done() {
          std::lock_guard relock(window.fleet_mutex_);
          if (--window.fleet_posts_ == 0) window.fleet_idle_.notify_all();
        }
      } done{*this};
      fleet->Post(datagram);
      // The list shows the versions the devices report meanwhile.
      if (code == code::kDiscovery) server_inbox_->Push(datagram);
      return;
    }
  }
  if (code == code::kFirmwareReply) {
    // Straight to a waiting upload: the device waits for our next message.
    // Only the target's replies count, and only those that came after the
    // message they answer went out: the runner's driver judges both.
    firmware_runner_->PostReply(datagram.data, datagram.arrived);
    return;
  }
  if (code == code::kDiscovery) server_inbox_->Push(datagram);
}

void TFormDetect::OnServerDatagram(const transport::Datagram& datagram) {
  const std::optional<DeviceRecord> record = ParseDiscoveryReply(datagram.data);
  if (!record) return;
  if (rollout_running_) {
    ShowReportedVersion(*record);
    return;
  }
  if (comeback_) {
    // The list stays as it is: only the upgraded device's version changes.
    if (record->mac != comeback_->mac) return;
    ShowReportedVersion(*record);
    const RolloutClock::time_point now = RolloutClock::now();
    const bool afterQuiet = now - comeback_->lastSign >= ComebackWatch::kQuiet;
    comeback_->lastSign = now;
    // Back from its restart, or already running other firmware.
    if (afterQuiet || record->version != comeback_->versionBefore) EndComebackWatch();
    return;
  }
  AddDevice(*record, datagram.interfaceName, datagram.localAddress);
}

void TFormDetect::ShowReportedVersion(const DeviceRecord& record) {
  if (record.mac.empty()) return;
  const QString mac = QString::fromStdString(record.mac);
  const QString version = Latin1(record.version);
  bool listed = false;
  for (int row = 0; row < RGrid->rowCount(); ++row) {
    if (RGrid->Text(row, column::kMac) != mac) continue;
    listed = true;
    if (RGrid->Text(row, column::kVersion) != version) {
      RGrid->SetText(row, column::kVersion, version);
    }
  }
  if (listed) reported_versions_[record.mac] = record.version;
}

void TFormDetect::StartComebackWatch(const std::string& mac, const std::string& versionBefore) {
  const RolloutClock::time_point now = RolloutClock::now();
  // The upload left the endpoint open: the device's replies come to it.
  comeback_ = Comeback{mac, versionBefore, now, now + comeback_within_};
  comeback_timer_->start();
}

void TFormDetect::ComebackTick() {
  if (!comeback_) return;
  if (RolloutClock::now() >= comeback_->deadline) {
    EndComebackWatch();
    return;
  }
  try {
    // As the search asks.
    udp_server_->SetBroadcastEnabled(true);
    udp_server_->Broadcast(BuildDiscoveryQuery(), kDevicePort);
  } catch (const std::exception&) {
    // No box for a watch the operator did not ask for: the row keeps what it showed.
    EndComebackWatch();
  }
}

void TFormDetect::EndComebackWatch() {
  if (!comeback_) return;
  comeback_timer_->stop();
  comeback_.reset();
  if (!TimerFIND->isActive() && !rollout_running_) CloseServer();
}

void TFormDetect::ShowDeviceMenu(const QPoint& at) {
  if (!FlatPanel2->isEnabled()) return;
  device_menu_->popup(RGrid->viewport()->mapToGlobal(at));
}

bool TFormDetect::eventFilter(QObject* watched, QEvent* event) {
  if (watched == RGrid && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool menuKey = key->key() == Qt::Key_Menu && key->modifiers() == Qt::NoModifier;
    const bool shiftF10 = key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier;
    if (menuKey || shiftF10) {
      const QRect cell = RGrid->visualRect(RGrid->currentIndex());
      ShowDeviceMenu(cell.isValid() ? cell.center() : QPoint(0, 0));
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TFormDetect::OpenRolloutDialog() {
  RGrid->CommitPendingEdit();
  // Both would take the upload's replies.
  if (rollout_running_ || upgrade_) return;
  // A dialog left open lists what the list held then: a fresh one.
  delete rollout_dialog_;
  std::vector<DeviceRecord> devices;
  for (const SeenDevice& seen : seen_.List()) {
    DeviceRecord record = seen.record;
    if (const auto it = reported_versions_.find(record.mac); it != reported_versions_.end()) {
      record.version = it->second;
    }
    devices.push_back(std::move(record));
  }
  if (devices.empty()) {
    ShowMessage(tr("No Oxlo device found.\r\nPlease connect an Oxlo."));
    return;
  }
  RolloutDialog::Hooks hooks;
  hooks.route = [this](transport::FirmwareFleet* fleet) { RouteToFleet(fleet); };
  hooks.running = [this](bool running) { SetRolloutRunning(running); };
  auto* dialog = new RolloutDialog(prompter_, *every_interface_, std::move(devices),
                                   {timeouts_, comeback_within_}, std::move(hooks), this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowModality(Qt::WindowModal);
  rollout_dialog_ = dialog;
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
}

void TFormDetect::RouteToFleet(transport::FirmwareFleet* fleet) {
  if (fleet != nullptr) {
    if (TimerFIND->isActive()) SetSearching(false);
    EndComebackWatch();
    udp_server_->SetDefaultPort(kDevicePort);
    OpenServer();
    std::lock_guard lock(fleet_mutex_);
    fleet_ = fleet;
    return;
  }
  {
    std::unique_lock lock(fleet_mutex_);
    fleet_ = nullptr;
    fleet_idle_.wait(lock, [this] { return fleet_posts_ == 0; });
  }
  CloseServer();
}

void TFormDetect::SetRolloutRunning(bool running) {
  rollout_running_ = running;
  FlatPanel1->setEnabled(!running);
  FlatPanel2->setEnabled(!running);
  FlatButton1->setEnabled(!running);
}

void TFormDetect::closeEvent(QCloseEvent* event) {
  if (rollout_running_ && rollout_dialog_ != nullptr) {
    // The dialog asks whether to stop; this window stays until it ended.
    rollout_dialog_->reject();
    event->ignore();
    return;
  }
  StopFirmwareUpgrade();
  EndComebackWatch();
  QWidget::closeEvent(event);
}

void TFormDetect::AddDevice(const DeviceRecord& record, const std::string& interfaceName,
                            const std::string& localAddress) {
  const SeenDevices::Sighting sighting = seen_.Add(record, interfaceName, localAddress);
  if (sighting == SeenDevices::Sighting::kAgain) return;
  if (sighting == SeenDevices::Sighting::kNewInterface) {
    diagnosis_timer_->start();
    return;
  }
  if (sighting == SeenDevices::Sighting::kIgnored) {
    // The search goes on; the counter tells the operator, where a message
    // box would stop the search until answered.
    ++ignored_replies_;
    lblcount->setText(kListFullText + QString::number(device_count_));
    lblcount->setToolTip(QString("List full: %1 devices shown, %2 more replies ignored")
                             .arg(device_count_)
                             .arg(ignored_replies_));
    return;
  }
  if (ignored_replies_ != 0) {  // a new list after a full one
    ignored_replies_ = 0;
    lblcount->setToolTip(QString());
  }
  RGrid->AppendRow({Latin1(record.model), QString::fromStdString(record.mac),
                    Latin1(record.version), QString::fromStdString(record.name),
                    QString::fromStdString(record.ip), QString::fromStdString(record.mask),
                    QString::fromStdString(record.gateway), QString(), QString(), QString(),
                    QString::fromStdString(record.ip)});
  // The remembered device is highlighted as soon as it is listed again, so the
  // operator sees which device an action will act on; before any was chosen,
  // the first row.
  const bool remembered = selected_mac_.isEmpty()
                              ? device_count_ == selected_row_
                              : selected_row_ < 0 && record.mac == selected_mac_.toStdString();
  if (remembered) {
    selected_row_ = device_count_;
    RGrid->selectRow(device_count_);
  }
  ++device_count_;
  lblcount->setText("Current : " + QString::number(device_count_));
  // Each new device may clash with one listed before.
  diagnosis_timer_->start();
}

ProbedDiagnoses TFormDetect::Advice(bool mayProbe) {
  // One batch of probes a call: the window waits for it, and a list of many
  // troubled devices must not hold it for round after round. What is left
  // is probed at the next call, Web's among them.
  bool probed = false;
  return DiagnoseAndProbe(
      seen_.List(), network_.HostInterfaces(),
      [this, mayProbe, &probed](const std::vector<ProbeRequest>& requests) {
        std::vector<ProbeRequest> unknown;
        for (const ProbeRequest& r : requests) {
          if (probed_.count(r) == 0) unknown.push_back(r);
        }
        if (mayProbe && !probed && !unknown.empty()) {
          probed = true;
          const std::vector<ProbeFinding> found = network_.ProbeAddresses(unknown);
          for (std::size_t k = 0; k < unknown.size() && k < found.size(); ++k) {
            probed_[unknown[k]] = found[k];
          }
        }
        std::vector<ProbeFinding> out;
        for (const ProbeRequest& r : requests) {
          const auto it = probed_.find(r);
          out.push_back(it != probed_.end()
                            ? it->second
                            : ProbeFinding{ProbeVerdict::kNotProbed, "not probed yet"});
        }
        return out;
      });
}

void TFormDetect::ShowDiagnoses() {
  const std::vector<DeviceDiagnosis> diagnoses = Advice(!TimerFIND->isActive()).diagnoses;
  const int rows = std::min(RGrid->rowCount(), static_cast<int>(diagnoses.size()));
  for (int row = 0; row < rows; ++row) {
    QStringList lines;
    RowFinding finding = RowFinding::kNone;
    for (const Problem& problem : diagnoses[static_cast<std::size_t>(row)].problems) {
      const bool information = problem.kind == ProblemKind::kSeenOnSeveralInterfaces;
      finding = std::max(finding, information ? RowFinding::kInformation : RowFinding::kWarning);
      lines << QString::fromStdString(problem.fix.empty() ? problem.reason
                                                          : problem.reason + ": " + problem.fix);
    }
    RGrid->SetRowFinding(row, finding, lines.join('\n'));
  }
}

bool TFormDetect::WebPageReachableOrWanted(int row) {
  const std::vector<DeviceDiagnosis> diagnoses = Advice(/*mayProbe=*/true).diagnoses;
  if (row >= static_cast<int>(diagnoses.size())) return true;
  const std::vector<Problem>& problems = diagnoses[static_cast<std::size_t>(row)].problems;
  // The address typed into the row goes to arp, the listed one to the browser.
  for (const int c : {column::kIp, column::kColumn2}) {
    const std::optional<std::uint32_t> address =
        AddressOfText(CanonicalAddressText(RGrid->Text(row, c).toStdString()).value_or(""));
    for (const HostInterface& i : network_.HostInterfaces()) {
      if (!address || *address != i.address) continue;
      QString text =
          tr("%1 is this computer's own address (%2): the page that would open is "
             "this computer's, not the device's.")
              .arg(QString::fromStdString(AddressText(i.address)), QString::fromStdString(i.name));
      for (const Problem& problem : problems) {
        if (problem.kind == ProblemKind::kDuplicateAddress && !problem.fix.empty()) {
          text += tr("\r\nTo reach the device, %1.").arg(QString::fromStdString(problem.fix));
          break;
        }
      }
      ShowMessage(text);
      return false;
    }
  }
  for (const Problem& problem : problems) {
    if (problem.kind != ProblemKind::kOtherSubnet &&
        problem.kind != ProblemKind::kNoUsableAddress &&
        problem.kind != ProblemKind::kDuplicateAddress) {
      continue;
    }
    const QString text = QString::fromStdString(problem.reason) + ".\r\nTo reach it, " +
                         QString::fromStdString(problem.fix) + ".\r\n\r\nOpen its web page anyway?";
    return prompter_.AskYesNo(this, text) == Answer::Yes;
  }
  return true;
}

void TFormDetect::RGridRowEnter() {
  // Emptying the grid leaves no current row; the remembered row stays.
  const int row = RGrid->currentRow();
  if (row < 0) return;
  selected_row_ = row;
  selected_mac_ = RGrid->Text(row, column::kMac);
}

void TFormDetect::RGridAfterEdit(int row) {
  RGrid->SetModified(row, true);
}

bool TFormDetect::RunAction(const std::function<void()>& action) {
  try {
    action();
    return true;
  } catch (const std::exception& error) {
    ShowMessage(QString::fromUtf8(error.what()));
    return false;
  }
}

void TFormDetect::ShowMessage(const QString& text) {
  prompter_.ShowMessage(this, text);
}

}  // namespace oxlo::ui
