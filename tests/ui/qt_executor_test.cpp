// Endpoint deliveries through the Qt executor, over loopback: the handler
// runs on the UI thread, and closing the endpoint there while a delivery
// waits for it neither deadlocks nor runs the handler afterwards.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>

#include "ui/common/qt_executor.h"

namespace oxlo::ui {
namespace {

using transport::Binding;
using transport::Datagram;
using transport::Endpoint;

const Bytes kPing{0x02, 0x70, 0x03};

std::uint16_t PortOf(const Endpoint& endpoint) { return endpoint.CurrentBinding()->port; }

TEST(QtExecutor, RunsEachDeliveryOnTheUiThreadInArrivalOrder) {
  QObject context;
  QtExecutor executor(&context);
  Endpoint receiver{{Binding{"127.0.0.1", 0}}};
  std::vector<std::uint8_t> seen;
  bool on_ui_thread = true;
  receiver.SetReadHandler(
      [&](const Datagram& d) {
        on_ui_thread = on_ui_thread && QThread::currentThread() == context.thread();
        seen.push_back(d.data.at(1));
      },
      &executor);
  receiver.Open();
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  for (std::uint8_t n = 1; n <= 5; ++n) sender.SendTo("127.0.0.1", PortOf(receiver), Bytes{0x02, n, 0x03});

  QElapsedTimer clock;
  clock.start();
  while (seen.size() < 5 && clock.elapsed() < 5000) QCoreApplication::processEvents();
  EXPECT_EQ(seen, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(on_ui_thread);
  receiver.Close();
}

TEST(QtExecutor, CloseWhileADeliveryWaitsForTheUiThreadCancelsIt) {
  QObject context;
  QtExecutor executor(&context);
  Endpoint receiver{{Binding{"127.0.0.1", 0}}};
  std::atomic<int> handled{0};
  receiver.SetReadHandler([&](const Datagram&) { ++handled; }, &executor);
  receiver.Open();
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  sender.SendTo("127.0.0.1", PortOf(receiver), kPing);
  // Give the receiving thread time to take the datagram and start waiting.
  QThread::msleep(100);
  receiver.Close();  // on the UI thread, which never ran the posted task
  QCoreApplication::processEvents();
  EXPECT_EQ(handled, 0);
  EXPECT_FALSE(receiver.IsActive());
}

TEST(QtExecutor, TasksForADestroyedContextAreDropped) {
  auto context = std::make_unique<QObject>();
  QtExecutor executor(context.get());
  bool ran = false;
  executor.Post([&] { ran = true; });
  context.reset();
  executor.Post([&] { ran = true; });
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace oxlo::ui
