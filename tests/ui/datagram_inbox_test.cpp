// Received datagrams through the inbox, over loopback: each reaches the UI
// thread in arrival order, what was received before Forget() never does, a
// handler's modal box holds back the next one, a burst is taken in slices
// with the event loop running between them, and a full inbox drops the rest.
#include "ui/common/datagram_inbox.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <thread>

namespace oxlo::ui {
namespace {

using transport::Binding;
using transport::Datagram;
using transport::Endpoint;

std::uint16_t PortOf(const Endpoint& endpoint) {
  return endpoint.CurrentBinding()->port;
}

Datagram Numbered(std::uint8_t n) {
  return Datagram{Bytes{0x02, n, 0x03}, "127.0.0.1", 2057, {}};
}

template <typename Done>
void RunUntil(Done done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 5000) QCoreApplication::processEvents();
}

TEST(DatagramInbox, HandsEachDatagramToTheUiThreadInArrivalOrder) {
  DatagramInbox inbox;
  std::vector<std::uint8_t> seen;
  bool on_ui_thread = true;
  QObject::connect(&inbox, &DatagramInbox::Received, [&](const Datagram& d) {
    on_ui_thread = on_ui_thread && QThread::currentThread() == inbox.thread();
    seen.push_back(d.data.at(1));
  });
  Endpoint receiver{{Binding{"127.0.0.1", 0}}};
  receiver.SetReadHandler([&](const Datagram& d) { inbox.Push(d); });
  receiver.Open();
  Endpoint sender{{Binding{"127.0.0.1", 0}}};
  sender.Open();
  for (std::uint8_t n = 1; n <= 5; ++n)
    sender.SendTo("127.0.0.1", PortOf(receiver), Bytes{0x02, n, 0x03});
  RunUntil([&] { return seen.size() >= 5; });
  EXPECT_EQ(seen, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(on_ui_thread);
  receiver.Close();
}

TEST(DatagramInbox, WhatArrivedBeforeForgetIsDropped) {
  DatagramInbox inbox;
  std::vector<std::uint8_t> seen;
  QObject::connect(&inbox, &DatagramInbox::Received,
                   [&](const Datagram& d) { seen.push_back(d.data.at(1)); });
  std::thread([&] {
    inbox.Push(Numbered(1));
    inbox.Push(Numbered(2));
  }).join();
  inbox.Forget();  // the endpoint closed before the UI thread got to them
  inbox.Push(Numbered(3));
  QCoreApplication::processEvents();
  EXPECT_EQ(seen, std::vector<std::uint8_t>{3});
}

TEST(DatagramInbox, AModalBoxInAHandlerHoldsBackTheNextDatagram) {
  DatagramInbox inbox;
  std::vector<std::string> events;
  QObject::connect(&inbox, &DatagramInbox::Received, [&](const Datagram& d) {
    events.push_back("start " + std::to_string(d.data.at(1)));
    if (d.data.at(1) == 1) {
      // As a message box does: a nested loop, in which more datagrams arrive.
      QEventLoop box;
      QTimer::singleShot(0, [&] { inbox.Push(Numbered(2)); });
      QTimer::singleShot(20, &box, &QEventLoop::quit);
      box.exec();
    }
    events.push_back("end " + std::to_string(d.data.at(1)));
  });
  inbox.Push(Numbered(1));
  RunUntil([&] { return events.size() >= 4; });
  EXPECT_EQ(events, (std::vector<std::string>{"start 1", "end 1", "start 2", "end 2"}));
}

TEST(DatagramInbox, ABurstIsTakenInSlicesWithTheEventLoopBetween) {
  DatagramInbox inbox;
  int handled = 0;
  int handled_when_timer_ran = -1;
  QObject::connect(&inbox, &DatagramInbox::Received, [&](const Datagram&) {
    ++handled;
    QThread::usleep(200);  // 20000 of these take four seconds
  });
  std::thread([&] {
    for (int i = 0; i < 20000; ++i) inbox.Push(Numbered(1));
  }).join();
  QTimer::singleShot(0, [&] { handled_when_timer_ran = handled; });
  RunUntil([&] { return handled_when_timer_ran >= 0; });
  EXPECT_GT(handled_when_timer_ran, 0);
  EXPECT_LT(handled_when_timer_ran, 20000);
  inbox.Forget();  // the rest is dropped with the inbox
}

TEST(DatagramInbox, AFullInboxDropsWhatArrivesUntilItHasRoomAgain) {
  DatagramInbox inbox(nullptr, 3);
  std::vector<std::uint8_t> seen;
  QObject::connect(&inbox, &DatagramInbox::Received,
                   [&](const Datagram& d) { seen.push_back(d.data.at(1)); });
  std::thread([&] {
    for (std::uint8_t n = 1; n <= 5; ++n) inbox.Push(Numbered(n));
  }).join();
  EXPECT_EQ(inbox.Dropped(), 2u);
  RunUntil([&] { return seen.size() >= 3; });
  inbox.Push(Numbered(6));
  RunUntil([&] { return seen.size() >= 4; });
  EXPECT_EQ(seen, (std::vector<std::uint8_t>{1, 2, 3, 6}));
  EXPECT_EQ(inbox.Dropped(), 2u);
}

}  // namespace
}  // namespace oxlo::ui
