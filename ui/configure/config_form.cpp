#include "ui/configure/config_form.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>
#include <QTimer>
#include <exception>

#include "protocol/settings/setting_checks.h"
#include "protocol/settings/settings_file.h"
#include "protocol/wire/device_replies.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/frame.h"
#include "transport/files/files.h"
#include "ui/common/network.h"
#include "ui/common/prompter.h"
#include "ui/common/window_style.h"
#include "ui/configure/can_tab.h"
#include "ui/configure/filter_tab.h"
#include "ui/configure/network_tab.h"
#include "ui/configure/opmode_tab.h"
#include "ui/configure/settings_grid.h"

namespace oxlo::ui {
namespace {

QLabel* AddLabel(const QString& text, const QString& name, QWidget* parent, QRect geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  return label;
}

}  // namespace

TConfigForm::TConfigForm(Prompter& prompter, class Network& network, QWidget* parent,
                         ConfigTiming timing)
    : QDialog(parent, kFixedWindowFlags),
      prompter_(prompter),
      timing_(std::move(timing)),
      line_(std::make_unique<transport::DeviceLine>(network.MakeDeviceEndpoint())),
      inbox_(new DatagramInbox(this)) {
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

  // One timer steps the conversation with the device; the pauses it keeps
  // are the device's, a few milliseconds, so it must not fire early.
  TimerExchange = new QTimer(this);
  TimerExchange->setObjectName("TimerExchange");
  TimerExchange->setSingleShot(true);
  TimerExchange->setTimerType(Qt::PreciseTimer);

  connect(FlatButton1, &QPushButton::clicked, this, &TConfigForm::FlatButton1Click);
  connect(FlatButton9, &QPushButton::clicked, this, &TConfigForm::FlatButton9Click);
  connect(FlatButton2, &QPushButton::clicked, this, &TConfigForm::FlatButton2Click);
  connect(TimerExchange, &QTimer::timeout, this, &TConfigForm::TimerExchangeTimer);
  // The tab bar takes no focus from an open cell editor: store the edit as
  // the operator leaves its tab.
  connect(ConfigTab, &QTabWidget::currentChanged, this, [this] { CommitPendingEdits(); });
  connect(network_tab_, &NetworkTab::Changed, this, [this] { SetFlag(SettingGroup::kNetwork); });
  connect(opmode_tab_, &OpModeTab::OpGridValueChanged, this,
          [this] { SetFlag(SettingGroup::kOperationMode); });
  connect(can_tab_, &CanTab::CANGridValueChanged, this, [this] { SetFlag(SettingGroup::kCan); });
  connect(filter_tab_, &FilterTab::Changed, this, [this] { SetFlag(SettingGroup::kFilters); });

  connect(inbox_, &DatagramInbox::Received, this, [this](const transport::Datagram& d) {
    // A datagram that cannot be handled is dropped without a word.
    try {
      ConfigUDPUDPRead(d);
    } catch (const std::exception&) {
    }
  });
}

TConfigForm::~TConfigForm() {
  session_.reset();
  line_->Close();
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
  // Each tab waits for its part of the device's settings.
  for (QWidget* panel :
       std::initializer_list<QWidget*>{network_tab_, opmode_tab_, can_tab_, filter_tab_}) {
    panel->setEnabled(false);
  }
  // Port 2057 is held before the window shows, or the error says why not.
  OpenLine();
  StartExchange(DeviceExchange::Read(DeviceMac(), WindowExchangeTiming()));
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
  exchange_.reset();
  apply_after_opening_.reset();
  TimerExchange->stop();
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
  if (!port) {
    throw std::runtime_error(
        CheckPortMode(opmode_tab_->Grid().Text(0, opcolumn::kMode).toStdString()).value_or(""));
  }
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
  PanelFor(kind)->setEnabled(false);
  BroadcastToDevices(BuildReadRequest(kind, DeviceMac()));
}

void TConfigForm::OpenLine() {
  if (!line_->IsOpen()) line_->Open();
  const MacField mac = DeviceMac();
  if (session_ && session_->Mac() == mac) return;
  session_.reset();
  session_ = std::make_unique<transport::DeviceSession>(*line_, mac, ExchangeReplyCodes());
  session_->SetReplySink([inbox = inbox_](const transport::Datagram& d) { inbox->Push(d); });
  session_->Open();
}

void TConfigForm::BroadcastToDevices(const Bytes& message) {
  OpenLine();
  line_->Broadcast(message);
}

void TConfigForm::SendGroup(SettingGroup group) {
  CommitPendingEdits();
  ChangedGroups only{};
  only[static_cast<std::size_t>(group)] = true;
  const WritePlan plan = PlanFromTabs(
      PlanSettingsWrite(only, filters_imported_, std::chrono::milliseconds(timing_.bulkPaceMs)));
  for (const PlannedSend& send : plan.sends) BroadcastToDevices(send.message);
}

void TConfigForm::PlanReadRequest(WritePlan& plan, ReadRequestKind kind) {
  // Nothing goes out for rejected settings; the device's are read back.
  PanelFor(kind)->setEnabled(false);
  plan.sends.push_back({BuildReadRequest(kind, DeviceMac()), {}, std::nullopt});
}

WritePlan TConfigForm::PlanFromTabs(const std::vector<WriteStep>& steps) {
  const MacField mac = DeviceMac();
  WritePlan plan;
  const auto add = [&plan](const WriteStep& step, Bytes message) {
    plan.sends.push_back({std::move(message), step.pauseBefore, step});
  };
  for (const WriteStep& step : steps) {
    switch (step.group) {
      case SettingGroup::kNetwork: {
        Bytes message =
            network_tab_->BuildMessage(mac, static_cast<std::uint8_t>(port_count_), echo_byte_);
        // The discovery reply must then show the name and address in use.
        if (!plan.confirmShown) plan.confirmShown = ParseNetworkReply(message).Complete();
        add(step, std::move(message));
        break;
      }
      case SettingGroup::kOperationMode:
        for (int row = 0; row < port_count_ && row < opmode_tab_->Grid().rowCount(); ++row) {
          CheckedBuild build = opmode_tab_->BuildForApply(mac, row);
          if (!build.failure.isEmpty()) {
            ShowMessage(build.failure);
            continue;
          }
          add(step, std::move(build.message));
        }
        break;
      case SettingGroup::kCan:
        for (int row = 0; row < port_count_ && row < can_tab_->Grid().rowCount(); ++row) {
          can_check_failed_ = false;
          CheckedBuild build = can_tab_->BuildForApply(mac);
          if (!build.failure.isEmpty()) {
            ShowMessage(build.failure);
            can_check_failed_ = true;
            PlanReadRequest(plan, ReadRequestKind::kCan);
            continue;
          }
          add(step, std::move(build.message));
        }
        break;
      case SettingGroup::kFilters:
        if (step.filterGroup == kShownFilterGroup) {
          PlanShownFilterGroup(plan);
        } else if (can_check_failed_) {
          can_check_failed_ = false;
          PlanReadRequest(plan, FilterGroupRequest(step.filterGroup));
        } else {
          add(step, filter_tab_->BuildFromTable(mac, step.filterGroup));
        }
        break;
    }
  }
  return plan;
}

void TConfigForm::PlanShownFilterGroup(WritePlan& plan) {
  const int group = filter_tab_->SelectedGroup();
  if (group < 0) {
    // No group on show holds device data: nothing to send.
    can_check_failed_ = false;
    return;
  }
  if (can_check_failed_) {
    can_check_failed_ = false;
    PlanReadRequest(plan, FilterGroupRequest(group));
    return;
  }
  CheckedBuild build = filter_tab_->BuildFromSlots(DeviceMac(), group, can_tab_->IdFormat());
  if (!build.failure.isEmpty()) {
    ShowMessage(build.failure);
    PlanReadRequest(plan, FilterGroupRequest(group));
    return;
  }
  plan.sends.push_back({std::move(build.message), {}, WriteStep{SettingGroup::kFilters, group}});
}

DeviceExchange::Time TConfigForm::Now() const {
  return timing_.clock ? timing_.clock() : std::chrono::steady_clock::now();
}

ExchangeTiming TConfigForm::WindowExchangeTiming() const {
  ExchangeTiming timing;
  timing.readRound = std::chrono::milliseconds(timing_.readAgainMs);
  timing.ack = std::chrono::milliseconds(timing_.ackTicks * timing_.tickMs);
  timing.confirmLimit =
      timing_.readBackMs > 0 ? std::chrono::milliseconds(timing_.readBackMs) : timing.ack;
  timing.pacedReads = timing_.pacedReads;
  return timing;
}

void TConfigForm::StartExchange(DeviceExchange exchange) {
  exchange_ = std::move(exchange);
  exchange_->Start(Now());
  TimerExchangeTimer();
}

void TConfigForm::TimerExchangeTimer() {
  if (!exchange_) return;
  const DeviceExchange::Time now = Now();
  try {
    while (std::optional<Outgoing> out = exchange_->Poll(now)) {
      if (out->forget == Outgoing::Forget::kEverything) ForgetQueued(std::nullopt);
      if (out->forget == Outgoing::Forget::kCode) ForgetQueued(out->forgetCode);
      BroadcastToDevices(out->message);
      const std::vector<SentStep>& sent = exchange_->Sent();
      if (!PanelFilterSend->isHidden() && !sent.empty() && sent.back().message == out->message &&
          sent.back().step.filterGroup != kShownFilterGroup) {
        FilterSendBar->setValue(sent.back().step.filterGroup + 1);
      }
    }
  } catch (const std::exception& error) {
    // A send that fails ends the conversation; the operator may try again.
    exchange_.reset();
    apply_after_opening_.reset();
    PanelFilterSend->hide();
    FlatButton1->setEnabled(true);
    ShowMessage(QString::fromUtf8(error.what()));
    return;
  }
  FinishExchange();
}

void TConfigForm::FinishExchange() {
  if (!exchange_) return;
  if (apply_after_opening_ && !exchange_->Sending()) {
    const DeviceExchange::Time quiet = exchange_->QuietFrom();
    if (Now() >= quiet) {
      WritePlan plan = std::move(*apply_after_opening_);
      apply_after_opening_.reset();
      StartExchange(DeviceExchange::Write(DeviceMac(), std::move(plan), WindowExchangeTiming()));
      return;
    }
    TimerExchange->start(
        static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(quiet - Now()).count()));
    return;
  }
  // The table went out, or the window closed under it: either way it is done.
  if (exchange_->CurrentPhase() != DeviceExchange::Phase::kWriting &&
      !PanelFilterSend->isHidden()) {
    PanelFilterSend->hide();
    filters_imported_ = false;
  }
  if (!exchange_->Done()) {
    const auto wait = exchange_->WakeAt() - Now();
    TimerExchange->start(static_cast<int>(std::clamp<std::int64_t>(
        std::chrono::ceil<std::chrono::milliseconds>(wait).count(), 0, 3600 * 1000)));
    return;
  }
  TimerExchange->stop();
  const DeviceExchange done = std::move(*exchange_);
  exchange_.reset();
  using Result = DeviceExchange::Result;
  const Result outcome = done.Outcome();
  // A read-back that found all that was sent is what the device holds now:
  // Export writes its filters, not the table from before the Apply (the
  // group on show went from the tab's fields).
  if (done.Held() && (outcome == Result::kVerified || outcome == Result::kNotInUse ||
                      outcome == Result::kNotShown)) {
    filter_table_ = done.Held()->filters;
  }
  const auto names = [](const std::vector<std::string>& parts) {
    QStringList list;
    for (const std::string& part : parts) list << QString::fromStdString(part);
    return list.join(", ");
  };
  switch (outcome) {
    case Result::kNotAcknowledged:
      ShowMessage("Connection Lost. Please try again.");
      this->done(QDialog::Rejected);
      return;
    case Result::kVerified:
      FlatButton1->setEnabled(true);
      ShowMessage("Configuration was successfully applied");
      return;
    case Result::kNotTaken:
      // The operator's values stay in the tabs for another Apply.
      FlatButton1->setEnabled(true);
      ShowMessage("The device did not take: " + names(done.NotTaken()) + ". Please apply again.");
      return;
    case Result::kReadBackIncomplete:
      FlatButton1->setEnabled(true);
      ShowMessage("The settings were acknowledged, but the device did not send back: " +
                  names(done.Missing()) + ". Please apply again.");
      return;
    case Result::kNotInUse:
      FlatButton1->setEnabled(true);
      ShowMessage(
          tr("The device stored the settings but did not apply them: %1. Please apply again.")
              .arg(names(done.NotInUse())));
      return;
    case Result::kNotShown:
      FlatButton1->setEnabled(true);
      ShowMessage(
          tr("The settings were stored, but the device did not show the ones in use. Please "
             "apply again."));
      return;
    case Result::kRead:            // the opening read every part
    case Result::kReadIncomplete:  // the tabs still missing stay disabled
    case Result::kRefused:
    case Result::kCancelled:
    case Result::kRunning:
      return;
  }
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
  const std::vector<WriteStep> steps = PlanSettingsWrite(
      change_flags_, filters_imported_, std::chrono::milliseconds(timing_.bulkPaceMs));
  try {
    // A value that cannot go out stops Apply before the device gets anything.
    CheckChangedGroups();
    WritePlan plan = PlanFromTabs(steps);
    if (plan.sends.empty()) {
      FlatButton1->setEnabled(true);
      return;
    }
    const bool whole_table = std::any_of(steps.begin(), steps.end(), [](const WriteStep& step) {
      return step.filterGroup != kShownFilterGroup;
    });
    if (whole_table) {
      PanelFilterSend->show();
      PanelFilterSend->raise();
      lblFilterSend->setText("Sending....");
      FilterSendBar->setMaximum(kFilterGroupCount);
      FilterSendBar->setValue(0);
    }
    if (exchange_ && exchange_->CurrentPhase() == DeviceExchange::Phase::kReading &&
        exchange_->Sending()) {
      apply_after_opening_ = std::move(plan);
      return;
    }
    StartExchange(DeviceExchange::Write(DeviceMac(), std::move(plan), WindowExchangeTiming()));
  } catch (const std::exception& error) {
    // The operator can correct the field and apply again.
    ShowMessage(QString::fromUtf8(error.what()));
    FlatButton1->setEnabled(true);
  }
}

void TConfigForm::FlatButton2Click() {
  close();
}

int TConfigForm::AckCountdown() const {
  if (!exchange_) return 0;
  const std::chrono::milliseconds left = exchange_->AckTimeLeft(Now());
  return static_cast<int>((left.count() + timing_.tickMs - 1) / timing_.tickMs);
}

std::optional<DeviceExchange::Phase> TConfigForm::ExchangePhase() const {
  if (!exchange_) return std::nullopt;
  return exchange_->CurrentPhase();
}

void TConfigForm::ForgetQueued(std::optional<std::uint8_t> replyCode) {
  // The inbox holds this device's replies only.
  inbox_->ForgetWhere([replyCode](const transport::Datagram& d) {
    return !replyCode || (d.data.size() > kCodeOffset && d.data[kCodeOffset] == *replyCode);
  });
}

void TConfigForm::done(int) {
  // An edit left open must not be stored later into another device's settings.
  opmode_tab_->Grid().DiscardPendingEdit();
  can_tab_->Grid().DiscardPendingEdit();
  // A conversation left running would close the window later, for another device.
  exchange_.reset();
  apply_after_opening_.reset();
  TimerExchange->stop();
  PanelFilterSend->hide();
  session_.reset();
  line_->Close();
  inbox_->Forget();
  const bool changed =
      std::find(change_flags_.begin(), change_flags_.end(), true) != change_flags_.end();
  filters_imported_ = false;
  QDialog::done(changed ? QDialog::Accepted : QDialog::Rejected);
}

void TConfigForm::ConfigUDPUDPRead(const transport::Datagram& datagram) {
  const std::optional<DeviceExchange::Phase> phase = ExchangePhase();
  if (phase == DeviceExchange::Phase::kReadingBack ||
      phase == DeviceExchange::Phase::kCheckingShown) {
    // The tabs keep the operator's values; the replies only go to the check.
    exchange_->OnDatagram(datagram.data, Now());
    TimerExchangeTimer();
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
    if (phase != DeviceExchange::Phase::kAwaitingAck) return;
    exchange_->OnDatagram(datagram.data, Now());
    TimerExchangeTimer();
    return;
  }
  panel->setEnabled(true);
  FlatButton1->setEnabled(true);
  // A part counts as read once it filled its tab: an operation mode that came
  // before the network settings had no row to fill, and is asked again.
  if (phase == DeviceExchange::Phase::kReading) {
    exchange_->OnDatagram(datagram.data, Now());
    TimerExchangeTimer();
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
