#include "transport/devices/firmware_driver.h"

#include <algorithm>
#include <stdexcept>

namespace oxlo::transport {
namespace {

bool Awaiting(FirmwareUpload::StateKind state) {
  return state == FirmwareUpload::kAwaitingDataReply || state == FirmwareUpload::kAwaitingEndReply;
}

}  // namespace

void FirmwareDriver::Start(FirmwareUpload& upload) {
  std::unique_lock lock(mutex_);
  upload_ = &upload;
  replies_.clear();
  failure_ = nullptr;
  report_ = Report{};
  // The first message only: the answer is the receiving thread's to judge.
  Drive(lock, std::chrono::steady_clock::now());
}

void FirmwareDriver::PostReply(ByteView reply, std::optional<ArrivalTime> arrived) {
  // Without the system's stamp, the hand-over: a receiving thread held up
  // while one run ends and the next begins brings a reply of the old run.
  const ArrivalTime came = arrived.value_or(std::chrono::system_clock::now());
  std::unique_lock lock(mutex_);
  if (upload_ == nullptr || failure_) return;
  // A neighbour's flood must not wake the upload, nor crowd out its answers.
  if (!FromFirmwareTarget(reply, upload_->Target())) return;
  replies_.push_back(Pending{Bytes(reply.begin(), reply.end()), came});
  if (driving_) {
    // A receiving thread that drives takes it after its send, and so does
    // this very thread when the reply came during its own send.
    if (!budgeted_ || driver_ == std::this_thread::get_id()) return;
    // The waiting thread yields after the send it is in: the next message
    // goes from here, and a window's thread is never left holding replies.
    ++receivers_waiting_;
    over_.wait(lock, [this] { return !driving_ || upload_ == nullptr; });
    --receivers_waiting_;
    if (upload_ == nullptr) over_.notify_all();  // Stop() waits for the last of us
    if (upload_ == nullptr || failure_ || driving_ || replies_.empty()) return;
  }
  Drive(lock, std::nullopt);
}

void FirmwareDriver::Drive(std::unique_lock<std::mutex>& lock,
                           std::optional<std::chrono::steady_clock::time_point> until) {
  driving_ = true;
  budgeted_ = until.has_value();
  driver_ = std::this_thread::get_id();
  try {
    // The replies on hand are judged at least once, however short the slice:
    // a caller that only polls (a slice of 0) still moves the upload on.
    for (bool first = true; upload_ != nullptr; first = false) {
      if (!replies_.empty() && Awaiting(upload_->State())) {
        if (until &&
            (receivers_waiting_ > 0 || (!first && std::chrono::steady_clock::now() >= *until))) {
          break;
        }
        // The first reply that answers the message in flight decides; late
        // copies of earlier answers are passed over.
        while (!replies_.empty() && Awaiting(upload_->State())) {
          const Pending pending = std::move(replies_.front());
          replies_.pop_front();
          // Here before the message went out: an answer to an earlier one,
          // or to an earlier upload, whatever number it echoes.
          if (pending.arrived < sent_at_) continue;
          if (upload_->OnReply(pending.reply) == ReplyVerdict::kRejected) {
            report_.refusal = pending.reply;
          }
        }
      }
      if (upload_->State() != FirmwareUpload::kReadyToSend) {
        if (!Awaiting(upload_->State())) replies_.clear();  // over: nothing more is judged
        break;
      }
      // What arrived before the next message cannot answer it.
      replies_.clear();
      const Bytes message = upload_->NextMessage();
      report_.sequence = upload_->Sequence();
      report_.end = upload_->State() == FirmwareUpload::kAwaitingEndReply;
      report_.timeout = upload_->ReplyTimeout();
      deadline_ = std::chrono::steady_clock::now() + report_.timeout;
      sent_at_ = std::chrono::system_clock::now();
      lock.unlock();
      out_.SendOnEveryInterface(message, port_);
      lock.lock();
    }
  } catch (...) {
    if (!lock.owns_lock()) lock.lock();
    failure_ = std::current_exception();
  }
  driving_ = false;
  // Only the end, or a receiving thread waiting for its turn, wakes anyone:
  // a wake for every reply would cost the upload more than the wait itself.
  if (upload_ == nullptr || failure_ || !Awaiting(upload_->State()) || receivers_waiting_ > 0) {
    over_.notify_all();
  }
}

FirmwareDriver::Report FirmwareDriver::Wait(std::chrono::milliseconds slice) {
  std::unique_lock lock(mutex_);
  if (upload_ == nullptr) throw std::logic_error("no firmware upload runs");
  const auto sliceEnd = std::chrono::steady_clock::now() + slice;
  bool drove = false;
  for (;;) {
    if (failure_) std::rethrow_exception(failure_);
    if (!Awaiting(upload_->State())) break;
    const auto now = std::chrono::steady_clock::now();
    const bool idle = !driving_ && receivers_waiting_ == 0;
    if (idle && !replies_.empty()) {
      // Answers that came during this thread's own send; judged once even
      // when the slice is over, so a caller that only polls moves on too.
      if (drove && now >= sliceEnd) break;
      drove = true;
      Drive(lock, sliceEnd);
      continue;
    }
    if (idle && now >= deadline_) {
      upload_->OnTimeout();
      report_.timedOut = true;
      break;
    }
    if (now >= sliceEnd) break;
    // A send in progress sets a later deadline when it starts.
    over_.wait_until(lock, idle ? std::min(deadline_, sliceEnd) : sliceEnd);
  }
  Report report = report_;
  report.state = upload_->State();
  report.acknowledged = upload_->BytesAcknowledged();
  return report;
}

void FirmwareDriver::Stop() {
  std::unique_lock lock(mutex_);
  upload_ = nullptr;
  replies_.clear();
  over_.notify_all();
  over_.wait(lock, [this] { return !driving_ && receivers_waiting_ == 0; });
}

std::string SentMessageName(const FirmwareDriver::Report& report) {
  return report.end ? std::string("the end message") : "chunk " + std::to_string(report.sequence);
}

std::string FailureReason(const FirmwareDriver::Report& report) {
  if (report.timedOut) {
    return "no reply to " + SentMessageName(report) + " within " +
           std::to_string(report.timeout.count()) + " ms";
  }
  if (report.refusal) {
    return ParseFirmwareReply(*report.refusal).status
               ? "the device refused " + SentMessageName(report)
               : "the reply to " + SentMessageName(report) + " ends before its status";
  }
  return {};
}

}  // namespace oxlo::transport
