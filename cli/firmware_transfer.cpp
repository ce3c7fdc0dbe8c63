#include "cli/firmware_transfer.h"

#include <algorithm>
#include <thread>

#include "protocol/wire/conversion_error.h"
#include "protocol/wire/discovery.h"
#include "protocol/wire/frame.h"
#include "transport/devices/comeback_replies.h"
#include "transport/devices/device_line.h"
#include "transport/devices/firmware_driver.h"

namespace oxlo::cli {
namespace {

// How often the progress is redrawn while the upload runs.
constexpr std::chrono::milliseconds kProgressEvery{100};
// How often the comeback watch looks at what came.
constexpr std::chrono::milliseconds kWatchEvery{20};

// Runs the upload to its end; says why it failed.
std::string Drive(FirmwareUpload& upload, transport::FirmwareDriver& driver,
                  UploadProgress& progress) {
  transport::FirmwareDriver::Report report;
  driver.Start(upload);
  try {
    do {
      report = driver.Wait(kProgressEvery);
      progress.Update(report.acknowledged);
    } while (!report.Over());
  } catch (const ConversionError&) {
    return "the reply to " + transport::SentMessageName(report) + " holds no sequence number";
  }
  return transport::FailureReason(report);
}

// Asks until the watch has its verdict.
ComebackWatch::Verdict WaitForComeback(ComebackWatch& watch, transport::ComebackReplies& seen,
                                       transport::InterfaceBroadcaster& out) {
  RolloutClock::time_point nextAsk = RolloutClock::now();
  for (;;) {
    const RolloutClock::time_point now = RolloutClock::now();
    if (now >= nextAsk) {
      out.SendOnEveryInterface(BuildDiscoveryQuery(), kDevicePort);
      nextAsk = now + ComebackWatch::kAskEvery;
    }
    const ComebackWatch::Verdict verdict = seen.JudgeInto(watch, RolloutClock::now());
    if (verdict != ComebackWatch::Verdict::kWaiting) return verdict;
    std::this_thread::sleep_for(kWatchEvery);
  }
}

}  // namespace

TransferResult SendFirmware(const MacField& mac, transport::ImageFile& image,
                            const FirmwareTimeouts& timeouts, UploadProgress& progress,
                            const std::optional<ComebackCheck>& comeback,
                            const std::function<void()>& waiting, TransferWiring wiring) {
  std::optional<transport::EveryInterface> interfaces;
  if (wiring.out == nullptr) {
    const std::vector<std::string> local = transport::LocalAddresses();
    if (local.empty()) {
      throw std::runtime_error("no network interface with an IPv4 address to send from");
    }
    wiring.out = &interfaces.emplace(local);
  }
  transport::FirmwareDriver driver(*wiring.out, kDevicePort);
  transport::ComebackReplies seen;
  // After the driver and the versions, so its receiving thread stops first.
  std::optional<transport::DeviceSession> session;
  const std::vector<std::uint8_t> codes{code::kFirmwareReply, code::kDiscovery};
  if (wiring.line != nullptr) {
    session.emplace(*wiring.line, mac, codes);
  } else {
    session.emplace(mac, codes);
  }
  // With the system's stamp: a reply that waited in the socket while the
  // receiving thread sent the next message is no answer to it.
  session->SetReplySink([&driver, &seen](const transport::Datagram& reply) {
    if (reply.data[kCodeOffset] == code::kFirmwareReply) {
      driver.PostReply(reply.data, reply.arrived);
    } else {
      seen.Take(reply.data);
    }
  });
  session->Open();

  FirmwareUpload upload(
      mac, [&image](std::span<std::uint8_t> buffer) { return image.Read(buffer); }, timeouts);
  TransferResult result;
  progress.Update(0);
  try {
    result.failure = Drive(upload, driver, progress);
  } catch (...) {
    driver.Stop();
    progress.Finish();  // the error goes on a line of its own
    throw;
  }
  driver.Stop();
  progress.Finish();
  result.succeeded = upload.State() == FirmwareUpload::kSucceeded;
  if (!result.succeeded || !comeback) return result;

  // Only what the device says after it took the image tells of the new firmware.
  seen.Start();
  ComebackWatch watch(comeback->version, RolloutClock::now(), comeback->within);
  if (waiting) waiting();
  const ComebackWatch::Verdict verdict = WaitForComeback(watch, seen, *wiring.out);
  result.succeeded = verdict == ComebackWatch::Verdict::kConfirmed;
  result.failure = watch.Reason();
  return result;
}

}  // namespace oxlo::cli
