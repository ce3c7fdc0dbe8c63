// Settings files and firmware images on disk, for the window and `oxlo`
// alike. Only regular files are read or replaced: a directory, FIFO, socket
// or device is refused at once, before anything would wait on it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/bytes.h"
#include "transport/descriptor.h"

namespace oxlo::transport {

// Up to `limit` bytes from the start of `file`. Throws std::runtime_error
// naming the file and the reason.
Bytes ReadFileStart(const std::filesystem::path& file, std::size_t limit);

// Whether `file` names this process's standard input ("-", /dev/stdin,
// /dev/fd/0 or /proc/self/fd/0).
bool IsStandardInput(const std::filesystem::path& file);

// Up to `limit` bytes of standard input, whatever it is (a pipe, a terminal,
// a file): what `-` reads. Throws std::runtime_error.
Bytes ReadStandardInputStart(std::size_t limit);

// Throws the error WriteFileAtomically would give for what `file` names now,
// so a caller can refuse before doing the work whose result it would write.
void CheckReplaceable(const std::filesystem::path& file);

// Throws what writing `file` at the end of a long run would throw, now: the
// checks of CheckReplaceable, and a file created (and removed again) in the
// folder the file goes into.
void CheckWritable(const std::filesystem::path& file);

// Whether `file` names this process's standard output ("-", /dev/stdout,
// /dev/fd/1 or /proc/self/fd/1): what goes there is written to descriptor 1,
// never renamed over whatever the descriptor leads to (a log it appends to).
bool IsStandardOutput(const std::filesystem::path& file);

// Writes all of `bytes` to `fd`; 0 once every byte went, else the error.
int WriteAll(int fd, ByteView bytes);

// Writes all of `bytes` to standard output. Throws std::runtime_error.
void WriteStandardOutput(ByteView bytes);

// Writes a file in the same folder, then renames it over `file`: `file` is
// either the old one or the whole new one, never a part. Keeps the mode of
// the file it replaces. Through a symbolic link the link's target is written
// (created when missing) and the link stays. Throws std::runtime_error naming
// the file; an existing target that is not a regular file is left alone.
void WriteFileAtomically(const std::filesystem::path& file, ByteView bytes);

// A firmware image read piece by piece, so a large one is never held whole.
class ImageFile {
 public:
  // Throws std::runtime_error when it cannot be opened, is not a regular file
  // or holds more than `maxSize` bytes: lengths travel as signed 32-bit numbers.
  explicit ImageFile(const std::filesystem::path& file,
                     std::uint64_t maxSize = FirmwareUpload::kMaxImageSize);

  std::uint64_t Size() const { return size_; }
  // Fills `buffer` as far as the file goes; 0 at its end. Throws on a read error.
  std::size_t Read(std::span<std::uint8_t> buffer);
  // Once the whole image has been read; a Read afterwards throws.
  void Close() { fd_.reset(); }

 private:
  std::filesystem::path path_;
  Descriptor fd_;
  std::uint64_t size_ = 0;
};

}  // namespace oxlo::transport
