// Drives the protocol's firmware upload over the network, and waits for the
// device to come back from it reporting the new version.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "cli/upload_progress.h"
#include "protocol/conversation/firmware_rollout.h"
#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/bytes.h"
#include "transport/files/files.h"
#include "transport/sockets/endpoint.h"

namespace oxlo::transport {
class DeviceLine;
}

namespace oxlo::cli {

// After the accepted end message: the version the device must report, and
// how long it may take to come back with it.
struct ComebackCheck {
  std::string version;
  std::chrono::milliseconds within = ComebackWatch::kDefaultBackWithin;
};

struct TransferResult {
  bool succeeded = false;  // with a comeback check: and the device reports its version
  std::string failure;     // why, when it did not succeed
};

// Where the messages go and the replies come from: port 2057 on every local
// address and a broadcast out of each of them, unless a test gives its own.
struct TransferWiring {
  transport::DeviceLine* line = nullptr;           // opened by its owner
  transport::InterfaceBroadcaster* out = nullptr;  // sends to port 2057
};

// Sends the image to the device `mac` and listens for its replies. With
// `comeback`, then asks every ComebackWatch::kAskEvery until the device
// answers a discovery query with that version, another one, or not at all
// in time; `waiting` is called once that wait starts. Throws on a read error
// of the image or a socket error.
TransferResult SendFirmware(const MacField& mac, transport::ImageFile& image,
                            const FirmwareTimeouts& timeouts, UploadProgress& progress,
                            const std::optional<ComebackCheck>& comeback = std::nullopt,
                            const std::function<void()>& waiting = {}, TransferWiring wiring = {});

}  // namespace oxlo::cli
