// The configuration window: created once, hidden, reused for every device.
#pragma once

#include <QDialog>

namespace oxlo::ui {

class TConfigForm : public QDialog {
  Q_OBJECT

 public:
  explicit TConfigForm(QWidget* parent = nullptr);
};

}  // namespace oxlo::ui
