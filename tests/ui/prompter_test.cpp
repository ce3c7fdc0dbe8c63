// The real message and file dialogs, closed by the test as an operator would
// close them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include "ui/common/prompter.h"

namespace oxlo::ui {
namespace {

// Cancels the file dialog once it is up.
void CancelTheDialogSoon() {
  QTimer::singleShot(0, [] {
    if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) dialog->reject();
  });
}

TEST(QtPrompterFiles, TheFileDialogsLeaveNoSettingsFileBehind) {
  const QString conf =
      QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/QtProject.conf";
  const QFileInfo before(conf);
  const bool existed = before.exists();
  const QDateTime written = before.lastModified();

  QtPrompter prompter;
  const FileDialogOptions options{"Import Setting", "default.oxl", "oxl",
                                  {"All files (*.*)", "OxloConfig files (*.oxl)"}};
  CancelTheDialogSoon();
  EXPECT_EQ(prompter.OpenFile(nullptr, options), std::nullopt);
  CancelTheDialogSoon();
  EXPECT_EQ(prompter.SaveFile(nullptr, options), std::nullopt);

  const QFileInfo after(conf);
  EXPECT_EQ(after.exists(), existed) << conf.toStdString();
  if (existed) {
    EXPECT_EQ(after.lastModified(), written) << conf.toStdString();
  }
}

}  // namespace
}  // namespace oxlo::ui
