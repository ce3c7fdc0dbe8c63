#include "ui/common/pacer.h"

#include <QEventLoop>
#include <QTimer>

namespace oxlo::ui {

void QtPacer::Pause(int milliseconds) {
  // Paints and timers run; clicks and keys are held for after the pause.
  QEventLoop loop;
  QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace oxlo::ui
