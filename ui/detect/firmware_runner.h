// One firmware upload driven from the device list: each message goes out of
// every local address, the answer is awaited with the window painting, and
// the first answer to the message decides.
#pragma once

#include <QObject>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

#include "protocol/bytes.h"
#include "protocol/firmware.h"
#include "transport/endpoint.h"

namespace oxlo::ui {

class FirmwareRunner final : public QObject {
  Q_OBJECT

 public:
  // Called after each accepted answer with the bytes the device has taken,
  // and once before the end message is sent.
  struct Observer {
    std::function<void(std::uint64_t acknowledged)> progress;
    std::function<void()> awaitingEnd;
  };

  explicit FirmwareRunner(transport::InterfaceBroadcaster& everyInterface,
                          QObject* parent = nullptr)
      : QObject(parent), every_interface_(everyInterface) {}

  // Runs the upload to its end on the UI thread; true when the device
  // confirmed the image. Throws what reading the image or a reply throws.
  bool Run(FirmwareUpload& upload, const Observer& observer);

  // Any thread, the receiving one above all: a firmware reply wakes the
  // waiting upload at once, without a turn through the event queue. Dropped
  // while no upload runs.
  void PostReply(const Bytes& reply);

 Q_SIGNALS:
  // The upload took a reply (for the benchmark's timing).
  void ReplyTaken();

 private:
  // The oldest reply not yet judged, waiting until `deadline` for one; the
  // window's events are handled between short waits.
  std::optional<Bytes> NextReply(std::chrono::steady_clock::time_point deadline);

  transport::InterfaceBroadcaster& every_interface_;
  std::atomic<bool> running_{false};
  std::mutex mutex_;
  std::condition_variable arrived_;
  // Replies not yet judged, in arrival order: with two local addresses on
  // one network the device answers each message twice.
  std::deque<Bytes> replies_;
};

}  // namespace oxlo::ui
