#include "ui/detect/firmware_runner.h"

#include <QTimer>
#include <stdexcept>
#include <utility>

namespace oxlo::ui {
namespace {

// The bar moves this often during an upload; a reply overdue is noticed
// this much late at most.
constexpr std::chrono::milliseconds kLookEvery{15};

}  // namespace

FirmwareRunner::FirmwareRunner(transport::InterfaceBroadcaster& everyInterface, QObject* parent)
    : QObject(parent), driver_(everyInterface, kDevicePort), poll_(new QTimer(this)) {
  poll_->setInterval(kLookEvery);
  connect(poll_, &QTimer::timeout, this, &FirmwareRunner::Poll);
}

FirmwareRunner::~FirmwareRunner() {
  Stop();
}

void FirmwareRunner::Start(FirmwareUpload& upload, Observer observer) {
  if (running_) throw std::logic_error("a firmware upload runs already");
  observer_ = std::move(observer);
  end_shown_ = false;
  running_ = true;
  driver_.Start(upload);
  poll_->start();
}

void FirmwareRunner::Stop() {
  poll_->stop();
  driver_.Stop();
  running_ = false;
  observer_ = {};
}

FirmwareRunner::Observer FirmwareRunner::Finish() {
  Observer observer = std::move(observer_);
  Stop();
  return observer;
}

void FirmwareRunner::Poll() {
  if (!running_) return;
  transport::FirmwareDriver::Report report;
  try {
    // Never blocks: the receiving thread sends, this only judges overdue
    // replies and those that came during a send of this thread's own.
    report = driver_.Wait(std::chrono::milliseconds(0));
  } catch (const std::exception& error) {
    const Observer observer = Finish();
    if (observer.failed) observer.failed(error);
    return;
  }
  if (observer_.progress) observer_.progress(report.acknowledged);
  if (!running_) return;  // stopped by whoever the bar's move reached
  if (report.Over()) {
    const Observer observer = Finish();
    if (observer.finished) observer.finished(report);
    return;
  }
  if (report.end && !end_shown_) {
    end_shown_ = true;
    if (observer_.awaitingEnd) observer_.awaitingEnd();
  }
}

}  // namespace oxlo::ui
