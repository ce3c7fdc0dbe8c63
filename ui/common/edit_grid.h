// A grid whose cell edit in progress can be stored on demand.
#pragma once

#include <QTableWidget>

namespace oxlo::ui {

class EditGrid : public QTableWidget {
 public:
  using QTableWidget::QTableWidget;

  // Stores the edit in progress, if any, as if the operator had pressed Enter.
  // The windows' buttons take no focus, so a click on one leaves the editor
  // open: every action that reads cells calls this first.
  void CommitPendingEdit();
  bool Editing() const { return state() == EditingState; }
  // Closes the editor in progress, if any, without storing what it holds.
  void DiscardPendingEdit();
};

}  // namespace oxlo::ui
