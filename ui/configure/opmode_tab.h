// The "Operation Mode" tab: one grid row per port.
#pragma once

#include <QWidget>
#include <optional>

#include "protocol/wire/bytes.h"
#include "protocol/wire/settings_messages.h"
#include "ui/configure/can_tab.h"

namespace oxlo::ui {

class SettingsGrid;

namespace opcolumn {
inline constexpr int kNo = 0;
inline constexpr int kAlias = 1;
inline constexpr int kMode = 2;
inline constexpr int kLocalPort = 3;
inline constexpr int kType = 4;  // hidden
inline constexpr int kTargetIp = 5;
inline constexpr int kTargetPort = 6;
inline constexpr int kAlive = 7;
inline constexpr int kLatency = 8;  // hidden
inline constexpr int kNoDelay = 9;  // hidden
}  // namespace opcolumn

class OpModeTab : public QWidget {
  Q_OBJECT

 public:
  explicit OpModeTab(QWidget* parent);

  void ResetRows(int count);
  // Fills the reply's port row as far as the reply decoded. False when the
  // row does not exist or the reply stopped early: the reply failed.
  bool Fill(const OpModeReply& reply);
  bool Fill(const PortSettings& settings);
  // What a row shows, or nothing when its "Operation Mode" cell names no
  // mode. Throws ConversionError for a number or an address cell that does
  // not convert, FieldRangeError for one its field cannot hold.
  std::optional<PortSettings> Settings(int row) const;
  // The 41-byte 'O' message of Settings(row), or the text that refuses a row
  // naming no mode. Throws as Settings() does.
  CheckedBuild BuildForApply(const MacField& mac, int row) const;
  // BuildForApply's message; nothing for a row naming no mode.
  std::optional<Bytes> BuildMessage(const MacField& mac, int row) const;
  SettingsGrid& Grid() { return *OpGrid; }

 Q_SIGNALS:
  void OpGridValueChanged();

 private:
  SettingsGrid* OpGrid;
};

}  // namespace oxlo::ui
