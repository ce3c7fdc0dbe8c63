#include "ui/configure/opmode_tab.h"

#include <QVBoxLayout>

#include "protocol/settings/code_names.h"
#include "protocol/settings/setting_checks.h"
#include "protocol/wire/fields.h"
#include "ui/common/list_names.h"
#include "ui/configure/settings_grid.h"

namespace oxlo::ui {
namespace {

const QStringList kPortTypes = ListNames(kPortTypeNames);

QStringList ModeNames() {
  return ListNames(kOperationModeNames);
}

std::vector<GridColumn> Columns() {
  return {
      ReadOnlyColumn("No.", 31),
      TextColumn("Port Alias", 94, static_cast<int>(kAliasFieldSize)),
      ListColumn("Operation Mode", 111, ModeNames()),
      NumberColumn("Local Port", 67),
      Hidden(ListColumn("Type", 14, kPortTypes)),
      TextColumn("Target IP Addr.", 103, 15),
      NumberColumn("Target Port", 70),
      NumberColumn("Alive", 50),
      Hidden(NumberColumn("Latency", 59)),
      Hidden(CheckColumn("No-delay", 50)),
  };
}

// A number the field cannot hold is refused, never wrapped.
std::uint16_t WordCell(const SettingsGrid& grid, int row, int column) {
  return WordFieldFromText(grid.Text(row, column).toStdString(),
                           grid.Column(column).title.toStdString());
}

}  // namespace

OpModeTab::OpModeTab(QWidget* parent) : QWidget(parent) {
  OpGrid = new SettingsGrid(Columns(), 18, this);
  OpGrid->setObjectName("OpGrid");
  OpGrid->setFrameShape(QFrame::NoFrame);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(OpGrid);
  connect(OpGrid, &SettingsGrid::ValueChanged, this, &OpModeTab::OpGridValueChanged);
}

void OpModeTab::ResetRows(int count) {
  OpGrid->ResetRows(count);
}

bool OpModeTab::Fill(const OpModeReply& reply) {
  using namespace opcolumn;
  if (!reply.portIndex) return false;
  const int row = *reply.portIndex;
  if (row >= OpGrid->rowCount()) return false;
  OpGrid->Fill(row, kNo, QString::number(row + 1));
  if (!reply.alias) return false;
  OpGrid->Fill(
      row, kAlias,
      QString::fromLatin1(reply.alias->data(), static_cast<qsizetype>(reply.alias->size())));
  if (!reply.mode) return false;
  OpGrid->Fill(row, kMode, ModeNames().at(static_cast<int>(*reply.mode)));
  if (!reply.localPort) return false;
  OpGrid->Fill(row, kLocalPort, QString::number(*reply.localPort));
  if (!reply.portType) return false;
  OpGrid->Fill(row, kType, kPortTypes.at(*reply.portType));
  if (!reply.targetAddress) return false;
  OpGrid->Fill(row, kTargetIp, QString::fromStdString(Ipv4ToText(*reply.targetAddress)));
  if (!reply.targetPort) return false;
  OpGrid->Fill(row, kTargetPort, QString::number(*reply.targetPort));
  if (!reply.alive) return false;
  OpGrid->Fill(row, kAlive, QString::number(*reply.alive));
  if (!reply.latency) return false;
  OpGrid->Fill(row, kLatency, QString::number(*reply.latency));
  if (!reply.noDelay) return false;
  OpGrid->FillChecked(row, kNoDelay, *reply.noDelay);
  return true;
}

bool OpModeTab::Fill(const PortSettings& settings) {
  OpModeReply whole;
  whole.portIndex = settings.portIndex;
  whole.alias = settings.alias;
  whole.mode = settings.mode;
  whole.localPort = settings.localPort;
  whole.portType = settings.portType;
  whole.targetAddress = settings.targetAddress;
  whole.targetPort = settings.targetPort;
  whole.alive = settings.alive;
  whole.latency = settings.latency;
  whole.noDelay = settings.noDelay;
  return Fill(whole);
}

CheckedBuild OpModeTab::BuildForApply(const MacField& mac, int row) const {
  if (const auto refusal = CheckPortMode(OpGrid->Text(row, opcolumn::kMode).toStdString())) {
    return {{}, QString::fromStdString(*refusal)};
  }
  return {BuildOpModeMessage(mac, *Settings(row)), {}};
}

std::optional<Bytes> OpModeTab::BuildMessage(const MacField& mac, int row) const {
  CheckedBuild build = BuildForApply(mac, row);
  if (!build.failure.isEmpty()) return std::nullopt;
  return std::move(build.message);
}

std::optional<PortSettings> OpModeTab::Settings(int row) const {
  using namespace opcolumn;
  PortSettings port;
  port.portIndex = static_cast<std::uint8_t>(row);
  // Latin-1: the alias goes as 8-bit bytes, unlike the UTF-8 device name.
  port.alias = OpGrid->Text(row, kAlias).toLatin1().toStdString();
  const std::optional<OperationMode> mode = ModeFromName(OpGrid->Text(row, kMode).toStdString());
  if (!mode) return std::nullopt;
  port.mode = *mode;
  port.localPort = WordCell(*OpGrid, row, kLocalPort);
  const int type = OpGrid->ListPosition(row, kType);
  port.portType = type < 0 ? kPortTypeNone : static_cast<std::uint8_t>(type);
  port.targetAddress = AddressFieldFromText(OpGrid->Text(row, kTargetIp).toStdString(),
                                            OpGrid->Column(kTargetIp).title.toStdString());
  port.targetPort = WordCell(*OpGrid, row, kTargetPort);
  port.alive = WordCell(*OpGrid, row, kAlive);
  port.latency = WordCell(*OpGrid, row, kLatency);
  port.noDelay = OpGrid->Checked(row, kNoDelay);
  return port;
}

}  // namespace oxlo::ui
