#include "ui/configure/filter_tab.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "protocol/settings/code_names.h"
#include "protocol/settings/setting_checks.h"
#include "ui/common/list_names.h"

namespace oxlo::ui {
namespace {

const QStringList kGroupNames{"No.  1 - 4",  "No.  5 - 8",  "No.  9 - 12", "No. 13 - 16",
                              "No. 17 - 20", "No. 21 - 24", "No. 25 - 28", "No. 29 - 32"};
const QStringList kTypeNames = ListNames(kFilterTypeNames);

QLabel* AddLabel(const QString& text, QWidget* parent, QRect geometry) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(geometry);
  return label;
}

}  // namespace

FilterTab::FilterTab(const FilterTable& table, QWidget* parent) : QWidget(parent), table_(table) {
  QLabel* caption = AddLabel("SW Filter Option", this, {40, 24, 200, 16});
  QFont bold = caption->font();
  bold.setBold(true);
  caption->setFont(bold);

  FilterNumber = new QComboBox(this);
  FilterNumber->setObjectName("FilterNumber");
  FilterNumber->setGeometry(40, 50, 121, 21);
  FilterNumber->addItems(kGroupNames);
  FilterNumber->setCurrentIndex(-1);
  connect(FilterNumber, &QComboBox::activated, this, &FilterTab::FilterNumberChange);

  for (int k = 0; k < kSlotsPerGroup; ++k) {
    const int y = 96 + 36 * k;
    const QString n = QString::number(k + 1);
    lblFilterNum[k] = AddLabel(n + " :", this, {40, y + 2, 32, 16});
    lblFilterNum[k]->setObjectName("lblFilterNum" + n);
    AddLabel("Filter Type", this, {80, y + 2, 70, 16});
    FilterType[k] = new QComboBox(this);
    FilterType[k]->setObjectName("FilterType" + n);
    FilterType[k]->setGeometry(152, y, 97, 21);
    FilterType[k]->addItems(kTypeNames);
    FilterType[k]->setCurrentIndex(-1);
    AddLabel("Filter ID", this, {280, y + 2, 60, 16});
    FilterID[k] = new QLineEdit(this);
    FilterID[k]->setObjectName("FilterID" + n);
    FilterID[k]->setGeometry(344, y, 97, 19);
    FilterID[k]->setMaxLength(static_cast<int>(kCanIdTextMax));
    connect(FilterType[k], &QComboBox::activated, this, &FilterTab::Changed);
    connect(FilterID[k], &QLineEdit::textChanged, this, &FilterTab::Changed);
  }
}

void FilterTab::FilterNumberChange(int group) {
  Q_EMIT Changed();
  FilterNumber->setCurrentIndex(group);
  LoadSlots(group);
}

void FilterTab::ShowFirstGroup() {
  FilterNumber->setCurrentIndex(0);
  LoadSlots(0);
}

int FilterTab::SelectedGroup() const {
  return FilterNumber->currentIndex();
}

void FilterTab::LoadSlots(int group) {
  for (int k = 0; k < kSlotsPerGroup; ++k) {
    const FilterEntry& entry = table_.Slot(group, k);
    const bool listed = entry.type >= 0 && entry.type < kTypeNames.size();
    FilterType[k]->setCurrentIndex(listed ? entry.type : -1);
    FilterID[k]->setText(QString::fromStdString(entry.id));
    lblFilterNum[k]->setText(QString::number(4 * group + k + 1) + ":");
  }
}

CheckedBuild FilterTab::BuildFromSlots(const MacField& mac, int group, int idFormat) const {
  std::array<FilterEntry, kSlotsPerGroup> slots;
  for (int k = 0; k < kSlotsPerGroup; ++k) {
    slots[k] = {FilterType[k]->currentIndex(), FilterID[k]->text().toStdString()};
  }
  if (const auto refusal = CheckFilterGroup(slots, idFormat)) {
    return {{}, QString::fromStdString(*refusal)};
  }
  std::array<std::int32_t, kSlotsPerGroup> types{};
  std::array<std::string, kSlotsPerGroup> ids;
  for (int k = 0; k < kSlotsPerGroup; ++k) {
    // No type chosen goes out as 0xFF.
    types[k] = slots[k].type < 0 ? 0xFF : slots[k].type;
    ids[k] = slots[k].id;
  }
  return {BuildFilterGroup(mac, group, types, ids), {}};
}

Bytes FilterTab::BuildFromTable(const MacField& mac, int group) const {
  return BuildFilterGroupOfTable(mac, table_, group);
}

}  // namespace oxlo::ui
