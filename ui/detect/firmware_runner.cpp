#include "ui/detect/firmware_runner.h"

#include <QCoreApplication>

namespace oxlo::ui {
namespace {

// The window repaints and the bar moves this often during an upload.
constexpr std::chrono::milliseconds kEventsEvery{15};

}  // namespace

transport::FirmwareDriver::Report FirmwareRunner::Run(FirmwareUpload& upload,
                                                      const Observer& observer) {
  struct Stopper {
    transport::FirmwareDriver& driver;
    ~Stopper() { driver.Stop(); }
  } stopper{driver_};
  driver_.Start(upload);
  bool endShown = false;
  for (;;) {
    const transport::FirmwareDriver::Report report = driver_.Wait(kEventsEvery);
    if (observer.progress) observer.progress(report.acknowledged);
    if (report.Over()) return report;
    if (report.end && !endShown) {
      endShown = true;
      if (observer.awaitingEnd) observer.awaitingEnd();
    }
    QCoreApplication::processEvents();
  }
}

}  // namespace oxlo::ui
