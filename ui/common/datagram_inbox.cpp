#include "ui/common/datagram_inbox.h"

#include <QElapsedTimer>

namespace oxlo::ui {
namespace {

// Long enough to take hundreds of replies, short enough to keep painting.
constexpr qint64 kSliceMs = 10;

}  // namespace

void DatagramInbox::Push(const transport::Datagram& datagram) {
  {
    std::lock_guard lock(mutex_);
    if (queue_.size() >= capacity_) {
      dropped_.fetch_add(1);
      return;
    }
    queue_.push_back({datagram, generation_.load()});
    if (posted_) return;
    posted_ = true;
  }
  QMetaObject::invokeMethod(this, &DatagramInbox::Drain, Qt::QueuedConnection);
}

void DatagramInbox::ForgetWhere(const std::function<bool(const transport::Datagram&)>& match) {
  std::lock_guard lock(mutex_);
  std::erase_if(queue_, [&match](const Entry& entry) { return match(entry.datagram); });
}

void DatagramInbox::Drain() {
  // Called again from inside a handler's nested event loop: the drain that
  // runs the handler takes the next datagram once it returns.
  if (draining_) return;
  draining_ = true;
  QElapsedTimer slice;
  slice.start();
  for (;;) {
    Entry next;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) {
        posted_ = false;
        break;
      }
      if (slice.elapsed() >= kSliceMs) {
        // Let the window paint and the timers tick; the rest follows.
        QMetaObject::invokeMethod(this, &DatagramInbox::Drain, Qt::QueuedConnection);
        break;
      }
      next = std::move(queue_.front());
      queue_.pop_front();
    }
    if (next.generation == generation_.load()) Q_EMIT Received(next.datagram);
  }
  draining_ = false;
}

}  // namespace oxlo::ui
