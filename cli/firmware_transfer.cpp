#include "cli/firmware_transfer.h"

#include <algorithm>

#include "cli/device_session.h"
#include "protocol/conversion_error.h"
#include "protocol/frame.h"
#include "transport/endpoint.h"

namespace oxlo::cli {
namespace {

// Sends message after message until the upload ends; says why it failed.
std::string Drive(FirmwareUpload& upload, DeviceSession& session,
                  transport::EveryInterface& interfaces, UploadProgress& progress) {
  while (upload.State() == FirmwareUpload::kReadyToSend) {
    const Bytes message = upload.NextMessage();
    const bool end = upload.State() == FirmwareUpload::kAwaitingEndReply;
    const std::string what = end ? "the end message" : "chunk " + std::to_string(upload.Sequence());
    const std::chrono::milliseconds wait = upload.ReplyTimeout();
    // What came before this message cannot answer it.
    session.Discard();
    interfaces.SendOnEveryInterface(message, kDevicePort);
    // A late reply to an earlier message leaves the wait running.
    const auto deadline = DeviceSession::Clock::now() + wait;
    ReplyVerdict verdict = ReplyVerdict::kIgnored;
    while (verdict == ReplyVerdict::kIgnored) {
      const std::optional<Bytes> reply = session.Next(deadline);
      if (!reply) {
        upload.OnTimeout();
        return "no reply to " + what + " within " + std::to_string(wait.count()) + " ms";
      }
      try {
        verdict = upload.OnReply(*reply);
      } catch (const ConversionError&) {
        return "the reply to " + what + " holds no sequence number";
      }
      if (verdict == ReplyVerdict::kRejected) {
        return ParseFirmwareReply(*reply).status
                   ? "the device refused " + what
                   : "the reply to " + what + " ends before its status";
      }
    }
    progress.Update(upload.BytesAcknowledged());
  }
  return {};
}

}  // namespace

TransferResult SendFirmware(const MacField& mac, ImageFile& image, const FirmwareTimeouts& timeouts,
                            UploadProgress& progress) {
  const std::vector<std::string> local = transport::LocalAddresses();
  if (local.empty()) {
    throw std::runtime_error("no network interface with an IPv4 address to send from");
  }
  DeviceSession session(mac, {code::kFirmwareReply});
  session.Open();
  transport::EveryInterface interfaces(local);

  FirmwareUpload upload(
      mac, [&image](std::span<std::uint8_t> buffer) { return image.Read(buffer); }, timeouts);
  TransferResult result;
  progress.Update(0);
  try {
    result.failure = Drive(upload, session, interfaces, progress);
  } catch (...) {
    progress.Finish();  // the error goes on a line of its own
    throw;
  }
  progress.Finish();
  result.succeeded = upload.State() == FirmwareUpload::kSucceeded;
  return result;
}

}  // namespace oxlo::cli
