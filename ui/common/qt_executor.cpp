#include "ui/common/qt_executor.h"

#include <QMetaObject>

namespace oxlo::ui {

void QtExecutor::Post(std::function<void()> task) {
  QObject* context = context_.data();
  if (context == nullptr) return;
  QMetaObject::invokeMethod(context, std::move(task), Qt::QueuedConnection);
}

}  // namespace oxlo::ui
