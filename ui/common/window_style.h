// Looks shared by the windows: fixed frames and flat buttons.
#pragma once

#include <QFrame>
#include <QPushButton>
#include <QRect>
#include <QString>

namespace oxlo::ui {

// Fixed border, system menu and minimise only.
inline constexpr Qt::WindowFlags kFixedWindowFlags =
    Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

// A flat button that takes no focus, so Enter in an edit never presses it.
inline QPushButton* MakeFlatButton(const QString& caption, const QString& name, QWidget* parent,
                                   QRect geometry) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(geometry);
  button->setAutoDefault(false);
  button->setDefault(false);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

// A raised panel laid over a window's content, hidden until it is needed.
inline void MakeOverlayPanel(QFrame* panel, const QString& name, QRect geometry) {
  panel->setObjectName(name);
  panel->setGeometry(geometry);
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Raised);
  panel->setAutoFillBackground(true);
  panel->hide();
}

}  // namespace oxlo::ui
