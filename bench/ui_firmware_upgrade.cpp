// The device list window's firmware upgrade: searches, selects the first
// device, uploads an image through Upgrade Firmware and reports the time
// against the stop-and-wait floor (messages times the bare UDP round trip the
// caller measured), the CPU the process used while waiting for each reply and
// while working between replies, and whether the simulator saved the image.
// Runs inside scripts/lab with one simulated device started with
// --firmware-out; needs no display (Qt's offscreen platform).
// --no-probe reads no clock per message: the upload's time alone, without the
// CPU split.
//   ui_firmware_upgrade --firmware-out DIR [--size BYTES] [--rtt-us US] [--label TEXT]
//                       [--no-probe]
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "bench/bench_prompter.h"
#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/bytes.h"
#include "protocol/wire/frame.h"
#include "ui/common/desktop.h"
#include "ui/common/network.h"
#include "ui/common/pacer.h"
#include "ui/detect/device_grid.h"
#include "ui/detect/form_detect.h"

namespace {

using oxlo::bench::CpuUs;
using oxlo::bench::WallUs;

double RusageUs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto us = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
  };
  return us(usage.ru_utime) + us(usage.ru_stime);
}

// A wait runs from the return of a send to the reply reaching the receiving
// thread, which sends the next message; the rest, the sends included, is
// what the program itself does with a reply. The first send comes from the
// window's thread, the others from the receiving one.
struct WaitLog {
  std::atomic<bool> recording{false};
  bool probing = true;
  std::mutex mutex;
  bool waiting = false;
  bool sent = false;
  int sends = 0;
  double send_started = 0;
  double started_wall = 0;
  double started_cpu = 0;
  double wall_us = 0;
  double cpu_us = 0;
  std::vector<double> round_trips_us;  // from the start of a send to its reply
  int other_datagrams = 0;

  void Sending() {
    if (!recording) return;
    std::lock_guard lock(mutex);
    ++sends;
    if (!probing) return;
    waiting = true;
    sent = false;
    send_started = WallUs();
  }
  void Sent() {
    if (!recording || !probing) return;
    std::lock_guard lock(mutex);
    if (!waiting) return;  // answered before the send returned
    sent = true;
    started_wall = WallUs();
    started_cpu = CpuUs();
  }
  // On the receiving thread.
  void Received(const oxlo::transport::Datagram& datagram) {
    if (!probing) return;
    std::lock_guard lock(mutex);
    if (!waiting || oxlo::AcceptDatagram(datagram.data) != oxlo::code::kFirmwareReply) {
      ++other_datagrams;
      return;
    }
    const double now = WallUs();
    round_trips_us.push_back(now - send_started);
    if (sent) {
      cpu_us += CpuUs() - started_cpu;
      wall_us += now - started_wall;
    }
    waiting = false;
  }
  // A wait that ended in a time-out.
  void Unanswered() {
    std::lock_guard lock(mutex);
    if (!waiting || !sent) return;
    wall_us += WallUs() - started_wall;
    cpu_us += CpuUs() - started_cpu;
    waiting = false;
  }
};

// The window's endpoint, with the arrival of each datagram noted on the
// receiving thread before the window's own handler sees it.
class NotingEndpoint final : public oxlo::transport::DatagramEndpoint {
 public:
  NotingEndpoint(std::unique_ptr<oxlo::transport::DatagramEndpoint> inner, WaitLog& log)
      : inner_(std::move(inner)), log_(log) {}
  void SetDefaultPort(std::uint16_t port) override { inner_->SetDefaultPort(port); }
  void SetBroadcastEnabled(bool enabled) override { inner_->SetBroadcastEnabled(enabled); }
  void SetReadHandler(oxlo::transport::ReadHandler handler) override {
    inner_->SetReadHandler(
        [this, handler = std::move(handler)](const oxlo::transport::Datagram& datagram) {
          if (log_.recording) log_.Received(datagram);
          handler(datagram);
        });
  }
  void Open() override { inner_->Open(); }
  void Close() override { inner_->Close(); }
  bool IsActive() const override { return inner_->IsActive(); }
  std::optional<oxlo::transport::Binding> CurrentBinding() const override {
    return inner_->CurrentBinding();
  }
  void Broadcast(oxlo::ByteView data, std::uint16_t port) override {
    inner_->Broadcast(data, port);
  }
  void SendTo(std::string_view host, std::uint16_t port, oxlo::ByteView data) override {
    inner_->SendTo(host, port, data);
  }
  void SetAcceptedCodes(std::vector<std::uint8_t> codes) override {
    inner_->SetAcceptedCodes(std::move(codes));
  }

 private:
  std::unique_ptr<oxlo::transport::DatagramEndpoint> inner_;
  WaitLog& log_;
};

// The machine's sockets, with the start and end of each send noted: the window sends
// every firmware message through this broadcaster.
class NotingBroadcaster final : public oxlo::transport::InterfaceBroadcaster {
 public:
  NotingBroadcaster(std::unique_ptr<oxlo::transport::InterfaceBroadcaster> inner, WaitLog& log)
      : inner_(std::move(inner)), log_(log) {}
  void SendOnEveryInterface(oxlo::ByteView data, std::uint16_t port) override {
    log_.Sending();
    inner_->SendOnEveryInterface(data, port);
    log_.Sent();
  }

 private:
  std::unique_ptr<oxlo::transport::InterfaceBroadcaster> inner_;
  WaitLog& log_;
};

class NotingNetwork final : public oxlo::ui::Network {
 public:
  explicit NotingNetwork(WaitLog& log) : log_(log) {}
  std::unique_ptr<oxlo::transport::DatagramEndpoint> MakeDeviceEndpoint() override {
    return std::make_unique<NotingEndpoint>(system_.MakeDeviceEndpoint(), log_);
  }
  std::unique_ptr<oxlo::transport::InterfaceBroadcaster> MakeEveryInterface() override {
    return std::make_unique<NotingBroadcaster>(system_.MakeEveryInterface(), log_);
  }
  std::vector<oxlo::HostInterface> HostInterfaces() override { return system_.HostInterfaces(); }

 private:
  oxlo::ui::SystemNetwork system_;
  WaitLog& log_;
};

struct Options {
  QString firmware_out;
  qint64 size = 1 << 20;
  double rtt_us = 0;
  std::string label = "upload";
  bool probe = true;
};

[[noreturn]] void Usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s --firmware-out DIR [--size BYTES] [--rtt-us US] [--label TEXT]"
               " [--no-probe]\n",
               program);
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--no-probe") {
      options.probe = false;
      continue;
    }
    if (i + 1 >= argc) Usage(argv[0]);
    if (arg == "--firmware-out") {
      options.firmware_out = QString::fromLocal8Bit(argv[++i]);
    } else if (arg == "--size") {
      options.size = std::atoll(argv[++i]);
    } else if (arg == "--rtt-us") {
      options.rtt_us = std::atof(argv[++i]);
    } else if (arg == "--label") {
      options.label = argv[++i];
    } else {
      Usage(argv[0]);
    }
  }
  if (options.firmware_out.isEmpty() || options.size <= 0) Usage(argv[0]);
  return options;
}

QByteArray MakeImage(qint64 size) {
  QByteArray image(static_cast<qsizetype>(size), '\0');
  std::mt19937 random(2057);
  for (char& byte : image) byte = static_cast<char>(random() & 0xFF);
  return image;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Percent(double part, double whole) {
  return whole > 0 ? 100.0 * part / whole : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const char* label = options.label.c_str();

  oxlo::bench::BenchPrompter prompter;
  oxlo::ui::QtDesktop desktop;
  oxlo::ui::QtPacer pacer;
  WaitLog log;
  log.probing = options.probe;
  NotingNetwork network(log);
  oxlo::ui::TFormDetect window(prompter, desktop, pacer, network);
  window.show();

  // Search until the simulated device is listed.
  {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (window.DeviceCount() >= 1) loop.quit();
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    window.FlatButton2Click();
    poll.start(10);
    loop.exec();
    window.FlatButton6Click();
  }
  if (window.DeviceCount() < 1) {
    std::fprintf(stderr, "ui firmware (%s): no device listed after 5 s of search\n", label);
    return 1;
  }
  auto* grid = window.findChild<QTableWidget*>("RGrid");
  grid->setCurrentCell(0, oxlo::ui::column::kName);
  const QString mac = grid->item(0, oxlo::ui::column::kMac)->text();

  QTemporaryDir dir;
  const QString image_path = dir.filePath("image.bin");
  const QByteArray image = MakeImage(options.size);
  {
    QFile file(image_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size()) {
      std::fprintf(stderr, "ui firmware (%s): cannot write %s\n", label, qPrintable(image_path));
      return 1;
    }
  }
  const QString saved_path = QDir(options.firmware_out).filePath(mac + ".bin");
  QFile::remove(saved_path);
  // Let the search's last events settle before the clock starts.
  {
    QEventLoop loop;
    QTimer::singleShot(200, &loop, &QEventLoop::quit);
    loop.exec();
  }
  prompter.messages.clear();
  prompter.file = image_path;

  log.recording = true;
  const double wall_start = WallUs();
  const double cpu_start = CpuUs();
  const double rusage_start = RusageUs();
  window.FlatButton7Click();
  const double wall_us = WallUs() - wall_start;
  const double cpu_us = CpuUs() - cpu_start;
  const double rusage_us = RusageUs() - rusage_start;
  log.recording = false;
  log.Unanswered();

  QFile saved(saved_path);
  const bool same = saved.open(QIODevice::ReadOnly) && saved.readAll() == image;

  const qint64 expected_messages =
      (options.size + static_cast<qint64>(oxlo::kFirmwareChunkSize) - 1) /
          static_cast<qint64>(oxlo::kFirmwareChunkSize) +
      1;
  const double floor_us = static_cast<double>(expected_messages) * options.rtt_us;
  const double ratio = floor_us > 0 ? wall_us / floor_us : 0;
  const double work_wall_us = wall_us - log.wall_us;
  const double work_cpu_us = cpu_us - log.cpu_us;
  const double wait_share = Percent(log.cpu_us, log.wall_us);
  const QString said = prompter.messages.empty() ? QString("nothing") : prompter.messages.back();
  const bool succeeded = said == "Updating firmware was successful";

  std::printf(
      "ui firmware (%s): %lld bytes to %s, %d messages sent (%lld expected) in %.0f ms, %.1f us "
      "each;"
      " the window said \"%s\"\n",
      label, static_cast<long long>(options.size), qPrintable(mac), log.sends,
      static_cast<long long>(expected_messages), wall_us / 1e3,
      log.sends > 0 ? wall_us / log.sends : 0.0, qPrintable(said));
  if (floor_us > 0) {
    std::printf(
        "ui firmware (%s): floor %lld x %.1f us = %.0f ms; upload took %.2f times the floor\n",
        label, static_cast<long long>(expected_messages), options.rtt_us, floor_us / 1e3, ratio);
  } else {
    std::printf("ui firmware (%s): no round trip given (--rtt-us), no floor\n", label);
  }
  if (options.probe) {
    std::printf(
        "ui firmware (%s): waits for replies %.0f ms of wall, CPU %.1f%% of it;"
        " between replies %.0f ms (%.1f us a message), CPU %.1f%% of it;"
        " whole upload CPU %.1f%% of wall (getrusage user+sys %.0f ms)\n",
        label, log.wall_us / 1e3, wait_share, work_wall_us / 1e3,
        log.sends > 0 ? work_wall_us / log.sends : 0.0, Percent(work_cpu_us, work_wall_us),
        Percent(rusage_us, wall_us), rusage_us / 1e3);
    std::printf(
        "ui firmware (%s): median round trip from the start of a send to its reply on the"
        " receiving thread %.1f us;"
        " %d other datagrams received meanwhile\n",
        label, Median(log.round_trips_us), log.other_datagrams);
  }
  std::printf("ui firmware (%s): image saved by the simulator equals the file: %s\n", label,
              same ? "yes" : "no");
  if (options.probe) {
    const bool met = succeeded && same && floor_us > 0 && ratio <= 1.1 && wait_share < 5.0;
    std::printf(
        "ui firmware (%s): within 1.1 times the floor, CPU under 5%% of wall time during waits: "
        "%s\n",
        label, met ? "met" : "missed");
  }
  return succeeded && same ? 0 : 1;
}
