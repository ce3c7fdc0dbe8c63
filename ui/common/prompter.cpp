#include "ui/common/prompter.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>

namespace oxlo::ui {

std::filesystem::path LocalPath(const QString& path) {
  return QFile::encodeName(path).toStdString();
}
namespace {

// Messages use CR LF between lines; Qt wants a bare line feed.
QString ForDisplay(QString text) {
  return text.replace("\r\n", "\n");
}

// Qt's file dialog keeps its history and last folder in the user's
// QtProject.conf and rewrites it on every use. The program writes no file
// but the settings files the operator exports, so those settings go to a
// place where nothing can be created.
void KeepNoDialogSettings() {
  static const bool redirected = [] {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, "/dev/null");
    return true;
  }();
  (void)redirected;
}

std::optional<QString> RunFileDialog(QWidget* parent, const FileDialogOptions& options,
                                     QFileDialog::AcceptMode mode) {
  KeepNoDialogSettings();
  QFileDialog dialog(parent, options.title);
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                     : QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  dialog.setNameFilters(options.filters);
  if (!options.filters.isEmpty()) dialog.selectNameFilter(options.filters.front());
  dialog.setDefaultSuffix(options.defaultExtension);
  dialog.selectFile(options.defaultName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

}  // namespace

void QtPrompter::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, ForDisplay(text), QMessageBox::Ok,
                  parent);
  box.exec();
}

Answer QtPrompter::AskYesNoCancel(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Question, kApplicationTitle, ForDisplay(text),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
  switch (box.exec()) {
    case QMessageBox::Yes:
      return Answer::Yes;
    case QMessageBox::No:
      return Answer::No;
    default:
      return Answer::Cancel;
  }
}

Answer QtPrompter::AskYesNo(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Question, kApplicationTitle, ForDisplay(text),
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

std::optional<QString> QtPrompter::OpenFile(QWidget* parent, const FileDialogOptions& options) {
  return RunFileDialog(parent, options, QFileDialog::AcceptOpen);
}

std::optional<QString> QtPrompter::SaveFile(QWidget* parent, const FileDialogOptions& options) {
  return RunFileDialog(parent, options, QFileDialog::AcceptSave);
}

}  // namespace oxlo::ui
