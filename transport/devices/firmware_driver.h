// Drives one firmware upload over the sockets. Each reply is judged on the
// thread that receives it, and the next message goes out from there at once:
// the device never waits for a hand-over to another thread. The thread that
// started the upload waits for its end in slices, free to paint a window or a
// progress bar in between, and fails the upload when a reply is overdue.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/bytes.h"
#include "transport/sockets/endpoint.h"

namespace oxlo::transport {

class FirmwareDriver {
 public:
  // The system's receive stamps read the wall clock.
  using ArrivalTime = std::chrono::system_clock::time_point;

  struct Report {
    FirmwareUpload::StateKind state = FirmwareUpload::kReadyToSend;
    std::uint64_t acknowledged = 0;
    // The message last sent, and how long its reply was awaited.
    std::uint32_t sequence = 0;
    bool end = false;
    std::chrono::milliseconds timeout{0};
    // What failed it: no reply in time, or the reply that refused it.
    bool timedOut = false;
    std::optional<Bytes> refusal;

    bool Over() const {
      return state == FirmwareUpload::kSucceeded || state == FirmwareUpload::kFailed;
    }
  };

  // Sends every message of an upload out of `out` to `port`.
  FirmwareDriver(InterfaceBroadcaster& out, std::uint16_t port) : out_(out), port_(port) {}
  ~FirmwareDriver() { Stop(); }
  FirmwareDriver(const FirmwareDriver&) = delete;
  FirmwareDriver& operator=(const FirmwareDriver&) = delete;

  // Sends the first message of `upload`, which must stay alive until Stop().
  // What the send throws comes out of the next Wait().
  void Start(FirmwareUpload& upload);

  // Any thread, the receiving one above all: judges the reply and sends
  // what the upload asks for next. Dropped while no upload runs, and when
  // it comes from another device than the upload's. `arrived`, when the
  // system says, is when the datagram reached this computer (else the call
  // is): a reply that was already here when the message in flight went out
  // cannot answer it, however late its receiving thread hands it over.
  void PostReply(ByteView reply, std::optional<ArrivalTime> arrived = std::nullopt);

  // Waits until the upload is over or `slice` has passed; a reply overdue by
  // then fails the upload. Replies that found no driver are judged here. Rethrows what reading the
  // image, decoding a reply or a send threw; the upload is over then.
  Report Wait(std::chrono::milliseconds slice);

  // Takes no more replies; returns once a send in progress has finished, so
  // the upload may go. Also right after a Wait() that threw.
  void Stop();

 private:
  // With the lock held: judges the replies that came, then sends while the
  // upload has a message due. The lock is let go during each send. A driver
  // with `until` leaves the replies that come after it to the next one: the
  // window's thread must not be kept from painting by a fast device.
  void Drive(std::unique_lock<std::mutex>& lock,
             std::optional<std::chrono::steady_clock::time_point> until);

  InterfaceBroadcaster& out_;
  const std::uint16_t port_;

  std::mutex mutex_;
  std::condition_variable over_;
  FirmwareUpload* upload_ = nullptr;
  // True while one thread drives; replies arriving meanwhile queue for it.
  // The waiting thread drives only on a slice (`budgeted_`), and a receiving
  // thread with a reply waits for it to yield rather than leave the reply
  // to it.
  bool driving_ = false;
  bool budgeted_ = false;
  std::thread::id driver_;
  int receivers_waiting_ = 0;
  struct Pending {
    Bytes reply;
    ArrivalTime arrived;
  };
  std::deque<Pending> replies_;
  // When the message in flight started to go out, on the clock of `arrived`.
  ArrivalTime sent_at_;
  std::chrono::steady_clock::time_point deadline_;
  std::exception_ptr failure_;
  Report report_;
};

// The message a report's upload sent last: "chunk 3" or "the end message".
std::string SentMessageName(const FirmwareDriver::Report& report);

// Why a failed upload failed, as both front ends tell it: which message had
// no reply within how long, or which one the device refused. Empty when the
// report names neither.
std::string FailureReason(const FirmwareDriver::Report& report);

}  // namespace oxlo::transport
