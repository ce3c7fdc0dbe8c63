#include "ui/common/edit_grid.h"

namespace oxlo::ui {

void EditGrid::CommitPendingEdit() {
  if (state() != EditingState) return;
  QWidget* editor = indexWidget(currentIndex());
  if (editor == nullptr) return;
  commitData(editor);
  closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void EditGrid::DiscardPendingEdit() {
  if (state() != EditingState) return;
  if (QWidget* editor = indexWidget(currentIndex())) {
    closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
  }
}

}  // namespace oxlo::ui
