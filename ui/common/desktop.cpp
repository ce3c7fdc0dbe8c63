#include "ui/common/desktop.h"

#include <QDesktopServices>
#include <QProcess>
#include <QThread>
#include <QUrl>

namespace oxlo::ui {

void QtDesktop::StartCommand(const QString& program, const QStringList& arguments) {
  QProcess::startDetached(program, arguments);
}

void QtDesktop::OpenUrl(const QString& url) { QDesktopServices::openUrl(QUrl(url)); }

void QtDesktop::Pause(int milliseconds) { QThread::msleep(static_cast<unsigned long>(milliseconds)); }

}  // namespace oxlo::ui
