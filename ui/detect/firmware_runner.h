// One firmware upload driven from the device list: each message goes out of
// every local address and the first answer to it decides. The receiving
// thread sends the next message as soon as an answer comes; the window paints
// and shows the progress meanwhile.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>

#include "protocol/bytes.h"
#include "protocol/firmware.h"
#include "transport/endpoint.h"
#include "transport/firmware_driver.h"

namespace oxlo::ui {

class FirmwareRunner final : public QObject {
  Q_OBJECT

 public:
  // Called on the UI thread with the bytes the device has taken, as they
  // grow, and once when the end message has gone out.
  struct Observer {
    std::function<void(std::uint64_t acknowledged)> progress;
    std::function<void()> awaitingEnd;
  };

  explicit FirmwareRunner(transport::InterfaceBroadcaster& everyInterface,
                          QObject* parent = nullptr)
      : QObject(parent), driver_(everyInterface, kDevicePort) {}

  // Runs the upload to its end on the UI thread; the last report says
  // whether the device confirmed the image, or why not. Throws what reading
  // the image, a reply or a send throws.
  transport::FirmwareDriver::Report Run(FirmwareUpload& upload, const Observer& observer);

  // Any thread, the receiving one above all. Dropped while no upload runs,
  // and when it is another device's or was here before the message it would
  // answer went out (`arrived`, the system's stamp).
  void PostReply(const Bytes& reply,
                 std::optional<transport::FirmwareDriver::ArrivalTime> arrived) {
    driver_.PostReply(reply, arrived);
  }

 private:
  transport::FirmwareDriver driver_;
};

}  // namespace oxlo::ui
