// Many firmware uploads at once over one endpoint, with no thread of its own
// and none per device. Each device's upload has its own driver: the thread
// that receives on port 2057 hands every datagram to Post(), which passes a
// firmware reply to the driver of the MAC it carries (that driver sends the
// next chunk from there at once) and keeps a discovery reply for the
// device's comeback watch. The thread that runs the rollout calls Step()
// often: it starts the uploads the rollout lets start, fails overdue ones,
// asks the devices being confirmed for their version and judges what they
// answered.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "protocol/conversation/firmware_rollout.h"
#include "protocol/conversation/firmware_upload.h"
#include "transport/devices/firmware_driver.h"
#include "transport/sockets/endpoint.h"

namespace oxlo::transport {

struct FirmwareFleetSettings {
  FirmwareTimeouts timeouts{};
  std::chrono::milliseconds backWithin = ComebackWatch::kDefaultBackWithin;
};

class FirmwareFleet {
 public:
  using Settings = FirmwareFleetSettings;
  // A fresh reader of the image for one upload; throws when it cannot be
  // opened, which fails that device's upload.
  using ImageSource = std::function<FirmwareUpload::ImageReader()>;

  // Every message goes out of `out` to `port`. `rollout` decides; it must
  // outlive the fleet and is changed only through it while the fleet runs.
  FirmwareFleet(Rollout& rollout, InterfaceBroadcaster& out, std::uint16_t port, ImageSource image,
                Settings settings = {});
  // Stops every upload. Stop whatever calls Post() first.
  ~FirmwareFleet();
  FirmwareFleet(const FirmwareFleet&) = delete;
  FirmwareFleet& operator=(const FirmwareFleet&) = delete;

  // Any thread, the receiving one above all. Firmware replies and
  // discovery replies of the rollout's devices are taken, the rest dropped.
  void Post(const Datagram& datagram);

  // The rollout's thread; returns without waiting for a reply. Throws what
  // a discovery query's send throws.
  void Step();
  // No new upload starts; running ones finish and are confirmed.
  void Stop();
  bool Over() const { return rollout_.Over(); }

  // Bytes device `index` has taken of the image in its upload so far.
  std::uint64_t Acknowledged(std::size_t index) const;
  // Over all devices, for a progress bar.
  std::uint64_t AcknowledgedTotal() const;

 private:
  struct Slot;

  void Start(std::size_t index);
  void FinishUpload(std::size_t index, const FirmwareDriver::Report& report);
  void Fail(std::size_t index, std::string reason);
  void Confirm(std::size_t index, RolloutClock::time_point now);

  Rollout& rollout_;
  InterfaceBroadcaster& out_;
  const std::uint16_t port_;
  ImageSource image_;
  Settings settings_;
  // One per rollout entry, made before any datagram comes; never moved.
  std::vector<std::unique_ptr<Slot>> slots_;
  std::unordered_map<std::uint64_t, std::size_t> by_mac_;
  RolloutClock::time_point last_query_{};
  bool queried_ = false;
};

}  // namespace oxlo::transport
