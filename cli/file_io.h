// Files the subcommands read and write: settings files and firmware images.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "protocol/bytes.h"

namespace oxlo::cli {

// Up to `limit` bytes from the start of `file`. Throws std::runtime_error
// naming the file and the reason.
Bytes ReadFileStart(const std::filesystem::path& file, std::size_t limit);

// Writes a file in the same folder, then renames it over `file`: `file` is
// either the old one or the whole new one, never a part. Keeps the mode of
// the file it replaces. Throws std::runtime_error naming the file.
void WriteFileAtomically(const std::filesystem::path& file, ByteView bytes);

// A regular file read piece by piece, so a large image is never held whole.
class ImageFile {
 public:
  // Throws std::runtime_error when it cannot be opened or is not a regular file.
  explicit ImageFile(const std::filesystem::path& file);
  ~ImageFile();
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  std::uint64_t Size() const { return size_; }
  // Fills `buffer` as far as the file goes; 0 at its end. Throws on a read error.
  std::size_t Read(std::span<std::uint8_t> buffer);

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

}  // namespace oxlo::cli
