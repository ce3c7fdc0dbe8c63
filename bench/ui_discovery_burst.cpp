// The device list window under a burst of discovery replies: presses Search
// once and reports how long until every expected device is a row of the grid,
// and the longest time the UI event loop went without turning meanwhile (and
// in the moments after, while the grid repaints).
// Runs inside scripts/lab with simulated devices answering in the other
// namespace; needs no display (Qt's offscreen platform).
//   ui_discovery_burst [--devices N] [--deadline-ms MS]
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_prompter.h"
#include "ui/common/desktop.h"
#include "ui/common/network.h"
#include "ui/common/pacer.h"
#include "ui/detect/form_detect.h"

namespace {

constexpr qint64 kSettleMs = 300;

struct Options {
  int devices = 5000;
  qint64 deadline_ms = 10000;  // the window's own search lasts 10 s
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--devices" && i + 1 < argc) {
      options.devices = std::atoi(argv[++i]);
    } else if (arg == "--deadline-ms" && i + 1 < argc) {
      options.deadline_ms = std::atoll(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--devices N] [--deadline-ms MS]\n", argv[0]);
      std::exit(2);
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  oxlo::bench::BenchPrompter prompter;
  oxlo::ui::QtDesktop desktop;
  oxlo::ui::QtPacer pacer;
  oxlo::ui::SystemNetwork network;
  oxlo::ui::TFormDetect window(prompter, desktop, pacer, network);
  window.show();

  QElapsedTimer clock;
  qint64 pressed_at = -1;
  qint64 last_tick = -1;
  qint64 longest_stall = 0;
  qint64 stall_ended_at = 0;
  int rows_before_stall = 0;
  int rows_after_stall = 0;
  int rows_at_last_tick = 0;
  qint64 all_listed_at = -1;

  // Ticks as often as the event loop lets it: a long gap is a stall.
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(1);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    const int rows = window.DeviceCount();
    if (now - last_tick > longest_stall) {
      longest_stall = now - last_tick;
      stall_ended_at = now;
      rows_before_stall = rows_at_last_tick;
      rows_after_stall = rows;
    }
    last_tick = now;
    rows_at_last_tick = rows;
    if (rows >= options.devices && all_listed_at < 0) all_listed_at = now - pressed_at;
    // A little longer, so the repaint of the full grid counts too.
    if ((all_listed_at >= 0 && now - pressed_at > all_listed_at + kSettleMs) ||
        now - pressed_at > options.deadline_ms) {
      ticker.stop();
      QApplication::quit();
    }
  });

  // Let the window be laid out and painted before the burst.
  QTimer::singleShot(300, [&] {
    clock.start();
    pressed_at = 0;
    last_tick = 0;
    window.FlatButton2Click();
    ticker.start();
  });
  QApplication::exec();

  const int listed = window.DeviceCount();
  for (const QString& message : prompter.messages) {
    std::fprintf(stderr, "ui discovery: the window said: %s\n", qPrintable(message));
  }
  const bool all = listed >= options.devices;
  const bool smooth = longest_stall <= 100;
  std::printf("ui discovery: %d simulated, %d listed (%d lost); ", options.devices, listed,
              std::max(0, options.devices - listed));
  if (all) {
    std::printf("all rows after %lld ms", static_cast<long long>(all_listed_at));
  } else {
    std::printf("not all rows after %lld ms", static_cast<long long>(options.deadline_ms));
  }
  std::printf(
      "; longest event-loop stall %lld ms (ending %lld ms after Search, rows %d to %d added in it);"
      " goal (all listed, no stall over 100 ms) %s\n",
      static_cast<long long>(longest_stall), static_cast<long long>(stall_ended_at),
      rows_before_stall, rows_after_stall, all && smooth ? "met" : "missed");
  return 0;
}
