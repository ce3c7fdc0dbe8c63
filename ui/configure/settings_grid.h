// The grids of the configuration window: typed columns (text of limited
// length, numbers, fixed lists, check boxes), fills that are not operator
// changes, and one signal for every value the operator changes.
#pragma once

#include <QStringList>
#include <vector>

#include "ui/common/edit_grid.h"

namespace oxlo::ui {

enum class CellKind { ReadOnly, Text, Number, List, Check };

struct GridColumn {
  QString title;
  CellKind kind = CellKind::Text;
  int width = 0;
  bool hidden = false;
  int maxLength = 0;   // Text: characters the editor takes; 0 none
  QStringList values;  // List: the fixed values, in wire order
  bool centred = true;
};

GridColumn ReadOnlyColumn(const QString& title, int width);
GridColumn TextColumn(const QString& title, int width, int maxLength);
GridColumn NumberColumn(const QString& title, int width);
GridColumn ListColumn(const QString& title, int width, const QStringList& values);
GridColumn CheckColumn(const QString& title, int width);
// Carries the device's value without showing it to the operator.
GridColumn Hidden(GridColumn column);

class SettingsGrid : public EditGrid {
  Q_OBJECT

 public:
  SettingsGrid(std::vector<GridColumn> columns, int rowHeight, QWidget* parent);

  // Removes every row and appends `count` empty ones.
  void ResetRows(int count);
  QString Text(int row, int column) const;
  bool Checked(int row, int column) const;
  // Fills a cell; the operator did not change it.
  void Fill(int row, int column, const QString& text);
  void FillChecked(int row, int column, bool on);
  // Position of a list cell's text among the column's values; -1 outside.
  int ListPosition(int row, int column) const;
  const GridColumn& Column(int column) const {
    return columns_.at(static_cast<std::size_t>(column));
  }

 Q_SIGNALS:
  // The operator changed the value of a cell.
  void ValueChanged(int row, int column);

 protected:
  // The cursor never lands on a read-only column by keyboard.
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;

 private:
  std::vector<GridColumn> columns_;
  bool filling_ = false;
};

}  // namespace oxlo::ui
