#include "ui/detect/form_search_ip.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <utility>

#include "protocol/settings/address_check.h"
#include "ui/common/prompter.h"
#include "ui/common/window_style.h"

namespace oxlo::ui {

TFormSearchIP::TFormSearchIP(Prompter& prompter, QWidget* parent)
    : QDialog(parent), prompter_(prompter) {
  setObjectName("TFormSearchIP");
  setWindowTitle("Search by IP");
  setWindowFlags(kFixedWindowFlags);
  setFixedSize(429, 180);
  setAutoFillBackground(true);
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);

  auto* FlatPanel1 = new QFrame(this);
  FlatPanel1->setObjectName("FlatPanel1");
  FlatPanel1->setFrameShape(QFrame::Box);
  FlatPanel1->setGeometry(0, 0, 429, 180);

  auto* Shape2 = new QFrame(FlatPanel1);
  Shape2->setObjectName("Shape2");
  Shape2->setGeometry(1, 14, 426, 45);
  Shape2->setStyleSheet("background-color: rgb(238, 236, 225);");

  auto* sLabel4 = new QLabel("IP address", FlatPanel1);
  sLabel4->setObjectName("sLabel4");
  sLabel4->setGeometry(150, 84, 61, 15);

  FlatEdit1 = new QLineEdit(FlatPanel1);
  FlatEdit1->setObjectName("FlatEdit1");
  FlatEdit1->setGeometry(226, 81, 185, 19);
  FlatEdit1->installEventFilter(this);

  FlatSpeedButton1 = MakeFlatButton("Search", "FlatSpeedButton1", FlatPanel1, {228, 136, 89, 25});
  FlatSpeedButton2 = MakeFlatButton("Cancel", "FlatSpeedButton2", FlatPanel1, {324, 136, 89, 25});
  connect(FlatSpeedButton1, &QPushButton::clicked, this, &TFormSearchIP::FlatSpeedButton1Click);
  connect(FlatSpeedButton2, &QPushButton::clicked, this, &TFormSearchIP::FlatSpeedButton2Click);
  FlatEdit1->setFocus();
}

QString TFormSearchIP::AddressText() const {
  return FlatEdit1->text();
}

void TFormSearchIP::FlatSpeedButton1Click() {
  const QString text = FlatEdit1->text();
  if (text.isEmpty()) return;
  const std::string address = text.toStdString();
  if (CheckHostAddressText(address) && CheckAddressText(address)) {
    accept();
    return;
  }
  prompter_.ShowMessage(this, "IP is not valid.");
  FlatEdit1->setFocus();
}

void TFormSearchIP::FlatSpeedButton2Click() {
  reject();
}

bool TFormSearchIP::eventFilter(QObject* watched, QEvent* event) {
  const bool press = event->type() == QEvent::KeyPress;
  if (watched == FlatEdit1 && (press || event->type() == QEvent::KeyRelease)) {
    const auto key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      // Only a release whose press the edit saw: the Enter that closes the
      // "IP is not valid." box must not search again once focus is back.
      if (press) {
        enter_pressed_ = true;
      } else if (std::exchange(enter_pressed_, false)) {
        FlatSpeedButton1Click();
      }
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace oxlo::ui
