// The operator's hands for window tests: clicks on widgets, cells and tabs,
// and keys typed into whatever has the keyboard focus, an open cell editor
// included. Nothing here sets a value or calls a handler.
#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QWidget>

namespace oxlo::ui::testing {

// Shows the window and makes it the active one, so clicks move the focus.
inline void ShowActive(QWidget& window) {
  window.show();
  QApplication::setActiveWindow(&window);
  QApplication::processEvents();
}

inline void Click(QWidget* widget) {
  QTest::mouseClick(widget, Qt::LeftButton);
}

inline void ClickCell(QAbstractItemView& view, int row, int column) {
  const QRect cell = view.visualRect(view.model()->index(row, column));
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, cell.center());
  QApplication::processEvents();
}

inline void DoubleClickCell(QAbstractItemView& view, int row, int column) {
  // As a mouse does: a click, then the second press that makes it double.
  const QRect cell = view.visualRect(view.model()->index(row, column));
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, cell.center());
  QApplication::processEvents();
}

inline void ClickTab(QTabWidget& tabs, int index) {
  QTabBar* bar = tabs.tabBar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
  QApplication::processEvents();
}

// The widget the keyboard goes to now; each key may move it (a key on a
// grid opens the cell editor, which takes the next ones).
inline QWidget* Focused(QWidget& window) {
  QWidget* focus = QApplication::focusWidget();
  return focus != nullptr ? focus : window.focusWidget();
}

inline void Type(QWidget& window, const QString& text) {
  for (const QChar c : text) {
    QWidget* target = Focused(window);
    if (target == nullptr) return;
    QTest::keyClick(target, c.toLatin1());
    QApplication::processEvents();
  }
}

inline void Key(QWidget& window, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
  if (QWidget* target = Focused(window)) QTest::keyClick(target, key, modifiers);
  QApplication::processEvents();
}

}  // namespace oxlo::ui::testing
