// The small modal dialog that asks for the address of one device.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace oxlo::ui {

class Prompter;

class TFormSearchIP : public QDialog {
  Q_OBJECT

 public:
  TFormSearchIP(Prompter& prompter, QWidget* parent);

  // The address as typed, unchanged.
  QString AddressText() const;

  void FlatSpeedButton1Click();  // Search
  void FlatSpeedButton2Click();  // Cancel

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Prompter& prompter_;
  QLineEdit* FlatEdit1;
  QPushButton* FlatSpeedButton1;
  QPushButton* FlatSpeedButton2;
  bool enter_pressed_ = false;
};

}  // namespace oxlo::ui
