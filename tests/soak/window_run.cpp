// One operator action of the soak runs, done in an offscreen window against
// the lab's simulated device, with the window's answer printed for the shell
// to check against the simulator:
//   window_run firmware IMAGE [--data-ms MS] [--end-ms MS]
//       the device list: Search until the device is listed (the search is
//       repeated, a lossy link may lose it), select it, Upgrade Firmware
//   window_run apply MAC NAME [--ack-ms MS]
//       the configuration window: read the device, type NAME as the device
//       name, Apply
// Prints "said: TEXT" (the window's last message, or nothing) and
// "restored: yes|no" (the window takes the operator's next action, or the
// configuration window closed itself). Exits 0
// when the window reported success, 1 when it reported a failure, 3 when the
// action could not be started (no device listed, nothing read).
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/operator.h"
#include "tests/ui/doubles.h"
#include "ui/common/network.h"
#include "ui/common/pacer.h"
#include "ui/configure/config_form.h"
#include "ui/detect/device_grid.h"
#include "ui/detect/form_detect.h"

namespace {

using oxlo::ui::testing::Click;

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: window_run firmware IMAGE [--data-ms MS] [--end-ms MS]\n"
               "       window_run apply MAC NAME [--ack-ms MS]\n");
  std::exit(2);
}

template <typename Condition>
bool WaitFor(Condition condition, int ms) {
  return QTest::qWaitFor(condition, ms);
}

int Report(const std::vector<QString>& messages, const QString& success, bool restored) {
  const QString said = messages.empty() ? QString() : messages.back();
  // On one line, the reason a failed upload gives on its second included.
  QString line = said;
  line.replace("\r\n", " ").replace('\n', ' ');
  std::printf("said: %s\nrestored: %s\n", qPrintable(line), restored ? "yes" : "no");
  return said == success ? 0 : 1;
}

int Firmware(const QString& image, oxlo::FirmwareTimeouts timeouts) {
  oxlo::ui::testing::RecordingPrompter prompter;
  oxlo::ui::testing::RecordingDesktop desktop;
  oxlo::ui::QtPacer pacer;
  oxlo::ui::SystemNetwork network;
  oxlo::ui::TFormDetect window(prompter, desktop, pacer, network, nullptr, timeouts);
  oxlo::ui::testing::ShowActive(window);
  auto* search = window.findChild<QPushButton*>("FlatButton2");
  auto* stop = window.findChild<QPushButton*>("FlatButton6");
  for (int attempt = 0; attempt < 10 && window.DeviceCount() == 0; ++attempt) {
    Click(search);
    WaitFor([&] { return window.DeviceCount() > 0; }, 1000);
    if (stop->isVisible() && stop->isEnabled()) Click(stop);
  }
  if (window.DeviceCount() == 0) {
    std::printf("said: \nnot started: no device listed after 10 searches\n");
    return 3;
  }
  auto* grid = window.findChild<oxlo::ui::DeviceGrid*>("RGrid");
  oxlo::ui::testing::ClickCell(*grid, 0, oxlo::ui::column::kName);
  std::printf("mac: %s\n", qPrintable(grid->Text(0, oxlo::ui::column::kMac)));
  prompter.messages.clear();
  prompter.files = {image};
  auto* upgrade = window.findChild<QPushButton*>("FlatButton7");
  Click(upgrade);  // starts the upload
  // Each message is answered or fails the upload within its time-out; the
  // shell's limit is as long.
  WaitFor([&] { return !window.UpgradingFirmware(); },
          static_cast<int>((timeouts.data + timeouts.end).count()) + 60000);
  return Report(prompter.messages, "Updating firmware was successful",
                upgrade->isEnabled() && search->isEnabled());
}

int Apply(const QString& mac, const QString& name, int ackMs) {
  oxlo::ui::testing::RecordingPrompter prompter;
  oxlo::ui::SystemNetwork network;
  oxlo::ui::ConfigTiming timing;
  timing.tickMs = std::max(1, ackMs / timing.ackTicks);
  oxlo::ui::TConfigForm form(prompter, network, nullptr, timing);
  oxlo::ui::testing::ShowActive(form);
  auto* nameEdit = form.findChild<QLineEdit*>("DeviceNameText");
  auto* panel = form.findChild<QWidget*>("tabPanel1");
  // Only the network tab is edited; its reply is all Apply needs. A lossy
  // link may lose it: the operator closes the window and opens it again.
  bool read = false;
  for (int attempt = 0; attempt < 3 && !read; ++attempt) {
    if (attempt > 0) {
      form.done(QDialog::Rejected);
      oxlo::ui::testing::ShowActive(form);
    }
    form.OpenForDevice("Oxlo CG-100", mac, "1.0.1");
    read = WaitFor([&] { return panel->isEnabled(); }, 2000);
  }
  if (!read) {
    std::printf("said: \nnot started: the network settings were not read in 3 openings\n");
    return 3;
  }
  Click(nameEdit);
  oxlo::ui::testing::Key(form, Qt::Key_A, Qt::ControlModifier);
  oxlo::ui::testing::Type(form, name);
  auto* apply = form.findChild<QPushButton*>("FlatButton1");
  Click(apply);
  WaitFor([&] { return !prompter.messages.empty(); }, ackMs + 30000);
  QApplication::processEvents();
  // Either closed (a lost acknowledgement closes it) or open for another Apply.
  const bool restored = !form.isVisible() || (apply->isEnabled() && nameEdit->isEnabled());
  const int status = Report(prompter.messages, "Configuration was successfully applied", restored);
  form.done(QDialog::Rejected);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  if (args.size() < 3) Usage();
  const auto option = [&](const char* flag, int fallback) {
    const qsizetype at = args.indexOf(flag);
    if (at < 0) return fallback;
    if (at + 1 >= args.size()) Usage();
    bool ok = false;
    const int value = args[at + 1].toInt(&ok);
    if (!ok || value < 1) Usage();
    return value;
  };
  if (args[1] == "firmware") {
    oxlo::FirmwareTimeouts timeouts;
    timeouts.data = std::chrono::milliseconds(
        option("--data-ms", static_cast<int>(oxlo::kDataReplyTimeout.count())));
    timeouts.end = std::chrono::milliseconds(
        option("--end-ms", static_cast<int>(oxlo::kEndReplyTimeout.count())));
    return Firmware(args[2], timeouts);
  }
  if (args[1] == "apply" && args.size() >= 4) {
    return Apply(args[2], args[3], option("--ack-ms", 5000));
  }
  Usage();
}
