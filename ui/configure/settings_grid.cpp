#include "ui/configure/settings_grid.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QStyledItemDelegate>

namespace oxlo::ui {
namespace {

constexpr int kHeaderHeight = 21;

class ColumnDelegate final : public QStyledItemDelegate {
 public:
  ColumnDelegate(const SettingsGrid& grid, QObject* parent)
      : QStyledItemDelegate(parent), grid_(grid) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    const GridColumn& column = grid_.Column(index.column());
    if (column.kind == CellKind::List) {
      auto* combo = new QComboBox(parent);
      combo->addItems(column.values);
      // A pick commits at once, so the value changes as the operator chooses it.
      connect(combo, &QComboBox::activated, this, [this, combo] {
        auto* self = const_cast<ColumnDelegate*>(this);
        Q_EMIT self->commitData(combo);
      });
      return combo;
    }
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
      if (column.centred) line->setAlignment(Qt::AlignCenter);
      if (column.maxLength > 0) line->setMaxLength(column.maxLength);
      if (column.kind == CellKind::Number) {
        line->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]{0,5}"), line));
      }
    }
    return editor;
  }

  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
      combo->setCurrentIndex(combo->findText(index.data().toString()));
      return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
  }

  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override {
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
      if (combo->currentIndex() >= 0) model->setData(index, combo->currentText());
      return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
  }

 private:
  const SettingsGrid& grid_;
};

GridColumn MakeColumn(const QString& title, CellKind kind, int width) {
  GridColumn column;
  column.title = title;
  column.kind = kind;
  column.width = width;
  return column;
}

}  // namespace

GridColumn ReadOnlyColumn(const QString& title, int width) {
  return MakeColumn(title, CellKind::ReadOnly, width);
}

GridColumn TextColumn(const QString& title, int width, int maxLength) {
  GridColumn column = MakeColumn(title, CellKind::Text, width);
  column.maxLength = maxLength;
  return column;
}

GridColumn NumberColumn(const QString& title, int width) {
  return MakeColumn(title, CellKind::Number, width);
}

GridColumn ListColumn(const QString& title, int width, const QStringList& values) {
  GridColumn column = MakeColumn(title, CellKind::List, width);
  column.values = values;
  return column;
}

GridColumn CheckColumn(const QString& title, int width) {
  GridColumn column = MakeColumn(title, CellKind::Check, width);
  column.centred = false;
  return column;
}

GridColumn Hidden(GridColumn column) {
  column.hidden = true;
  return column;
}

SettingsGrid::SettingsGrid(std::vector<GridColumn> columns, int rowHeight, QWidget* parent)
    : EditGrid(0, static_cast<int>(columns.size()), parent), columns_(std::move(columns)) {
  setItemDelegate(new ColumnDelegate(*this, this));
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::AllEditTriggers);
  setStyleSheet(
      "QTableWidget { selection-background-color: rgb(192, 220, 192);"
      " selection-color: black; }");
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setMinimumSectionSize(rowHeight);
  verticalHeader()->setDefaultSectionSize(rowHeight);
  horizontalHeader()->setFixedHeight(kHeaderHeight);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setHighlightSections(false);
  QStringList titles;
  for (int c = 0; c < columnCount(); ++c) {
    titles << Column(c).title;
    setColumnWidth(c, Column(c).width);
    setColumnHidden(c, Column(c).hidden);
  }
  setHorizontalHeaderLabels(titles);
  connect(this, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (!filling_) Q_EMIT ValueChanged(item->row(), item->column());
  });
}

void SettingsGrid::ResetRows(int count) {
  filling_ = true;
  setRowCount(0);
  setRowCount(count);
  for (int r = 0; r < count; ++r) {
    for (int c = 0; c < columnCount(); ++c) {
      auto* item = new QTableWidgetItem;
      Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
      if (Column(c).kind == CellKind::Check) {
        flags |= Qt::ItemIsUserCheckable;
        item->setCheckState(Qt::Unchecked);
      } else if (Column(c).kind != CellKind::ReadOnly) {
        flags |= Qt::ItemIsEditable;
      }
      item->setFlags(flags);
      if (Column(c).centred) item->setTextAlignment(Qt::AlignCenter);
      setItem(r, c, item);
    }
  }
  filling_ = false;
}

QString SettingsGrid::Text(int row, int c) const {
  const QTableWidgetItem* cell = item(row, c);
  return cell == nullptr ? QString() : cell->text();
}

bool SettingsGrid::Checked(int row, int c) const {
  const QTableWidgetItem* cell = item(row, c);
  return cell != nullptr && cell->checkState() == Qt::Checked;
}

void SettingsGrid::Fill(int row, int c, const QString& text) {
  QTableWidgetItem* cell = item(row, c);
  if (cell == nullptr) return;
  filling_ = true;
  cell->setText(text);
  filling_ = false;
}

void SettingsGrid::FillChecked(int row, int c, bool on) {
  QTableWidgetItem* cell = item(row, c);
  if (cell == nullptr) return;
  filling_ = true;
  cell->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  filling_ = false;
}

QModelIndex SettingsGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  const QModelIndex current = currentIndex();
  QModelIndex next = QTableWidget::moveCursor(action, modifiers);
  const bool forwards = action == MoveRight || action == MoveNext;
  while (next.isValid() && Column(next.column()).kind == CellKind::ReadOnly) {
    if (!forwards) return current;
    const QModelIndex further = model()->index(next.row(), next.column() + 1);
    if (!further.isValid()) return current;
    next = further;
  }
  return next;
}

int SettingsGrid::ListPosition(int row, int c) const {
  return static_cast<int>(Column(c).values.indexOf(Text(row, c)));
}

}  // namespace oxlo::ui
