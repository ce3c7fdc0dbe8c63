#include "ui/configure/config_form.h"

#include "ui/common/window_style.h"

namespace oxlo::ui {

TConfigForm::TConfigForm(QWidget* parent) : QDialog(parent, kFixedWindowFlags) {
  setObjectName("TConfigForm");
  setWindowTitle("Configure");
  setFixedSize(798, 416);
}

}  // namespace oxlo::ui
