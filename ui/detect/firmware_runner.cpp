#include "ui/detect/firmware_runner.h"

#include <QEventLoop>
#include <QTimer>

#include "protocol/frame.h"

namespace oxlo::ui {

bool FirmwareRunner::Run(FirmwareUpload& upload, const Observer& observer) {
  // One loop for the whole upload: it wakes on a reply or on its limit.
  QEventLoop loop;
  QTimer limit;
  limit.setSingleShot(true);
  connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
  loop_ = &loop;
  struct Finished {
    FirmwareRunner* runner;
    ~Finished() {
      runner->loop_ = nullptr;
      runner->replies_.clear();
    }
  } finished{this};

  while (upload.State() == FirmwareUpload::kReadyToSend) {
    const Bytes message = upload.NextMessage();
    if (upload.State() == FirmwareUpload::kAwaitingEndReply && observer.awaitingEnd)
      observer.awaitingEnd();
    // What arrived before this message cannot answer it.
    replies_.clear();
    every_interface_.SendOnEveryInterface(message, kDevicePort);
    limit.start(upload.ReplyTimeout());
    // Late copies of earlier answers are passed over within the same wait.
    ReplyVerdict verdict = ReplyVerdict::kIgnored;
    while (verdict == ReplyVerdict::kIgnored) {
      if (replies_.empty()) {
        if (!limit.isActive()) break;
        loop.exec();
        continue;
      }
      const Bytes reply = std::move(replies_.front());
      replies_.pop_front();
      verdict = upload.OnReply(reply);
    }
    limit.stop();
    if (verdict == ReplyVerdict::kIgnored) {
      upload.OnTimeout();
      break;
    }
    if (verdict == ReplyVerdict::kAccepted && observer.progress)
      observer.progress(upload.BytesAcknowledged());
  }
  return upload.State() == FirmwareUpload::kSucceeded;
}

void FirmwareRunner::TakeReply(const Bytes& reply) {
  if (loop_ == nullptr) return;
  replies_.push_back(reply);
  Q_EMIT ReplyTaken();
  loop_->quit();
}

}  // namespace oxlo::ui
