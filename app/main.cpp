// The desktop program: the device list window, and the configuration window
// that stays hidden until a device is opened.
#include <QApplication>
#include <QIcon>
#include <QScreen>

#include "oxlo/version.h"
#include "ui/common/desktop.h"
#include "ui/common/network.h"
#include "ui/common/pacer.h"
#include "ui/common/prompter.h"
#include "ui/configure/config_form.h"
#include "ui/detect/form_detect.h"

namespace {

void CentreOnScreen(QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) return;
  QRect frame = window.frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window.move(frame.topLeft());
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("OxloConfig");
  QApplication::setApplicationVersion(oxlo::kDisplayVersion);
  // The installed desktop entry and icon, for the task bar and the window.
  QGuiApplication::setDesktopFileName("org.oxloconfig.OxloConfig");
  QApplication::setWindowIcon(QIcon::fromTheme("org.oxloconfig.OxloConfig"));
  // The layout is in pixels for an 8-point face; keep the text to that size.
  QFont font = QApplication::font();
  font.setPixelSize(11);
  QApplication::setFont(font);

  oxlo::ui::QtPrompter prompter;
  oxlo::ui::QtDesktop desktop;
  oxlo::ui::QtPacer pacer;
  oxlo::ui::SystemNetwork network;

  oxlo::ui::TFormDetect detect(prompter, desktop, pacer, network);
  oxlo::ui::TConfigForm config(prompter, network, &detect);
  config.setAttribute(Qt::WA_QuitOnClose, false);
  detect.SetConfigForm(&config);

  CentreOnScreen(detect);
  detect.show();
  return QApplication::exec();
}
