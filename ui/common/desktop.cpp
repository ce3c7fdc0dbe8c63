#include "ui/common/desktop.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace oxlo::ui {

void QtDesktop::StartCommand(const QString& program, const QStringList& arguments) {
  QProcess::startDetached(program, arguments);
}

void QtDesktop::OpenUrl(const QString& url) {
  QDesktopServices::openUrl(QUrl(url));
}

}  // namespace oxlo::ui
