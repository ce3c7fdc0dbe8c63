#include "ui/detect/device_grid.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <array>

#include "ui/common/key_filters.h"

namespace oxlo::ui {
namespace {

struct ColumnLayout {
  const char* title;
  int characters;  // kept; 0 for check boxes
  int width;       // pixels; 0 when hidden
};

constexpr std::array<ColumnLayout, column::kCount> kColumns{{
    {"Model", 16, 113},
    {"MAC Address", 17, 119},
    {"Version", 7, 104},
    {"Device Name", 32, 136},
    {"IP Address", 15, 119},
    {"Subnet Mask", 15, 105},
    {"Gateway", 15, 110},
    {"Modified", 0, 86},
    {"Column0", 0, 0},
    {"Column1", 16, 0},
    {"Column2", 16, 0},
}};

constexpr int kMarkerWidth = 19;
constexpr int kRowHeight = 20;
constexpr int kHeaderHeight = 21;
const char kColumnProperty[] = "oxloColumn";

bool IsEditableText(int c) {
  return c >= column::kName && c <= column::kGateway;
}
bool IsAddress(int c) {
  return c >= column::kIp && c <= column::kGateway;
}

// Line editors that keep the column's width and filter typed characters.
class CellDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (line == nullptr) return editor;
    const int c = index.column();
    line->setProperty(kColumnProperty, c);
    line->setMaxLength(ColumnWidthInCharacters(c));
    line->setAlignment(Qt::AlignCenter);
    if (c == column::kName) line->setAttribute(Qt::WA_InputMethodEnabled, false);
    // Typed keys are filtered below; this also keeps pasted text to the same set.
    if (IsAddress(c)) {
      line->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9.%']*"), line));
    }
    return editor;
  }

  // A device's name may hold bidirectional controls that would show
  // "invoice\u202Egnp.exe" as "invoiceexe.png": they are shown as marks.
  // Only the shown text changes; the cell keeps the name as the device sent it.
  QString displayText(const QVariant& value, const QLocale& locale) const override {
    QString text = QStyledItemDelegate::displayText(value, locale);
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
      const char16_t c = text.at(i).unicode();
      if ((c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) {
        text.replace(i, 1, QStringLiteral("\\u") + QString::number(c, 16).toUpper());
      }
    }
    return text;
  }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      const QVariant c = object->property(kColumnProperty);
      const std::optional<QChar> typed = TypedCharacter(*static_cast<QKeyEvent*>(event));
      if (c.isValid() && typed && !KeyPassesColumnFilter(c.toInt(), *typed)) {
        return true;
      }
    }
    return QStyledItemDelegate::eventFilter(object, event);
  }
};

QPixmap MarkerImage() {
  QPixmap image(11, 11);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setPen(QColor(96, 96, 96));
  painter.drawRect(0, 0, 10, 10);
  painter.setPen(QPen(QColor(0, 128, 0), 2));
  painter.drawLine(2, 5, 4, 8);
  painter.drawLine(4, 8, 8, 2);
  return image;
}

}  // namespace

int ColumnWidthInCharacters(int c) {
  return kColumns.at(static_cast<std::size_t>(c)).characters;
}

bool KeyPassesColumnFilter(int c, QChar typed) {
  return c < column::kIp || AddressKeyPasses(typed);
}

DeviceGrid::DeviceGrid(QWidget* parent) : EditGrid(0, column::kCount, parent) {
  setItemDelegate(new CellDelegate(this));
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  // The columns are fitted to the viewport (FitColumns), never scrolled.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
  click_edit_.setSingleShot(true);
  connect(&click_edit_, &QTimer::timeout, this, [this] {
    if (currentIndex() == pressed_selected_ && state() != EditingState) {
      edit(currentIndex(), EditKeyPressed, nullptr);
    }
  });
  setStyleSheet(
      "QTableWidget { selection-background-color: rgb(192, 220, 192);"
      " selection-color: black; }"
      "QHeaderView { font-weight: bold; }");

  QStringList titles;
  for (const ColumnLayout& layout : kColumns) titles << layout.title;
  setHorizontalHeaderLabels(titles);
  horizontalHeader()->setFixedHeight(kHeaderHeight);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setHighlightSections(false);
  for (int c = 0; c < column::kCount; ++c) {
    if (kColumns.at(static_cast<std::size_t>(c)).width == 0) {
      setColumnHidden(c, true);
    } else {
      setColumnWidth(c, kColumns.at(static_cast<std::size_t>(c)).width);
    }
  }

  FitColumns();

  // The marker column: a fixed image on every row, no row numbers.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setMinimumSectionSize(kRowHeight);
  verticalHeader()->setDefaultSectionSize(kRowHeight);
  verticalHeader()->setFixedWidth(kMarkerWidth);
  verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
}

void DeviceGrid::FitColumns() {
  const auto layout = [](int c) { return kColumns.at(static_cast<std::size_t>(c)).width; };
  QFont bold = horizontalHeader()->font();
  bold.setBold(true);
  const int headerMargins = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this);
  const auto headerWidth = [&](int c) {
    return QFontMetrics(bold).horizontalAdvance(model()->headerData(c, Qt::Horizontal).toString()) +
           headerMargins;
  };
  // Cells draw their text inside the focus frame's margin on each side, and
  // the grid line takes a pixel of the cell.
  const int cellMargins =
      2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 2;
  std::array<int, column::kCount> widths{};
  for (int c = 0; c < column::kCount; ++c) widths.at(static_cast<std::size_t>(c)) = layout(c);
  widths[column::kMac] =
      std::max(layout(column::kMac),
               fontMetrics().horizontalAdvance(QStringLiteral("DD-DD-DD-DD-DD-DD")) + cellMargins);
  widths[column::kModified] = std::max(layout(column::kModified), headerWidth(column::kModified));
  // What no longer fits is taken from the columns with room to spare, each
  // down to its header's width at most.
  int over = -viewport()->width();
  for (const int w : widths) over += w;
  for (const int c : {column::kVersion, column::kName, column::kModel}) {
    if (over <= 0) break;
    int& w = widths.at(static_cast<std::size_t>(c));
    const int give = std::clamp(w - headerWidth(c), 0, over);
    w -= give;
    over -= give;
  }
  for (const int c :
       {column::kMac, column::kModified, column::kVersion, column::kName, column::kModel}) {
    setColumnWidth(c, widths.at(static_cast<std::size_t>(c)));
  }
}

bool DeviceGrid::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::Resize) FitColumns();
  return EditGrid::viewportEvent(event);
}

void DeviceGrid::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) FitColumns();
  EditGrid::changeEvent(event);
}

QIcon DeviceGrid::MarkerIcon(RowFinding finding) const {
  switch (finding) {
    case RowFinding::kWarning:
      return style()->standardIcon(QStyle::SP_MessageBoxWarning);
    case RowFinding::kInformation:
      return style()->standardIcon(QStyle::SP_MessageBoxInformation);
    case RowFinding::kNone:
      break;
  }
  static const QPixmap marker = MarkerImage();
  return QIcon(marker);
}

void DeviceGrid::SetRowFinding(int row, RowFinding finding, const QString& toolTip) {
  QTableWidgetItem* header = verticalHeaderItem(row);
  if (header == nullptr) return;
  header->setIcon(MarkerIcon(finding));
  header->setToolTip(toolTip);
  for (int c = 0; c < column::kCount; ++c) {
    if (QTableWidgetItem* cell = item(row, c)) cell->setToolTip(toolTip);
  }
}

void DeviceGrid::AppendRow(const QStringList& texts) {
  const int row = rowCount();
  setRowCount(row + 1);
  auto* header = new QTableWidgetItem(MarkerIcon(RowFinding::kNone), QString());
  setVerticalHeaderItem(row, header);
  for (int c = 0; c < column::kCount; ++c) {
    auto* item = new QTableWidgetItem;
    if (c == column::kModified || c == column::kColumn0) {
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
      item->setCheckState(Qt::Unchecked);
    } else {
      const QString text = c < texts.size() ? texts.at(c) : QString();
      item->setText(text.left(ColumnWidthInCharacters(c)));
      item->setTextAlignment(Qt::AlignCenter);
      Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
      if (IsEditableText(c)) flags |= Qt::ItemIsEditable;
      item->setFlags(flags);
    }
    setItem(row, c, item);
  }
}

QString DeviceGrid::Text(int row, int c) const {
  const QTableWidgetItem* cell = item(row, c);
  return cell == nullptr ? QString() : cell->text();
}

void DeviceGrid::SetText(int row, int c, const QString& text) {
  if (QTableWidgetItem* cell = item(row, c)) cell->setText(text.left(ColumnWidthInCharacters(c)));
}

bool DeviceGrid::Modified(int row) const {
  const QTableWidgetItem* cell = item(row, column::kModified);
  return cell != nullptr && cell->checkState() == Qt::Checked;
}

void DeviceGrid::SetModified(int row, bool on) {
  if (QTableWidgetItem* cell = item(row, column::kModified)) {
    cell->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  }
}

void DeviceGrid::mousePressEvent(QMouseEvent* event) {
  const QModelIndex index = indexAt(event->position().toPoint());
  pressed_selected_ = index.isValid() && selectionModel()->isSelected(index)
                          ? QPersistentModelIndex(index)
                          : QPersistentModelIndex();
  QTableWidget::mousePressEvent(event);
}

void DeviceGrid::mouseReleaseEvent(QMouseEvent* event) {
  QTableWidget::mouseReleaseEvent(event);
  if (pressed_selected_.isValid() && indexAt(event->position().toPoint()) == pressed_selected_) {
    click_edit_.start(QApplication::doubleClickInterval());
  }
}

void DeviceGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  click_edit_.stop();
  pressed_selected_ = QPersistentModelIndex();
  QTableWidget::mouseDoubleClickEvent(event);
}

void DeviceGrid::keyPressEvent(QKeyEvent* event) {
  click_edit_.stop();
  const std::optional<QChar> typed = TypedCharacter(*event);
  if (typed && !KeyPassesColumnFilter(currentColumn(), *typed)) {
    event->accept();
    return;
  }
  QTableWidget::keyPressEvent(event);
}

QModelIndex DeviceGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  const QModelIndex next = QTableWidget::moveCursor(action, modifiers);
  if (!next.isValid() || next.column() >= column::kName) return next;
  const QModelIndex current = currentIndex();
  const bool backwards = action == MoveLeft || action == MovePrevious;
  if (backwards && current.isValid() && current.column() >= column::kName) return current;
  return model()->index(next.row(), column::kName);
}

bool DeviceGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  const bool was_editing = state() == EditingState;
  const bool was_modified = index.isValid() && Modified(index.row());
  if (!QTableWidget::edit(index, trigger, event)) return false;
  if (!was_editing && state() == EditingState && IsEditableText(index.column())) {
    pending_row_ = index.row();
    modified_before_edit_ = was_modified;
    Q_EMIT RowEditStarted(index.row());
  }
  return true;
}

void DeviceGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  if (hint == QAbstractItemDelegate::RevertModelCache && pending_row_ >= 0 &&
      pending_row_ < rowCount()) {
    SetModified(pending_row_, modified_before_edit_);
  }
  pending_row_ = -1;
  QTableWidget::closeEditor(editor, hint);
}

}  // namespace oxlo::ui
