// The "CAN Setting" tab: bit rate, identifier format, identifier and mask.
#pragma once

#include <QString>
#include <QWidget>

#include "protocol/wire/bytes.h"
#include "protocol/wire/can_messages.h"

namespace oxlo::ui {

class SettingsGrid;

namespace cancolumn {
inline constexpr int kBaud = 0;
inline constexpr int kIdFormat = 1;
inline constexpr int kId = 2;
inline constexpr int kMask = 3;
}  // namespace cancolumn

// A message, or the validation text that refused it.
struct CheckedBuild {
  Bytes message;
  QString failure;  // empty when the message was built
};

class CanTab : public QWidget {
  Q_OBJECT

 public:
  explicit CanTab(QWidget* parent);

  void ResetRows(int count);
  // Writes row 0 from a 'c' reply or a stored 'C' message. False when there is
  // no row, the reply is short, or a list has no entry for its byte (the
  // bit rate is written before the format is looked up).
  bool Fill(ByteView message);
  bool Fill(const CanSettings& settings);
  // The identifier format code of row 0: 1 for "A", 2 for "B", 0 otherwise.
  int IdFormat() const;
  // Validated: identifier, then mask, against the format.
  CheckedBuild BuildForApply(const MacField& mac) const;
  // What the row shows, not validated, as the file keeps what the grid
  // holds: 0xFF for no bit rate, 0 for no identifier format.
  CanSettings Settings() const;
  // The 'C' message of Settings().
  Bytes BuildForExport(const MacField& mac) const;
  SettingsGrid& Grid() { return *CANGrid; }

 Q_SIGNALS:
  void CANGridValueChanged();

 private:
  SettingsGrid* CANGrid;
};

}  // namespace oxlo::ui
