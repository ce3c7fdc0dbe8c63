// One firmware upload driven from the device list: each message goes out of
// every local address, the window's event loop runs while the answer is
// awaited, and the first answer to the message decides.
#pragma once

#include <QObject>
#include <deque>
#include <functional>

#include "protocol/bytes.h"
#include "protocol/firmware.h"
#include "transport/endpoint.h"

class QEventLoop;

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

  // Runs the upload to its end; true when the device confirmed the image.
  // Throws what reading the image or a reply throws.
  bool Run(FirmwareUpload& upload, const Observer& observer);
  bool Running() const { return loop_ != nullptr; }

  // A firmware reply, on the UI thread; kept until the upload judges it.
  void TakeReply(const Bytes& reply);

 Q_SIGNALS:
  // A reply came while an upload runs (for the benchmark's timing).
  void ReplyTaken();

 private:
  transport::InterfaceBroadcaster& every_interface_;
  // Replies not yet judged, in arrival order: with two local addresses on
  // one network the device answers each message twice.
  std::deque<Bytes> replies_;
  QEventLoop* loop_ = nullptr;
};

}  // namespace oxlo::ui
