// The one way received datagrams reach a window: a receiving thread pushes
// them, the UI thread takes them in arrival order, a time slice at a time so
// a burst of thousands never freezes the window, one signal per datagram.
// At most `capacity` wait; a flood beyond that is dropped as it arrives.
#pragma once

#include <QObject>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "transport/sockets/endpoint.h"

namespace oxlo::ui {

class DatagramInbox final : public QObject {
  Q_OBJECT

 public:
  // Far more than the replies of every device on a LAN, and only a few MB.
  static constexpr std::size_t kDefaultCapacity = 16384;

  explicit DatagramInbox(QObject* parent = nullptr, std::size_t capacity = kDefaultCapacity)
      : QObject(parent), capacity_(capacity) {}

  // Any thread; returns at once. With `capacity` datagrams waiting, the new
  // one is dropped: those already queued keep their order.
  void Push(const transport::Datagram& datagram);
  // How many Push dropped for want of room.
  std::size_t Dropped() const { return dropped_.load(); }
  // UI thread: what arrived and was not yet handed over is dropped, as a
  // closed endpoint would have dropped it.
  void Forget() { generation_.fetch_add(1); }
  // UI thread: drops the datagrams waiting that `match` picks, such as
  // replies that came before the message they would answer went out.
  void ForgetWhere(const std::function<bool(const transport::Datagram&)>& match);

 Q_SIGNALS:
  // On the UI thread, one datagram at a time: a handler that opens a modal
  // box holds back the next until it returns.
  void Received(const transport::Datagram& datagram);

 private:
  void Drain();

  struct Entry {
    transport::Datagram datagram;
    std::uint64_t generation = 0;
  };
  const std::size_t capacity_;
  std::atomic<std::size_t> dropped_{0};
  std::mutex mutex_;
  std::deque<Entry> queue_;
  bool posted_ = false;
  std::atomic<std::uint64_t> generation_{0};
  bool draining_ = false;  // UI thread only
};

}  // namespace oxlo::ui
