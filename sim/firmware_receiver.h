// The device's side of a firmware upload: checks each chunk and the closing
// message, and streams an accepted image to a file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/bytes.h"
#include "protocol/wire/device_side.h"

namespace oxlo::sim {

// The status byte of the 'f' reply. The tool only tells zero from non-zero;
// distinct values make a capture readable.
enum class FirmwareStatus : std::uint8_t {
  kOk = 0x00,
  kRejectedOnRequest = 0x01,  // the --reject-firmware-at fault
  kOutOfOrder = 0x02,
  kChunkChecksum = 0x03,
  kImageMismatch = 0x04,  // the end message disagrees with the chunks received
  kStorageFailed = 0x05,
  kRepeated = 0x06,             // the --reject-repeats fault: a copy of the last accepted message
  kEndRefusedOnRequest = 0x07,  // a device file's "refuse_end": every chunk taken, the end not
};

// Writes an image to "<dir>/<file>.part" and renames it to "<dir>/<file>" once
// the upload is accepted, so a reader never sees half an image.
class ImageFile {
 public:
  ImageFile(std::filesystem::path directory, std::string fileName);
  ~ImageFile();
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  bool Append(ByteView bytes);
  bool Commit();
  void Discard();

 private:
  std::filesystem::path final_;
  std::filesystem::path partial_;
  std::ofstream out_;
};

class FirmwareReceiver {
 public:
  // With an empty directory images are checked but not kept. A copy of the
  // message accepted last is acknowledged again, or with `rejectRepeats`
  // answered kRepeated; either way the transfer goes on unchanged.
  FirmwareReceiver(std::filesystem::path directory, std::string fileName,
                   bool rejectRepeats = false);

  // Judges one message; a refused message ends the transfer, so the next
  // upload starts again at sequence 0. With `refuseEnd` every end message is
  // refused, whatever the chunks before it were.
  FirmwareStatus Receive(const FirmwareMessage& message,
                         std::optional<std::uint32_t> rejectAt = std::nullopt,
                         bool refuseEnd = false);

  // Whole images accepted so far; a copy of an accepted end message does not
  // count again.
  std::uint32_t ImagesAccepted() const { return images_accepted_; }

 private:
  FirmwareStatus ReceiveData(const FirmwareMessage& message);
  FirmwareStatus ReceiveEnd(const FirmwareMessage& message);
  FirmwareStatus Refuse(FirmwareStatus status);
  void Reset();

  std::filesystem::path directory_;
  std::string file_name_;
  bool reject_repeats_;
  std::unique_ptr<ImageFile> file_;  // opened at the first chunk
  std::uint32_t next_sequence_ = 0;
  std::uint64_t length_ = 0;
  std::uint32_t images_accepted_ = 0;
  FirmwareChecksum checksum_;
  // What the last accepted message said, to know a copy of it (one the
  // network duplicated, or one sent from each of the tool's addresses). It
  // outlives the end of a transfer, whose end message may come twice too.
  struct Accepted {
    std::uint32_t sequence;
    std::uint8_t kind;
    std::uint32_t length;
    std::uint32_t checksum;
    bool operator==(const Accepted&) const = default;
  };
  static Accepted Summary(const FirmwareMessage& message);
  std::optional<Accepted> last_accepted_;
};

}  // namespace oxlo::sim
