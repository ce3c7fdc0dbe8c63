// The device list grid: columns, cell editors, the key filter of the address
// columns and the "Modified" mark that belongs to a row's pending edit.
#pragma once

#include <QIcon>
#include <QTimer>

#include "ui/common/edit_grid.h"

namespace oxlo::ui {

namespace column {
inline constexpr int kModel = 0;
inline constexpr int kMac = 1;
inline constexpr int kVersion = 2;
inline constexpr int kName = 3;
inline constexpr int kIp = 4;
inline constexpr int kMask = 5;
inline constexpr int kGateway = 6;
inline constexpr int kModified = 7;
inline constexpr int kColumn0 = 8;   // hidden, never filled
inline constexpr int kColumn1 = 9;   // hidden, never filled
inline constexpr int kColumn2 = 10;  // hidden: the address the device has
inline constexpr int kCount = 11;
}  // namespace column

// Characters a text column keeps; 0 for the check box columns.
int ColumnWidthInCharacters(int column);

// Whether a typed character reaches a cell of this column: the address
// columns filter it as address fields do.
bool KeyPassesColumnFilter(int column, QChar typed);

// What the marker column shows of a row's device, in rising weight.
enum class RowFinding { kNone, kInformation, kWarning };

class DeviceGrid : public EditGrid {
  Q_OBJECT

 public:
  explicit DeviceGrid(QWidget* parent);

  // Appends a row; every text is cut to its column's width.
  void AppendRow(const QStringList& texts);
  QString Text(int row, int column) const;
  void SetText(int row, int column, const QString& text);
  bool Modified(int row) const;
  void SetModified(int row, bool on);
  // The row's marker image and the tooltip of its marker and cells.
  void SetRowFinding(int row, RowFinding finding, const QString& toolTip);

 Q_SIGNALS:
  // The operator starts to change a cell of this row.
  void RowEditStarted(int row);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  // The cursor never lands on a read-only column by keyboard.
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  // A click on the highlighted row's cell edits it once no second click
  // follows; a key typed meanwhile starts the edit at once.
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  // Typing never moves the cursor to another device's row.
  void keyboardSearch(const QString&) override {}
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
  // A resized viewport (the vertical scroll bar came or went) fits the columns.
  bool viewportEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QIcon MarkerIcon(RowFinding finding) const;
  // Every MAC shows whole and the "Modified" header stays inside the
  // viewport, in the window's font: the device name column gives up the room.
  void FitColumns();

  // The "Modified" state of the row before its pending edit started.
  int pending_row_ = -1;
  bool modified_before_edit_ = false;
  // Qt's own delayed edit of a clicked cell makes a key typed within the
  // double-click interval search the column instead, moving the cursor to
  // another row; this one is ours to cancel.
  QTimer click_edit_;
  QPersistentModelIndex pressed_selected_;
};

}  // namespace oxlo::ui
