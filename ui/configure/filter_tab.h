// The "Filter Setting" tab: one group of four filters of the FilterTable at
// a time, as an editing view of the table.
#pragma once

#include <QWidget>
#include <array>

#include "protocol/wire/can_messages.h"
#include "ui/configure/can_tab.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace oxlo::ui {

class FilterTab : public QWidget {
  Q_OBJECT

 public:
  FilterTab(const FilterTable& table, QWidget* parent);

  // The operator's choice of group g (0-7): a change, and the slots reloaded.
  void FilterNumberChange(int group);
  // After group 1 arrived or a file was read: shows it without counting as a change.
  void ShowFirstGroup();
  // The group on show, -1 before any was shown.
  int SelectedGroup() const;
  // Group g from the slot rows, each examined in order against the CAN format.
  CheckedBuild BuildFromSlots(const MacField& mac, int group, int idFormat) const;
  // Group g from the table, unvalidated.
  Bytes BuildFromTable(const MacField& mac, int group) const;

 Q_SIGNALS:
  // Any change of the filter settings (the Filters change flag).
  void Changed();

 private:
  void LoadSlots(int group);

  const FilterTable& table_;
  QComboBox* FilterNumber;
  std::array<QLabel*, kSlotsPerGroup> lblFilterNum{};
  std::array<QComboBox*, kSlotsPerGroup> FilterType{};
  std::array<QLineEdit*, kSlotsPerGroup> FilterID{};
};

}  // namespace oxlo::ui
