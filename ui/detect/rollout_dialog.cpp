#include "ui/detect/rollout_dialog.h"

#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <set>
#include <span>
#include <utility>

#include "protocol/wire/fields.h"
#include "protocol/wire/frame.h"
#include "transport/files/files.h"
#include "ui/common/prompter.h"

namespace oxlo::ui {
namespace {

// The fleet is stepped this often: it never waits, the replies it judges
// come on the receiving thread.
constexpr int kStepMs = 20;

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QTableWidgetItem* ReadOnlyItem(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}

// Space toggles the current row's check box whichever of its cells is current.
class SpaceChecks final : public QObject {
 public:
  explicit SpaceChecks(QTableWidget* table) : QObject(table), table_(table) {}

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Space || key->modifiers() != Qt::NoModifier) return false;
    QTableWidgetItem* item = table_->item(table_->currentRow(), rollout_column::kModel);
    if (item == nullptr || !(item->flags() & Qt::ItemIsUserCheckable)) return true;
    item->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    return true;
  }

 private:
  QTableWidget* table_;
};

}  // namespace

RolloutDialog::RolloutDialog(Prompter& prompter, transport::InterfaceBroadcaster& out,
                             std::vector<DeviceRecord> devices,
                             transport::FirmwareFleetSettings settings, Hooks hooks,
                             QWidget* parent)
    : QDialog(parent),
      prompter_(prompter),
      out_(out),
      devices_(std::move(devices)),
      settings_(settings),
      hooks_(std::move(hooks)) {
  setObjectName("RolloutDialog");
  setWindowTitle(tr("Upgrade firmware of several devices"));
  resize(860, 440);

  table_ = new QTableWidget(static_cast<int>(devices_.size()), rollout_column::kCount, this);
  table_->setObjectName("RolloutDevices");
  table_->setAccessibleName(tr("Devices to upgrade"));
  table_->setHorizontalHeaderLabels({tr("Model"), tr("MAC address"), tr("Name"), tr("Version"),
                                     tr("Progress"), tr("Result"), tr("Reason")});
  table_->verticalHeader()->hide();
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Tab leaves the list for the fields below it.
  table_->setTabKeyNavigation(false);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->installEventFilter(new SpaceChecks(table_));
  for (int row = 0; row < table_->rowCount(); ++row) {
    const DeviceRecord& device = devices_[static_cast<std::size_t>(row)];
    const QString mac = QString::fromStdString(device.mac);
    auto* check = ReadOnlyItem(Latin1(device.model));
    check->setFlags(check->flags() | Qt::ItemIsUserCheckable);
    check->setCheckState(Qt::Unchecked);
    check->setData(Qt::AccessibleTextRole, tr("Upgrade %1").arg(mac));
    table_->setItem(row, rollout_column::kModel, check);
    table_->setItem(row, rollout_column::kMac, ReadOnlyItem(mac));
    table_->setItem(row, rollout_column::kName, ReadOnlyItem(QString::fromStdString(device.name)));
    table_->setItem(row, rollout_column::kVersion, ReadOnlyItem(Latin1(device.version)));
    auto* bar = new QProgressBar(table_);
    bar->setObjectName(QString("RolloutProgress%1").arg(row));
    bar->setAccessibleName(tr("Progress of %1").arg(mac));
    bar->setRange(0, 1);
    bar->setValue(0);
    // A figure only for the devices of a rollout.
    bar->setTextVisible(false);
    bar->setFocusPolicy(Qt::NoFocus);
    table_->setCellWidget(row, rollout_column::kProgress, bar);
    table_->setItem(row, rollout_column::kResult, ReadOnlyItem(QString()));
    table_->setItem(row, rollout_column::kReason, ReadOnlyItem(QString()));
  }
  table_->resizeColumnsToContents();
  table_->setColumnWidth(rollout_column::kProgress, 120);
  table_->setColumnWidth(rollout_column::kResult, 90);
  if (table_->rowCount() > 0) table_->setCurrentCell(0, rollout_column::kModel);

  auto* devicesLabel = new QLabel(tr("&Devices:"), this);
  devicesLabel->setBuddy(table_);

  image_ = new QLineEdit(this);
  image_->setObjectName("RolloutImage");
  image_->setAccessibleName(tr("Firmware image file"));
  browse_ = new QPushButton(tr("&Browse…"), this);
  browse_->setObjectName("RolloutBrowse");
  browse_->setAccessibleName(tr("Browse for the firmware image"));
  auto* imageRow = new QHBoxLayout;
  imageRow->addWidget(image_, 1);
  imageRow->addWidget(browse_);

  version_ = new QLineEdit(this);
  version_->setObjectName("RolloutVersion");
  version_->setAccessibleName(tr("Version the image brings"));
  version_->setMaxLength(8);
  // As a device reports it: printable ASCII, no space at either end.
  version_->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[!-~]([ -~]{0,6}[!-~])?")), version_));

  canary_ = new QSpinBox(this);
  canary_->setObjectName("RolloutCanary");
  canary_->setAccessibleName(tr("Canaries first"));
  canary_->setRange(0, 9999);
  canary_->setValue(1);
  parallel_ = new QSpinBox(this);
  parallel_->setObjectName("RolloutParallel");
  parallel_->setAccessibleName(tr("Uploads at once"));
  parallel_->setRange(1, 256);
  parallel_->setValue(16);

  auto* form = new QFormLayout;
  auto* imageLabel = new QLabel(tr("&Image:"), this);
  imageLabel->setBuddy(image_);
  form->addRow(imageLabel, imageRow);
  auto* versionLabel = new QLabel(tr("&Version the image brings:"), this);
  versionLabel->setBuddy(version_);
  form->addRow(versionLabel, version_);
  auto* canaryLabel = new QLabel(tr("Ca&naries, upgraded before all others:"), this);
  canaryLabel->setBuddy(canary_);
  form->addRow(canaryLabel, canary_);
  auto* parallelLabel = new QLabel(tr("Uploads at &once:"), this);
  parallelLabel->setBuddy(parallel_);
  form->addRow(parallelLabel, parallel_);

  status_ = new QLabel(this);
  status_->setObjectName("RolloutStatus");
  status_->setAccessibleName(tr("Rollout status"));
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  start_ = new QPushButton(tr("&Start"), this);
  start_->setObjectName("RolloutStart");
  start_->setAccessibleName(tr("Start the rollout"));
  start_->setDefault(true);
  stop_ = new QPushButton(tr("S&top"), this);
  stop_->setObjectName("RolloutStop");
  stop_->setAccessibleName(tr("Stop the rollout"));
  stop_->setEnabled(false);
  close_ = new QPushButton(tr("&Close"), this);
  close_->setObjectName("RolloutClose");
  close_->setAccessibleName(tr("Close"));
  close_->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(start_);
  buttons->addWidget(stop_);
  buttons->addWidget(close_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(devicesLabel);
  layout->addWidget(table_, 1);
  layout->addLayout(form);
  layout->addWidget(status_);
  layout->addLayout(buttons);

  setTabOrder(table_, image_);
  setTabOrder(image_, browse_);
  setTabOrder(browse_, version_);
  setTabOrder(version_, canary_);
  setTabOrder(canary_, parallel_);
  setTabOrder(parallel_, start_);
  setTabOrder(start_, stop_);
  setTabOrder(stop_, close_);
  table_->setFocus();

  step_timer_ = new QTimer(this);
  step_timer_->setInterval(kStepMs);
  connect(step_timer_, &QTimer::timeout, this, &RolloutDialog::StepFleet);
  connect(browse_, &QPushButton::clicked, this, &RolloutDialog::Browse);
  connect(start_, &QPushButton::clicked, this, &RolloutDialog::Start);
  connect(stop_, &QPushButton::clicked, this, &RolloutDialog::StopRollout);
  connect(close_, &QPushButton::clicked, this, &RolloutDialog::reject);
}

RolloutDialog::~RolloutDialog() {
  step_timer_->stop();
  if (fleet_ == nullptr) return;
  // Nothing may hand the fleet a datagram once it is gone.
  if (hooks_.route) hooks_.route(nullptr);
  fleet_.reset();
  if (hooks_.running) hooks_.running(false);
}

void RolloutDialog::reject() {
  if (!Running()) {
    QDialog::reject();
    return;
  }
  if (close_when_over_) return;
  const Answer answer = prompter_.AskYesNo(
      this, tr("A rollout is running. Stop it and close this window once the uploads in "
               "progress have ended?\nNo new upload starts after a stop."));
  if (answer != Answer::Yes) return;
  close_when_over_ = true;
  StopRollout();
}

void RolloutDialog::Browse() {
  const std::optional<QString> path =
      prompter_.OpenFile(this, {tr("Firmware image"),
                                "Oxlo.bin",
                                "bin",
                                {tr("All files (*.*)"), tr("Firmware File (*.bin)")}});
  if (!path) return;
  image_->setText(*path);
  version_->setFocus();
}

void RolloutDialog::Start() {
  if (Running()) return;
  std::vector<RolloutDevice> devices;
  std::set<std::string> models;
  entry_of_row_.assign(devices_.size(), -1);
  for (int row = 0; row < table_->rowCount(); ++row) {
    if (table_->item(row, rollout_column::kModel)->checkState() != Qt::Checked) continue;
    const DeviceRecord& record = devices_[static_cast<std::size_t>(row)];
    entry_of_row_[static_cast<std::size_t>(row)] = static_cast<int>(devices.size());
    devices.push_back({record.mac, MacToBytes(record.mac), record});
    models.insert(record.model);
  }
  if (devices.empty()) {
    ShowMessage(tr("Check the devices to upgrade."));
    table_->setFocus();
    return;
  }
  if (image_->text().isEmpty()) {
    ShowMessage(tr("Choose the firmware image."));
    image_->setFocus();
    return;
  }
  if (!version_->hasAcceptableInput()) {
    ShowMessage(tr("Type the version the image brings: 1 to 8 printable characters."));
    version_->setFocus();
    return;
  }
  if (models.size() > 1) {
    QStringList names;
    for (const std::string& model : models) names << Latin1(model);
    ShowMessage(tr("The checked devices report different models (%1). An image made for "
                   "another model can leave a device unusable: upgrade one model at a time.")
                    .arg(names.join(", ")));
    return;
  }
  const std::filesystem::path path = LocalPath(image_->text());
  std::uint64_t size = 0;
  try {
    // Refused here, before anything goes out, when it cannot be sent.
    size = transport::ImageFile(path).Size();
  } catch (const std::exception& error) {
    ShowMessage(QString::fromUtf8(error.what()));
    return;
  }

  RolloutOptions options;
  options.version = version_->text().toStdString();
  options.model = *models.begin();
  options.canary = static_cast<std::size_t>(canary_->value());
  options.parallel = static_cast<std::size_t>(parallel_->value());
  auto rollout = std::make_unique<Rollout>(std::move(devices), options);
  auto fleet = std::make_unique<transport::FirmwareFleet>(
      *rollout, out_, kDevicePort,
      [path]() -> FirmwareUpload::ImageReader {
        auto image = std::make_shared<transport::ImageFile>(path);
        return [image](std::span<std::uint8_t> buffer) { return image->Read(buffer); };
      },
      settings_);
  try {
    if (hooks_.route) hooks_.route(fleet.get());
  } catch (const std::exception& error) {
    ShowMessage(QString::fromUtf8(error.what()));
    return;
  }
  fleet_.reset();
  rollout_ = std::move(rollout);
  fleet_ = std::move(fleet);
  close_when_over_ = false;
  step_failed_ = false;

  // Lengths travel as signed 32-bit numbers, so the size fits a bar.
  const int maximum = std::max(static_cast<int>(size), 1);
  for (int row = 0; row < table_->rowCount(); ++row) {
    auto* bar = static_cast<QProgressBar*>(table_->cellWidget(row, rollout_column::kProgress));
    bar->setRange(0, maximum);
    bar->setValue(0);
    bar->setTextVisible(entry_of_row_[static_cast<std::size_t>(row)] >= 0);
    table_->item(row, rollout_column::kResult)->setText(QString());
    table_->item(row, rollout_column::kReason)->setText(QString());
  }
  status_->setText(tr("Upgrading %n device(s) to version %1…", nullptr,
                      static_cast<int>(rollout_->Entries().size()))
                       .arg(version_->text()));
  SetControlsForRun(true);
  if (hooks_.running) hooks_.running(true);
  ShowEntries();
  step_timer_->start();
}

void RolloutDialog::StopRollout() {
  if (!Running()) return;
  fleet_->Stop();
  stop_->setEnabled(false);
  status_->setText(tr("Stopping: no new upload starts; the uploads in progress finish."));
}

void RolloutDialog::StepFleet() {
  if (!Running()) return;
  try {
    fleet_->Step();
  } catch (const std::exception& error) {
    // The devices being confirmed can no longer be asked: their watches end
    // at their deadlines, and nothing new starts meanwhile.
    if (!step_failed_) {
      step_failed_ = true;
      fleet_->Stop();
      stop_->setEnabled(false);
      status_->setText(tr("Stopped: %1").arg(QString::fromUtf8(error.what())));
    }
  }
  ShowEntries();
  if (fleet_->Over()) Finish();
}

namespace {

QString ResultText(RolloutResult result) {
  switch (result) {
    case RolloutResult::kUpgraded:
      return RolloutDialog::tr("upgraded");
    case RolloutResult::kUnchanged:
      return RolloutDialog::tr("unchanged");
    case RolloutResult::kFailed:
      return RolloutDialog::tr("failed");
    case RolloutResult::kNotStarted:
      return RolloutDialog::tr("not_started");
  }
  return RolloutDialog::tr("failed");
}

QString PhaseText(const Rollout::Entry& entry) {
  switch (entry.phase) {
    case Rollout::Phase::kWaiting:
      return entry.canary ? RolloutDialog::tr("canary, waiting") : RolloutDialog::tr("waiting");
    case Rollout::Phase::kUploading:
      return RolloutDialog::tr("uploading");
    case Rollout::Phase::kConfirming:
      return RolloutDialog::tr("confirming");
    case Rollout::Phase::kDone:
      break;
  }
  return ResultText(entry.result);
}

}  // namespace

void RolloutDialog::ShowEntries() {
  if (rollout_ == nullptr) return;
  for (int row = 0; row < table_->rowCount(); ++row) {
    const int index = entry_of_row_[static_cast<std::size_t>(row)];
    if (index < 0) continue;
    const Rollout::Entry& entry = rollout_->At(static_cast<std::size_t>(index));
    auto* bar = static_cast<QProgressBar*>(table_->cellWidget(row, rollout_column::kProgress));
    if (fleet_ != nullptr) {
      const auto taken = fleet_->Acknowledged(static_cast<std::size_t>(index));
      bar->setValue(static_cast<int>(std::min<std::uint64_t>(taken, bar->maximum())));
    }
    if (entry.phase == Rollout::Phase::kConfirming ||
        (entry.phase == Rollout::Phase::kDone && entry.result == RolloutResult::kUpgraded)) {
      bar->setValue(bar->maximum());
    }
    table_->item(row, rollout_column::kResult)->setText(PhaseText(entry));
    table_->item(row, rollout_column::kReason)->setText(QString::fromStdString(entry.reason));
    if (!entry.versionAfter.empty()) {
      table_->item(row, rollout_column::kVersion)->setText(Latin1(entry.versionAfter));
    }
  }
}

void RolloutDialog::Finish() {
  step_timer_->stop();
  if (hooks_.route) hooks_.route(nullptr);
  fleet_.reset();
  ShowEntries();
  SetControlsForRun(false);
  const Rollout::Summary tally = rollout_->Tally();
  status_->setText(tr("Done: %1 upgraded, %2 unchanged, %3 failed, %4 not started.")
                       .arg(tally.upgraded)
                       .arg(tally.unchanged)
                       .arg(tally.failed)
                       .arg(tally.notStarted));
  if (hooks_.running) hooks_.running(false);
  if (close_when_over_) QDialog::reject();
}

void RolloutDialog::SetControlsForRun(bool running) {
  for (QWidget* w :
       std::initializer_list<QWidget*>{image_, browse_, version_, canary_, parallel_, start_}) {
    w->setEnabled(!running);
  }
  stop_->setEnabled(running);
  for (int row = 0; row < table_->rowCount(); ++row) {
    QTableWidgetItem* item = table_->item(row, rollout_column::kModel);
    item->setFlags(running ? item->flags() & ~Qt::ItemIsUserCheckable
                           : item->flags() | Qt::ItemIsUserCheckable);
  }
  if (!running) start_->setFocus();
}

void RolloutDialog::ShowMessage(const QString& text) {
  prompter_.ShowMessage(this, text);
}

}  // namespace oxlo::ui
