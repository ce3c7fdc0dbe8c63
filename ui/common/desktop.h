// The desktop services an operator action may use: start a system command,
// open a web page. Behind a seam so tests record instead of act.
#pragma once

#include <QString>
#include <QStringList>

namespace oxlo::ui {

class Desktop {
 public:
  virtual ~Desktop() = default;
  // Starts the program without a window and without waiting for it.
  virtual void StartCommand(const QString& program, const QStringList& arguments) = 0;
  // Opens the address in the desktop's default browser.
  virtual void OpenUrl(const QString& url) = 0;
};

class QtDesktop final : public Desktop {
 public:
  void StartCommand(const QString& program, const QStringList& arguments) override;
  void OpenUrl(const QString& url) override;
};

}  // namespace oxlo::ui
