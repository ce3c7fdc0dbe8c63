// The benchmarks' stand-in for the message boxes and file dialogs: it keeps
// what the window said and picks the one file a run needs, so a timed run
// never waits for a person.
#pragma once

#include <QString>
#include <optional>
#include <utility>
#include <vector>

#include "ui/common/prompter.h"

namespace oxlo::bench {

class BenchPrompter final : public ui::Prompter {
 public:
  void ShowMessage(QWidget*, const QString& text) override { messages.push_back(text); }
  ui::Answer AskYesNoCancel(QWidget*, const QString& text) override {
    messages.push_back(text);
    return ui::Answer::Cancel;
  }
  ui::Answer AskYesNo(QWidget*, const QString& text) override {
    messages.push_back(text);
    return ui::Answer::No;
  }
  std::optional<QString> OpenFile(QWidget*, const ui::FileDialogOptions&) override {
    return std::exchange(file, std::nullopt);
  }
  std::optional<QString> SaveFile(QWidget*, const ui::FileDialogOptions&) override {
    return std::nullopt;
  }

  std::vector<QString> messages;
  std::optional<QString> file;  // the next open dialog's answer, once
};

}  // namespace oxlo::bench
