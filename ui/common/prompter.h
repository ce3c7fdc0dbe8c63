// Modal message boxes and file dialogs, behind a seam so window tests can
// script the operator's answers.
#pragma once

#include <QString>
#include <QStringList>
#include <filesystem>
#include <optional>

#include "oxlo/version.h"

class QWidget;

namespace oxlo::ui {

// The title every message box carries: the application's title.
inline const QString kApplicationTitle = QStringLiteral("OxloConfig v") + oxlo::kDisplayVersion;

struct FileDialogOptions {
  QString title;
  QString defaultName;
  QString defaultExtension;  // without the dot
  QStringList filters;       // "All files (*.*)" first: it is selected on opening
};

// The dialogs of the settings files, titled for export or import.
inline FileDialogOptions SettingsFileDialog(const QString& title) {
  return {title, "default.oxl", "oxl", {"All files (*.*)", "OxloConfig files (*.oxl)"}};
}

enum class Answer { Ok, Yes, No, Cancel };

class Prompter {
 public:
  virtual ~Prompter() = default;
  // An information box with an OK button; returns when it is closed.
  virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
  virtual Answer AskYesNoCancel(QWidget* parent, const QString& text) = 0;
  // A question with only Yes and No; Escape or closing the box says No.
  virtual Answer AskYesNo(QWidget* parent, const QString& text) = 0;
  // The chosen path, or nothing when the operator cancels.
  virtual std::optional<QString> OpenFile(QWidget* parent, const FileDialogOptions& options) = 0;
  // Replaces an existing file without asking.
  virtual std::optional<QString> SaveFile(QWidget* parent, const FileDialogOptions& options) = 0;
};

// A path the file dialogs gave, as the file system spells it.
std::filesystem::path LocalPath(const QString& path);

class QtPrompter final : public Prompter {
 public:
  void ShowMessage(QWidget* parent, const QString& text) override;
  Answer AskYesNoCancel(QWidget* parent, const QString& text) override;
  Answer AskYesNo(QWidget* parent, const QString& text) override;
  std::optional<QString> OpenFile(QWidget* parent, const FileDialogOptions& options) override;
  std::optional<QString> SaveFile(QWidget* parent, const FileDialogOptions& options) override;
};

}  // namespace oxlo::ui
