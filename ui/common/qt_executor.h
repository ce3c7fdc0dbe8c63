// Runs endpoint deliveries on the thread of a Qt object (the UI thread).
#pragma once

#include <QObject>
#include <QPointer>

#include "transport/endpoint.h"

namespace oxlo::ui {

class QtExecutor final : public transport::Executor {
 public:
  explicit QtExecutor(QObject* context) : context_(context) {}
  // Queued: returns at once. A task posted to a destroyed context is dropped.
  void Post(std::function<void()> task) override;

 private:
  QPointer<QObject> context_;
};

}  // namespace oxlo::ui
