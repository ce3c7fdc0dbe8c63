#include "ui/configure/config_form.h"

#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>
#include <QTimer>
#include <exception>

#include "protocol/device_replies.h"
#include "protocol/fields.h"
#include "protocol/frame.h"
#include "protocol/settings_file.h"
#include "transport/files.h"
#include "ui/common/network.h"
#include "ui/common/pacer.h"
#include "ui/common/prompter.h"
#include "ui/common/window_style.h"
#include "ui/configure/can_tab.h"
#include "ui/configure/filter_tab.h"
#include "ui/configure/network_tab.h"
#include "ui/configure/opmode_tab.h"
#include "ui/configure/settings_grid.h"

namespace oxlo::ui {
namespace {

// A port row whose "Operation Mode" names no mode has no code to send.
const char kNoModeText[] = "Please Check Operation Mode";

QLabel* AddLabel(const QString& text, const QString& name, QWidget* parent, QRect geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  return label;
}

}  // namespace

TConfigForm::TConfigForm(Prompter& prompter, Pacer& pacer, class Network& network, QWidget* parent,
                         ConfigTiming timing)
    : QDialog(parent, kFixedWindowFlags),
      prompter_(prompter),
      pacer_(pacer),
      timing_(timing),
      config_udp_(network.MakeDeviceEndpoint()),
      inbox_(new DatagramInbox(this)),
      ack_wait_(timing.ackTicks) {
  setObjectName("TConfigForm");
  setWindowTitle("Configure");
  setFixedSize(798, 416);

  auto* FlatPanel1 = new QFrame(this);
  FlatPanel1->setObjectName("FlatPanel1");
  FlatPanel1->setGeometry(8, 8, 161, 401);
  FlatPanel1->setFrameShape(QFrame::StyledPanel);
  AddLabel("Model :", "Label1", FlatPanel1, {12, 24, 140, 16});
  ProductLabel = AddLabel("N/A", "ProductLabel", FlatPanel1, {20, 44, 136, 16});
  AddLabel("MAC Address :", "Label2", FlatPanel1, {12, 80, 140, 16});
  MACLabel = AddLabel("N/A", "MACLabel", FlatPanel1, {20, 100, 136, 16});
  AddLabel("Firmware Version :", "Label3", FlatPanel1, {12, 136, 140, 16});
  VersionLabel = AddLabel("N/A", "VersionLabel", FlatPanel1, {20, 156, 136, 16});

  ConfigTab = new QTabWidget(this);
  ConfigTab->setObjectName("ConfigTab");
  ConfigTab->setGeometry(176, 8, 609, 369);
  network_tab_ = new NetworkTab(ConfigTab);
  network_tab_->setObjectName("tabPanel1");
  opmode_tab_ = new OpModeTab(ConfigTab);
  opmode_tab_->setObjectName("tabPanel2");
  can_tab_ = new CanTab(ConfigTab);
  can_tab_->setObjectName("tabPanel3");
  filter_tab_ = new FilterTab(filter_table_, ConfigTab);
  filter_tab_->setObjectName("tabPanel4");
  ConfigTab->addTab(network_tab_, "Network");
  ConfigTab->addTab(opmode_tab_, "Operation Mode");
  ConfigTab->addTab(can_tab_, "CAN Setting");
  ConfigTab->addTab(filter_tab_, "Filter Setting");
  ConfigTab->setFocus();

  FlatButton9 = MakeFlatButton("Export", "FlatButton9", this, {190, 384, 89, 25});
  FlatButton1 = MakeFlatButton("Apply", "FlatButton1", this, {607, 384, 81, 25});
  FlatButton2 = MakeFlatButton("Cancel", "FlatButton2", this, {695, 384, 81, 25});

  auto* send_panel = new QFrame(this);
  MakeOverlayPanel(send_panel, "PanelFilterSend", {250, 170, 297, 67});
  PanelFilterSend = send_panel;
  lblFilterSend = AddLabel(QString(), "lblFilterSend", PanelFilterSend, {16, 10, 260, 16});
  FilterSendBar = new QProgressBar(PanelFilterSend);
  FilterSendBar->setObjectName("FilterSendBar");
  FilterSendBar->setGeometry(16, 34, 265, 18);
  FilterSendBar->setMinimum(0);

  TimerAck = new QTimer(this);
  TimerAck->setObjectName("TimerAck");

  connect(FlatButton1, &QPushButton::clicked, this, &TConfigForm::FlatButton1Click);
  connect(FlatButton9, &QPushButton::clicked, this, &TConfigForm::FlatButton9Click);
  connect(FlatButton2, &QPushButton::clicked, this, &TConfigForm::FlatButton2Click);
  connect(TimerAck, &QTimer::timeout, this, &TConfigForm::TimerAckTimer);
  TimerReadBack = new QTimer(this);
  TimerReadBack->setObjectName("TimerReadBack");
  TimerReadBack->setSingleShot(true);
  connect(TimerReadBack, &QTimer::timeout, this, &TConfigForm::TimerReadBackTimer);
  TimerReadAgain = new QTimer(this);
  TimerReadAgain->setObjectName("TimerReadAgain");
  connect(TimerReadAgain, &QTimer::timeout, this, &TConfigForm::TimerReadAgainTimer);
  // The tab bar takes no focus from an open cell editor: store the edit as
  // the operator leaves its tab.
  connect(ConfigTab, &QTabWidget::currentChanged, this, [this] { CommitPendingEdits(); });
  connect(network_tab_, &NetworkTab::Changed, this, [this] { SetFlag(SettingGroup::kNetwork); });
  connect(opmode_tab_, &OpModeTab::OpGridValueChanged, this,
          [this] { SetFlag(SettingGroup::kOperationMode); });
  connect(can_tab_, &CanTab::CANGridValueChanged, this, [this] { SetFlag(SettingGroup::kCan); });
  connect(filter_tab_, &FilterTab::Changed, this, [this] { SetFlag(SettingGroup::kFilters); });

  config_udp_->SetDefaultPort(kDevicePort);
  config_udp_->SetReadHandler([this](const transport::Datagram& d) { inbox_->Push(d); });
  connect(inbox_, &DatagramInbox::Received, this, [this](const transport::Datagram& d) {
    // A datagram that cannot be handled is dropped without a word.
    try {
      ConfigUDPUDPRead(d);
    } catch (const std::exception&) {
    }
  });
}

TConfigForm::~TConfigForm() {
  config_udp_->Close();
}

MacField TConfigForm::DeviceMac() const {
  return MacToBytes(MACLabel->text().toStdString());
}

void TConfigForm::SetAllChangeFlags() {
  change_flags_.fill(true);
}

void TConfigForm::SetLabels(const QString& model, const QString& mac, const QString& version) {
  ProductLabel->setText(model);
  MACLabel->setText(mac);
  VersionLabel->setText(version);
  // Each opening starts ready to apply, even after a close while waiting.
  FlatButton1->setEnabled(true);
}

void TConfigForm::OpenForDevice(const QString& model, const QString& mac, const QString& version) {
  change_flags_.fill(false);
  SetLabels(model, mac, version);
  shown_check_.reset();
  opening_.emplace();
  read_rounds_ = ReadRounds();
  for (const ReadStep& step : read_rounds_.Next(opening_->MissingKinds())) {
    SendReadRequest(step.kind);
    if (step.pauseAfter.count() > 0) pacer_.Pause(static_cast<int>(step.pauseAfter.count()));
  }
  TimerReadAgain->start(timing_.readAgainMs);
  ConfigTab->setCurrentIndex(0);
}

void TConfigForm::OpenFromFile(const QString& path, const QString& model, const QString& mac,
                               const QString& version) {
  // Only the bytes a settings file uses are read, as `oxlo import` reads them.
  // Decoded whole before the window changes: a file that cannot be used,
  // or holds a value no list has, leaves it as it was.
  const DeviceSettings settings =
      ParseSettingsFile(transport::ReadFileStart(LocalPath(path), kSettingsFileSize));

  SetAllChangeFlags();
  SetLabels(model, mac, version);
  opening_.reset();
  shown_check_.reset();
  TimerReadAgain->stop();
  port_count_ = 1;
  echo_byte_ = settings.network.echoByte;
  network_tab_->Fill(settings.network);
  opmode_tab_->ResetRows(port_count_);
  can_tab_->ResetRows(port_count_);
  opmode_tab_->Fill(settings.port);
  can_tab_->Fill(settings.can);
  filter_table_ = settings.filters;
  filter_tab_->ShowFirstGroup();
  filters_imported_ = true;
  for (QWidget* panel :
       std::initializer_list<QWidget*>{network_tab_, opmode_tab_, can_tab_, filter_tab_}) {
    panel->setEnabled(true);
  }
  ConfigTab->setCurrentIndex(0);
}

Bytes TConfigForm::SettingsFileOfTabs() const {
  DeviceSettings settings;
  settings.network = network_tab_->Settings(static_cast<std::uint8_t>(port_count_), echo_byte_);
  const std::optional<PortSettings> port = opmode_tab_->Settings(0);
  if (!port) throw std::runtime_error(kNoModeText);
  settings.port = *port;
  settings.can = can_tab_->Settings();
  settings.filters = filter_table_;
  return BuildSettingsFile(DeviceMac(), settings);
}

void TConfigForm::CommitPendingEdits() {
  opmode_tab_->Grid().CommitPendingEdit();
  can_tab_->Grid().CommitPendingEdit();
}

void TConfigForm::CheckChangedGroups() const {
  if (ChangeFlag(SettingGroup::kNetwork)) {
    network_tab_->Settings(static_cast<std::uint8_t>(port_count_), echo_byte_);
  }
  if (ChangeFlag(SettingGroup::kOperationMode)) {
    for (int row = 0; row < port_count_ && row < opmode_tab_->Grid().rowCount(); ++row) {
      opmode_tab_->Settings(row);
    }
  }
}

void TConfigForm::FlatButton9Click() {
  CommitPendingEdits();
  const std::optional<QString> path =
      prompter_.SaveFile(this, SettingsFileDialog("Export Setting"));
  if (!path) return;
  try {
    // Everything is built before the disk is touched, and the file is
    // replaced whole, so a failure never leaves a partial file.
    transport::WriteFileAtomically(LocalPath(*path), SettingsFileOfTabs());
  } catch (const std::exception& error) {
    ShowMessage(QString::fromUtf8(error.what()));
  }
}

QWidget* TConfigForm::PanelFor(ReadRequestKind kind) const {
  switch (kind) {
    case ReadRequestKind::kNetwork:
      return network_tab_;
    case ReadRequestKind::kOperationMode:
      return opmode_tab_;
    case ReadRequestKind::kCan:
      return can_tab_;
    default:
      return filter_tab_;
  }
}

void TConfigForm::SendReadRequest(ReadRequestKind kind) {
  const Bytes request = BuildReadRequest(kind, DeviceMac());
  if (!config_udp_->IsActive()) config_udp_->Open();
  config_udp_->SetBroadcastEnabled(true);
  PanelFor(kind)->setEnabled(false);
  config_udp_->Broadcast(request, kDevicePort);
}

void TConfigForm::BroadcastToDevices(const Bytes& message) {
  if (!config_udp_->IsActive()) config_udp_->Open();
  config_udp_->SetBroadcastEnabled(true);
  config_udp_->Broadcast(message, kDevicePort);
}

void TConfigForm::SendGroup(SettingGroup group) {
  CommitPendingEdits();
  ChangedGroups only{};
  only[static_cast<std::size_t>(group)] = true;
  SendSteps(
      PlanSettingsWrite(only, filters_imported_, std::chrono::milliseconds(timing_.bulkPaceMs)));
}

bool TConfigForm::SendSteps(const std::vector<WriteStep>& steps) {
  const int closings = closings_;
  const bool whole_table = std::any_of(steps.begin(), steps.end(), [](const WriteStep& step) {
    return step.filterGroup != kShownFilterGroup;
  });
  struct HidePanel {
    QWidget* panel;
    ~HidePanel() {
      if (panel != nullptr) panel->hide();
    }
  } hide_panel{whole_table ? PanelFilterSend : nullptr};
  if (whole_table) {
    PanelFilterSend->show();
    PanelFilterSend->raise();
    lblFilterSend->setText("Sending....");
    FilterSendBar->setMaximum(kFilterGroupCount);
    FilterSendBar->setValue(0);
  }
  bool open = true;
  for (const WriteStep& step : steps) {
    if (step.pauseBefore.count() > 0) {
      if (!config_udp_->IsActive()) config_udp_->Open();
      WaitWithEvents(static_cast<int>(step.pauseBefore.count()));
    }
    open = closings == closings_;
    if (!open) break;
    SendStep(step);
    if (step.filterGroup != kShownFilterGroup) FilterSendBar->setValue(step.filterGroup + 1);
  }
  // The table went out, or the window closed under it: either way it is done.
  if (whole_table) filters_imported_ = false;
  return open;
}

void TConfigForm::SendStep(const WriteStep& step) {
  const MacField mac = DeviceMac();
  switch (step.group) {
    case SettingGroup::kNetwork:
      SendNoted(step, network_tab_->BuildMessage(mac, static_cast<std::uint8_t>(port_count_),
                                                 echo_byte_));
      return;
    case SettingGroup::kOperationMode:
      for (int row = 0; row < port_count_ && row < opmode_tab_->Grid().rowCount(); ++row) {
        const std::optional<Bytes> message = opmode_tab_->BuildMessage(mac, row);
        if (!message) {
          ShowMessage(kNoModeText);
          continue;
        }
        SendNoted(step, *message);
      }
      return;
    case SettingGroup::kCan:
      for (int row = 0; row < port_count_ && row < can_tab_->Grid().rowCount(); ++row) {
        can_check_failed_ = false;
        const CheckedBuild build = can_tab_->BuildForApply(mac);
        if (!build.failure.isEmpty()) {
          // Nothing goes out for rejected settings; the device's are read back.
          ShowMessage(build.failure);
          can_check_failed_ = true;
          SendReadRequest(ReadRequestKind::kCan);
          continue;
        }
        SendNoted(step, build.message);
      }
      return;
    case SettingGroup::kFilters:
      if (step.filterGroup == kShownFilterGroup) {
        SendShownFilterGroup();
      } else if (can_check_failed_) {
        can_check_failed_ = false;
        SendReadRequest(FilterGroupRequest(step.filterGroup + 1));
      } else {
        SendNoted(step, filter_tab_->BuildFromTable(mac, step.filterGroup));
      }
      return;
  }
}

void TConfigForm::SendShownFilterGroup() {
  const int group = filter_tab_->SelectedGroup();
  if (group < 0) {
    // No group on show holds device data: nothing to send.
    can_check_failed_ = false;
    return;
  }
  if (can_check_failed_) {
    can_check_failed_ = false;
    SendReadRequest(FilterGroupRequest(group + 1));
    return;
  }
  const CheckedBuild build = filter_tab_->BuildFromSlots(DeviceMac(), group, can_tab_->IdFormat());
  if (!build.failure.isEmpty()) {
    ShowMessage(build.failure);
    SendReadRequest(FilterGroupRequest(group + 1));
    return;
  }
  SendNoted(WriteStep{SettingGroup::kFilters, group}, build.message);
}

void TConfigForm::SendNoted(const WriteStep& step, const Bytes& message) {
  BroadcastToDevices(message);
  sent_steps_.push_back({step, message});
}

void TConfigForm::WaitWithEvents(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

void TConfigForm::FlatButton1Click() {
  // Stored first, so the typed value also sets its group's change flag.
  CommitPendingEdits();
  if (filters_imported_) {
    switch (prompter_.AskYesNoCancel(this, "Load all 32 filter settings?")) {
      case Answer::Yes:
        break;
      case Answer::No:
        filters_imported_ = false;
        break;
      default:
        return;
    }
  }
  FlatButton1->setEnabled(false);
  sent_steps_.clear();
  const std::vector<WriteStep> plan = PlanSettingsWrite(
      change_flags_, filters_imported_, std::chrono::milliseconds(timing_.bulkPaceMs));
  try {
    // A value that cannot go out stops Apply before the device gets anything.
    CheckChangedGroups();
    // Closed during the paced filter groups: the device gets no apply command.
    if (!SendSteps(plan)) return;
    if (!plan.empty()) {
      // An acknowledgement that came before the apply command answers an
      // earlier one, never this.
      ForgetQueued(code::kApplyAck);
      BroadcastToDevices(BuildApplyCommand(DeviceMac()));
      ack_wait_.Start();
      TimerAck->start(timing_.tickMs);
    }
  } catch (const std::exception& error) {
    // The operator can correct the field and apply again.
    ShowMessage(QString::fromUtf8(error.what()));
    FlatButton1->setEnabled(true);
    return;
  }
  if (plan.empty()) FlatButton1->setEnabled(true);
}

void TConfigForm::FlatButton2Click() {
  close();
}

void TConfigForm::TimerAckTimer() {
  if (!ack_wait_.OnTick()) return;
  TimerAck->stop();
  ShowMessage("Connection Lost. Please try again.");
  done(QDialog::Rejected);
}

SettingsCollector* TConfigForm::ReadUnderWay() {
  if (read_back_) return &*read_back_;
  if (opening_) return &*opening_;
  return nullptr;
}

void TConfigForm::SendReadSteps(const std::vector<ReadStep>& steps) {
  const int closings = closings_;
  for (const ReadStep& step : steps) {
    BroadcastToDevices(BuildReadRequest(step.kind, DeviceMac()));
    if (step.pauseAfter.count() > 0) pacer_.Pause(static_cast<int>(step.pauseAfter.count()));
    if (closings != closings_) return;
  }
}

void TConfigForm::ForgetQueued(std::optional<std::uint8_t> replyCode) {
  const MacField mac = DeviceMac();
  inbox_->ForgetWhere([&mac, replyCode](const transport::Datagram& d) {
    if (replyCode && (d.data.size() <= kCodeOffset || d.data[kCodeOffset] != *replyCode)) {
      return false;
    }
    return MacOf(d.data) == mac;
  });
}

void TConfigForm::StartReadBack() {
  // Replies still waiting came before the read-back asked: they may show
  // the settings from before the write.
  ForgetQueued(std::nullopt);
  read_back_.emplace();
  opening_.reset();
  read_rounds_ = ReadRounds();
  const int closings = closings_;
  SendReadSteps(read_rounds_.Next(read_back_->MissingKinds()));
  if (closings != closings_) return;
  TimerReadBack->start(timing_.ackTicks * timing_.tickMs);
  TimerReadAgain->start(timing_.readAgainMs);
}

void TConfigForm::TimerReadAgainTimer() {
  if (shown_check_) {
    if (shown_asks_ >= ReadRounds::kRounds) {
      TimerReadAgain->stop();
      return;
    }
    ++shown_asks_;
    BroadcastToDevices(BuildDiscoveryQuery());
    return;
  }
  SettingsCollector* read = ReadUnderWay();
  const std::vector<ReadStep> steps =
      read != nullptr ? read_rounds_.Next(read->MissingKinds()) : std::vector<ReadStep>{};
  if (steps.empty()) {
    TimerReadAgain->stop();
    return;
  }
  SendReadSteps(steps);
}

void TConfigForm::StartShownCheck(const NetworkSettings& written) {
  shown_check_ = written;
  shown_asks_ = 1;
  // Only a reply to this query shows what the device now runs.
  ForgetQueued(code::kDiscovery);
  BroadcastToDevices(BuildDiscoveryQuery());
  TimerReadBack->start(timing_.ackTicks * timing_.tickMs);
  TimerReadAgain->start(timing_.readAgainMs);
}

void TConfigForm::FinishShownCheck(const DeviceRecord& shown) {
  const std::vector<std::string> parts = PartsNotInUse(*shown_check_, shown);
  shown_check_.reset();
  TimerReadBack->stop();
  TimerReadAgain->stop();
  FlatButton1->setEnabled(true);
  if (parts.empty()) {
    ShowMessage("Configuration was successfully applied");
    return;
  }
  QStringList names;
  for (const std::string& part : parts) names << QString::fromStdString(part);
  ShowMessage(tr("The device stored the settings but did not apply them: %1. Please apply again.")
                  .arg(names.join(", ")));
}

void TConfigForm::FinishReadBack() {
  TimerReadBack->stop();
  TimerReadAgain->stop();
  const DeviceSettings held = read_back_->Settings();
  read_back_.reset();
  const std::vector<std::string> parts = PartsNotTaken(DeviceMac(), sent_steps_, held);
  if (parts.empty()) {
    for (const SentStep& sent : sent_steps_) {
      if (sent.step.group != SettingGroup::kNetwork) continue;
      if (const std::optional<NetworkSettings> written =
              ParseNetworkReply(sent.message).Complete()) {
        StartShownCheck(*written);
        return;
      }
    }
    FlatButton1->setEnabled(true);
    ShowMessage("Configuration was successfully applied");
    return;
  }
  FlatButton1->setEnabled(true);
  // The operator's values stay in the tabs for another Apply.
  QString names;
  for (const std::string& part : parts) {
    names += (names.isEmpty() ? "" : ", ") + QString::fromStdString(part);
  }
  ShowMessage("The device did not take: " + names + ". Please apply again.");
}

void TConfigForm::TimerReadBackTimer() {
  if (shown_check_) {
    shown_check_.reset();
    TimerReadAgain->stop();
    FlatButton1->setEnabled(true);
    ShowMessage(
        tr("The settings were stored, but the device did not show the ones in use. Please apply "
           "again."));
    return;
  }
  if (!read_back_) return;
  TimerReadAgain->stop();
  QString names;
  for (const std::string& part : read_back_->Missing()) {
    names += (names.isEmpty() ? "" : ", ") + QString::fromStdString(part);
  }
  read_back_.reset();
  FlatButton1->setEnabled(true);
  ShowMessage("The settings were acknowledged, but the device did not send back: " + names +
              ". Please apply again.");
}

void TConfigForm::done(int) {
  ++closings_;
  // An edit left open must not be stored later into another device's settings.
  opmode_tab_->Grid().DiscardPendingEdit();
  can_tab_->Grid().DiscardPendingEdit();
  // A countdown left running would close the window later, for another device.
  TimerAck->stop();
  ack_wait_.Stop();
  TimerReadBack->stop();
  TimerReadAgain->stop();
  read_back_.reset();
  opening_.reset();
  shown_check_.reset();
  config_udp_->Close();
  inbox_->Forget();
  const bool changed =
      std::find(change_flags_.begin(), change_flags_.end(), true) != change_flags_.end();
  filters_imported_ = false;
  QDialog::done(changed ? QDialog::Accepted : QDialog::Rejected);
}

void TConfigForm::ConfigUDPUDPRead(const transport::Datagram& datagram) {
  if (MacOf(datagram.data) != DeviceMac()) return;
  if (shown_check_) {
    if (datagram.data.size() > kCodeOffset && datagram.data[kCodeOffset] == code::kDiscovery) {
      if (const std::optional<DeviceRecord> shown = ParseDiscoveryReply(datagram.data)) {
        FinishShownCheck(*shown);
      }
    }
    return;
  }
  if (read_back_) {
    // The tabs keep the operator's values; the replies only go to the check.
    read_back_->Take(datagram.data);
    if (read_back_->Complete()) FinishReadBack();
    return;
  }
  const std::optional<DeviceReply> reply = ParseDeviceReply(datagram.data);
  if (!reply) return;
  // A reply enables its panel, and Apply, only when it filled whole.
  QWidget* panel = nullptr;
  if (const auto* network = std::get_if<NetworkReply>(&*reply)) {
    if (!FillNetwork(*network)) return;
    panel = network_tab_;
  } else if (const auto* port = std::get_if<OpModeReply>(&*reply)) {
    if (!opmode_tab_->Fill(*port)) return;
    panel = opmode_tab_;
  } else if (std::holds_alternative<CanUnchangedReply>(*reply)) {
    panel = can_tab_;
  } else if (const auto* can = std::get_if<CanReply>(&*reply)) {
    if (!can->settings || !can_tab_->Fill(*can->settings)) return;
    panel = can_tab_;
  } else if (const auto* group = std::get_if<FilterGroupReply>(&*reply)) {
    if (!group->slots) return;
    filter_table_.StoreGroup(group->group, *group->slots);
    if (group->group == 0) filter_tab_->ShowFirstGroup();
    panel = filter_tab_;
  } else {
    // Only the acknowledgement of an apply command in flight is a success.
    if (!ack_wait_.OnReply(*reply)) return;
    TimerAck->stop();
    StartReadBack();
    return;
  }
  panel->setEnabled(true);
  FlatButton1->setEnabled(true);
  // A part counts as read once it filled its tab: an operation mode that came
  // before the network settings had no row to fill, and is asked again.
  if (opening_) {
    opening_->Take(datagram.data);
    if (opening_->Complete()) {
      opening_.reset();
      TimerReadAgain->stop();
    }
  }
}

bool TConfigForm::FillNetwork(const NetworkReply& reply) {
  network_tab_->Fill(reply);
  if (reply.portCount) port_count_ = 1;
  if (reply.echoByte) echo_byte_ = *reply.echoByte;
  if (!reply.Complete()) return false;
  opmode_tab_->ResetRows(port_count_);
  can_tab_->ResetRows(port_count_);
  return true;
}

void TConfigForm::ShowMessage(const QString& text) {
  prompter_.ShowMessage(this, text);
}

}  // namespace oxlo::ui
