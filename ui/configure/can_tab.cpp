#include "ui/configure/can_tab.h"

#include <QVBoxLayout>

#include "protocol/settings/code_names.h"
#include "protocol/settings/setting_checks.h"
#include "ui/common/list_names.h"
#include "ui/configure/settings_grid.h"

namespace oxlo::ui {
namespace {

using namespace cancolumn;

QStringList BaudNames() {
  QStringList names;
  for (int index = 0; index < static_cast<int>(kBaudRatesKbit.size()); ++index) {
    names << QString::fromStdString(BitRateName(index));
  }
  return names;
}

const QStringList kFormatNames = ListNames(kIdFormatWindowNames);

std::vector<GridColumn> Columns() {
  const int id_length = static_cast<int>(kCanIdTextMax);
  return {
      ListColumn("Baud rate", 79, BaudNames()),
      ListColumn("Specification", 102, kFormatNames),
      TextColumn("ID", 151, id_length),
      TextColumn("Mask", 142, id_length),
  };
}

}  // namespace

CanTab::CanTab(QWidget* parent) : QWidget(parent) {
  CANGrid = new SettingsGrid(Columns(), 18, this);
  CANGrid->setObjectName("CANGrid");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(CANGrid);
  connect(CANGrid, &SettingsGrid::ValueChanged, this, &CanTab::CANGridValueChanged);
}

void CanTab::ResetRows(int count) {
  CANGrid->ResetRows(count);
}

bool CanTab::Fill(ByteView message) {
  const std::optional<CanSettings> settings = ParseCanSettings(message);
  return settings && Fill(*settings);
}

bool CanTab::Fill(const CanSettings& settings) {
  if (CANGrid->rowCount() == 0 || settings.baudIndex >= kBaudRatesKbit.size()) return false;
  CANGrid->Fill(0, kBaud, BaudNames().at(settings.baudIndex));
  if (settings.idFormat != kIdFormat11Bit && settings.idFormat != kIdFormat29Bit) return false;
  CANGrid->Fill(0, kIdFormat, kFormatNames.at(settings.idFormat - kIdFormat11Bit));
  CANGrid->Fill(0, kId, QString::fromStdString(settings.id));
  CANGrid->Fill(0, kMask, QString::fromStdString(settings.mask));
  return true;
}

int CanTab::IdFormat() const {
  return CANGrid->ListPosition(0, kIdFormat) + 1;
}

CheckedBuild CanTab::BuildForApply(const MacField& mac) const {
  if (const auto refusal = CheckCanSettings(Settings())) {
    return {{}, QString::fromStdString(*refusal)};
  }
  return {BuildForExport(mac), {}};
}

CanSettings CanTab::Settings() const {
  const int baud = CANGrid->ListPosition(0, kBaud);
  return {static_cast<std::uint8_t>(baud < 0 ? 0xFF : baud), static_cast<std::uint8_t>(IdFormat()),
          CANGrid->Text(0, kId).toStdString(), CANGrid->Text(0, kMask).toStdString()};
}

Bytes CanTab::BuildForExport(const MacField& mac) const {
  const CanSettings can = Settings();
  return BuildCanSettings(mac, can.baudIndex, can.idFormat, can.id, can.mask);
}

}  // namespace oxlo::ui
