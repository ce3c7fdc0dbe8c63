// One firmware upload driven from the device list: each message goes out of
// every local address and the first answer to it decides. The receiving
// thread sends the next message as soon as an answer comes; a timer on the UI
// thread only looks how far it got, so the window paints and takes clicks
// meanwhile without an event loop of its own.
#pragma once

#include <QObject>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>

#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/bytes.h"
#include "transport/devices/firmware_driver.h"
#include "transport/sockets/endpoint.h"

class QTimer;

namespace oxlo::ui {

class FirmwareRunner final : public QObject {
  Q_OBJECT

 public:
  // Called on the UI thread from the runner's timer. The upload is over, and
  // may go, by the time `finished` or `failed` is called.
  struct Observer {
    // The bytes the device has taken, as they grow.
    std::function<void(std::uint64_t acknowledged)> progress;
    // Once, when the end message has gone out.
    std::function<void()> awaitingEnd;
    // The last report: whether the device confirmed the image, or why not.
    std::function<void(const transport::FirmwareDriver::Report& report)> finished;
    // Instead of `finished`: what reading the image, a reply or a send threw.
    std::function<void(const std::exception& error)> failed;
  };

  explicit FirmwareRunner(transport::InterfaceBroadcaster& everyInterface,
                          QObject* parent = nullptr);
  ~FirmwareRunner() override;

  // Sends the first message of `upload` and returns; the observer hears the
  // rest. `upload` must stay alive until the observer heard its end or Stop()
  // returned. Throws std::logic_error while another upload runs.
  void Start(FirmwareUpload& upload, Observer observer);
  bool Running() const { return running_; }
  // Ends the upload in progress without a word to the observer; once it
  // returns no send is under way and the upload may go.
  void Stop();

  // Any thread, the receiving one above all. Dropped while no upload runs,
  // and when it is another device's or was here before the message it would
  // answer went out (`arrived`, the system's stamp).
  void PostReply(const Bytes& reply,
                 std::optional<transport::FirmwareDriver::ArrivalTime> arrived) {
    driver_.PostReply(reply, arrived);
  }

 private:
  void Poll();
  // Stops the timer and the driver; gives back the observer, to hear the end.
  Observer Finish();

  transport::FirmwareDriver driver_;
  QTimer* poll_;
  Observer observer_;
  bool running_ = false;
  bool end_shown_ = false;
};

}  // namespace oxlo::ui
