// The real desktop seams: the file dialogs, closed by the test as an
// operator would close them, and the device's pauses.
#include "ui/common/prompter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include "ui/common/pacer.h"

namespace oxlo::ui {
namespace {

// Cancels the file dialog once it is up.
void CancelTheDialogSoon() {
  QTimer::singleShot(0, [] {
    if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
      dialog->reject();
  });
}

TEST(QtPrompterFiles, TheFileDialogsLeaveNoSettingsFileBehind) {
  const QString conf =
      QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/QtProject.conf";
  const QFileInfo before(conf);
  const bool existed = before.exists();
  const QDateTime written = before.lastModified();

  QtPrompter prompter;
  const FileDialogOptions options{
      "Import Setting", "default.oxl", "oxl", {"All files (*.*)", "OxloConfig files (*.oxl)"}};
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

// A yes/no question offers Yes and No only; Escape answers No, Enter on
// the focused Yes answers Yes.
TEST(QtPrompterQuestions, AYesNoQuestionHasNoCancelAndEscapeSaysNo) {
  struct Case {
    int key;
    Answer answer;
  };
  for (const Case c : {Case{Qt::Key_Escape, Answer::No}, Case{Qt::Key_Return, Answer::Yes}}) {
    QStringList buttons;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      for (QAbstractButton* button : box->buttons()) buttons << button->text().remove('&');
      if (c.key == Qt::Key_Return) box->button(QMessageBox::Yes)->setFocus();
      QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : box,
                      static_cast<Qt::Key>(c.key));
    });
    EXPECT_EQ(QtPrompter().AskYesNo(nullptr, "Open its web page anyway?"), c.answer) << c.key;
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{"No", "Yes"})) << c.key;
  }
}

TEST(QtPacer, APauseLastsItsTimeWithTheWindowsTimersRunning) {
  bool ticked = false;
  QTimer::singleShot(5, [&] { ticked = true; });
  QElapsedTimer clock;
  clock.start();
  QtPacer().Pause(40);
  EXPECT_GE(clock.elapsed(), 40);
  EXPECT_TRUE(ticked);  // the window paints and its timers tick meanwhile
}

}  // namespace
}  // namespace oxlo::ui
