#include "cli/firmware_transfer.h"

#include <algorithm>

#include "cli/device_session.h"
#include "protocol/conversion_error.h"
#include "protocol/frame.h"
#include "transport/endpoint.h"
#include "transport/firmware_driver.h"

namespace oxlo::cli {
namespace {

// How often the progress is redrawn while the upload runs.
constexpr std::chrono::milliseconds kProgressEvery{100};

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

}  // namespace

TransferResult SendFirmware(const MacField& mac, transport::ImageFile& image,
                            const FirmwareTimeouts& timeouts, UploadProgress& progress) {
  const std::vector<std::string> local = transport::LocalAddresses();
  if (local.empty()) {
    throw std::runtime_error("no network interface with an IPv4 address to send from");
  }
  transport::EveryInterface interfaces(local);
  transport::FirmwareDriver driver(interfaces, kDevicePort);
  // After the driver, so its receiving thread stops first.
  DeviceSession session(mac, {code::kFirmwareReply});
  // With the system's stamp: a reply that waited in the socket while the
  // receiving thread sent the next message is no answer to it.
  session.SetReplySink(
      [&driver](const transport::Datagram& reply) { driver.PostReply(reply.data, reply.arrived); });
  session.Open();

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
  return result;
}

}  // namespace oxlo::cli
