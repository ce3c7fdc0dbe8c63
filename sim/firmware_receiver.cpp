#include "sim/firmware_receiver.h"

#include <system_error>

namespace oxlo::sim {

ImageFile::ImageFile(std::filesystem::path directory, std::string fileName)
    : final_(directory / fileName), partial_(directory / (fileName + ".part")) {
  out_.open(partial_, std::ios::binary | std::ios::trunc);
}

ImageFile::~ImageFile() {
  Discard();
}

bool ImageFile::Append(ByteView bytes) {
  if (!out_.is_open()) return false;
  out_.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return out_.good();
}

bool ImageFile::Commit() {
  if (!out_.is_open()) return false;
  out_.close();
  if (out_.fail()) {
    Discard();
    return false;
  }
  std::error_code error;
  std::filesystem::rename(partial_, final_, error);
  if (error) {
    Discard();
    return false;
  }
  return true;
}

void ImageFile::Discard() {
  if (out_.is_open()) out_.close();
  std::error_code ignored;
  std::filesystem::remove(partial_, ignored);
}

FirmwareReceiver::FirmwareReceiver(std::filesystem::path directory, std::string fileName,
                                   bool rejectRepeats)
    : directory_(std::move(directory)),
      file_name_(std::move(fileName)),
      reject_repeats_(rejectRepeats) {}

FirmwareReceiver::Accepted FirmwareReceiver::Summary(const FirmwareMessage& message) {
  return {message.sequence, message.kind, message.length, message.checksum};
}

FirmwareStatus FirmwareReceiver::Receive(const FirmwareMessage& message,
                                         std::optional<std::uint32_t> rejectAt, bool refuseEnd) {
  if (last_accepted_ == Summary(message)) {
    return reject_repeats_ ? FirmwareStatus::kRepeated : FirmwareStatus::kOk;
  }
  if (rejectAt && message.sequence == *rejectAt) return Refuse(FirmwareStatus::kRejectedOnRequest);
  if (message.kind == kFirmwareKindData) return ReceiveData(message);
  if (message.kind == kFirmwareKindEnd) {
    return refuseEnd ? Refuse(FirmwareStatus::kEndRefusedOnRequest) : ReceiveEnd(message);
  }
  return Refuse(FirmwareStatus::kOutOfOrder);
}

FirmwareStatus FirmwareReceiver::ReceiveData(const FirmwareMessage& message) {
  // The tool gives up on a silent device and starts over; so does the device.
  if (message.sequence == 0) Reset();
  if (message.sequence != next_sequence_) return Refuse(FirmwareStatus::kOutOfOrder);
  if (message.data.size() != message.length ||
      FirmwareChecksum::Of(message.data) != message.checksum) {
    return Refuse(FirmwareStatus::kChunkChecksum);
  }
  if (!directory_.empty()) {
    if (!file_) file_ = std::make_unique<ImageFile>(directory_, file_name_);
    if (!file_->Append(message.data)) return Refuse(FirmwareStatus::kStorageFailed);
  }
  for (std::size_t i = 0; i < message.data.size(); ++i) checksum_.Add(message.data[i], length_ + i);
  length_ += message.data.size();
  ++next_sequence_;
  last_accepted_ = Summary(message);
  return FirmwareStatus::kOk;
}

FirmwareStatus FirmwareReceiver::ReceiveEnd(const FirmwareMessage& message) {
  if (message.sequence != next_sequence_) return Refuse(FirmwareStatus::kOutOfOrder);
  if (message.length != length_ || message.checksum != checksum_.Value()) {
    return Refuse(FirmwareStatus::kImageMismatch);
  }
  if (!directory_.empty()) {
    if (!file_) file_ = std::make_unique<ImageFile>(directory_, file_name_);
    if (!file_->Commit()) return Refuse(FirmwareStatus::kStorageFailed);
  }
  Reset();
  last_accepted_ = Summary(message);
  ++images_accepted_;
  return FirmwareStatus::kOk;
}

FirmwareStatus FirmwareReceiver::Refuse(FirmwareStatus status) {
  Reset();
  return status;
}

void FirmwareReceiver::Reset() {
  file_.reset();  // discards an unfinished image; a committed one is already renamed
  next_sequence_ = 0;
  length_ = 0;
  checksum_.Reset();
  last_accepted_.reset();
}

}  // namespace oxlo::sim
