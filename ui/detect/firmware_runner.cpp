#include "ui/detect/firmware_runner.h"

#include <QCoreApplication>

#include "protocol/frame.h"

namespace oxlo::ui {
namespace {

// The window repaints and takes clicks this often while an answer is awaited.
constexpr std::chrono::milliseconds kEventsEvery{15};

}  // namespace

bool FirmwareRunner::Run(FirmwareUpload& upload, const Observer& observer) {
  running_ = true;
  struct Finished {
    FirmwareRunner* runner;
    ~Finished() {
      runner->running_ = false;
      std::lock_guard lock(runner->mutex_);
      runner->replies_.clear();
    }
  } finished{this};

  while (upload.State() == FirmwareUpload::kReadyToSend) {
    const Bytes message = upload.NextMessage();
    if (upload.State() == FirmwareUpload::kAwaitingEndReply && observer.awaitingEnd)
      observer.awaitingEnd();
    {
      // What arrived before this message cannot answer it.
      std::lock_guard lock(mutex_);
      replies_.clear();
    }
    every_interface_.SendOnEveryInterface(message, kDevicePort);
    const auto deadline = std::chrono::steady_clock::now() + upload.ReplyTimeout();
    // Late copies of earlier answers are passed over within the same wait.
    ReplyVerdict verdict = ReplyVerdict::kIgnored;
    while (verdict == ReplyVerdict::kIgnored) {
      const std::optional<Bytes> reply = NextReply(deadline);
      if (!reply) break;
      Q_EMIT ReplyTaken();
      verdict = upload.OnReply(*reply);
    }
    if (verdict == ReplyVerdict::kIgnored) {
      upload.OnTimeout();
      break;
    }
    if (verdict == ReplyVerdict::kAccepted && observer.progress)
      observer.progress(upload.BytesAcknowledged());
  }
  return upload.State() == FirmwareUpload::kSucceeded;
}

std::optional<Bytes> FirmwareRunner::NextReply(std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      const auto until = std::min(deadline, std::chrono::steady_clock::now() + kEventsEvery);
      arrived_.wait_until(lock, until, [this] { return !replies_.empty(); });
      if (!replies_.empty()) {
        Bytes reply = std::move(replies_.front());
        replies_.pop_front();
        return reply;
      }
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    }
    QCoreApplication::processEvents();
  }
}

void FirmwareRunner::PostReply(const Bytes& reply) {
  if (!running_) return;
  {
    std::lock_guard lock(mutex_);
    replies_.push_back(reply);
  }
  arrived_.notify_one();
}

}  // namespace oxlo::ui
