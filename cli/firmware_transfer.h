// Drives the protocol's firmware upload over the network.
#pragma once

#include <chrono>
#include <string>

#include "cli/upload_progress.h"
#include "protocol/bytes.h"
#include "protocol/firmware.h"
#include "transport/files.h"

namespace oxlo::cli {

struct TransferResult {
  bool succeeded = false;
  std::string failure;  // why, when it did not succeed
};

// Sends the image to the device `mac` out of every local address and
// listens for its replies on port 2057. Throws on a read error of the
// image or a socket error.
TransferResult SendFirmware(const MacField& mac, transport::ImageFile& image,
                            const FirmwareTimeouts& timeouts, UploadProgress& progress);

}  // namespace oxlo::cli
