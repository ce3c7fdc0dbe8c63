#include <unistd.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "cli/arguments.h"
#include "cli/commands/shared.h"
#include "cli/commands/subcommands.h"
#include "cli/exit_codes.h"
#include "cli/firmware_transfer.h"
#include "cli/upload_progress.h"
#include "protocol/wire/fields.h"
#include "transport/files/files.h"

namespace oxlo::cli {
namespace {

struct FirmwareOptions {
  std::string mac;
  std::string image;
  long long dataTimeoutMs = 4000;
  long long endTimeoutMs = 41000;
  // The version the device must report once it is back; none: not waited for.
  std::optional<std::string> version;
  long long backWithin = 180;  // seconds
  bool json = false;
};

void Firmware(const FirmwareOptions& options) {
  const MacArgument mac = ParseMacArgument(options.mac);
  FirmwareTimeouts timeouts;
  timeouts.data = ReplyWaitArgument("--data-timeout", options.dataTimeoutMs, kDataReplyTimeout);
  timeouts.end = ReplyWaitArgument("--end-timeout", options.endTimeoutMs, kEndReplyTimeout);
  std::optional<ComebackCheck> comeback;
  const std::chrono::seconds within = BackWithinArgument(options.backWithin);
  if (options.version) {
    comeback =
        ComebackCheck{FixedTextArgument("--version", *options.version, kVersionWidth), within};
  }
  transport::ImageFile image(options.image);
  // Progress and notices go to stderr: stdout holds the result alone.
  UploadProgress progress(std::cerr, ::isatty(STDERR_FILENO) == 1, image.Size());
  const TransferResult result = SendFirmware(mac.bytes, image, timeouts, progress, comeback, [&] {
    std::cerr << "The device took the image; waiting up to " << within.count()
              << " s for it to report version " << comeback->version << "\n"
              << std::flush;
  });
  // Versions travel as 8-bit text.
  const std::string failure =
      result.succeeded ? ""
                       : "Updating firmware was failed" +
                             (result.failure.empty() ? "" : ": " + Latin1ToUtf8(result.failure));
  if (options.json) {
    Document report = {{"mac", mac.text},
                       {"image", options.image},
                       {"bytes", image.Size()},
                       {"succeeded", result.succeeded},
                       {"version", comeback && result.succeeded ? Document(comeback->version)
                                                                : Document(nullptr)}};
    if (!failure.empty()) report["reason"] = failure;
    PrintJson(std::cout, report);
  }
  if (!failure.empty()) throw Failure(failure);
  if (options.json) return;
  if (comeback) {
    std::cout << "Updating firmware was successful: the device reports version "
              << comeback->version << "\n";
  } else {
    std::cout << "Updating firmware was successful (not confirmed: give --version to wait for "
                 "the device to report it)\n";
  }
}

}  // namespace

void AddFirmware(CLI::App& parent) {
  const auto options = std::make_shared<FirmwareOptions>();
  CLI::App* f = parent.add_subcommand("firmware", "Upload a firmware image to a device");
  f->add_option("mac", options->mac, kMacHelp)->required();
  f->add_option("image", options->image, "Firmware image file")->required();
  f->add_option("--data-timeout", options->dataTimeoutMs,
                "Milliseconds to wait for each chunk's reply (default and most 4000)");
  f->add_option("--end-timeout", options->endTimeoutMs,
                "Milliseconds to wait for the final reply (default and most 41000)");
  f->add_option("--version", options->version,
                "Wait for the device to come back reporting this firmware version");
  f->add_option("--back-within", options->backWithin,
                "Seconds the device may take to come back with --version, 1 to 3600 (default 180)");
  f->add_flag("--json", options->json,
              "Print the result as JSON: succeeded, the version confirmed (null without "
              "--version), the reason of a failure");
  f->footer(
      "Exit status: 0 when the device took the image (and, with --version, reports that\n"
      "version again), 1 when it refused it, did not answer, came back with another\n"
      "version or not in time, 2 for bad usage.");
  f->callback([options] { Firmware(*options); });
}

}  // namespace oxlo::cli
