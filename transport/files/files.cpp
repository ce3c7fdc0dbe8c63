#include "transport/files/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace oxlo::transport {
namespace {

namespace fs = std::filesystem;

// As many links as the kernel follows before it gives ELOOP.
constexpr int kMaxLinks = 40;

std::runtime_error FileError(const std::string& what, const fs::path& file, int error) {
  return std::runtime_error(what + " " + file.string() + ": " + std::strerror(error));
}

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return "a special file";
}

std::runtime_error NotRegular(const std::string& what, const fs::path& file, mode_t mode) {
  return std::runtime_error(what + " " + file.string() + ": it is " + KindOf(mode) +
                            ", not a regular file");
}

// Opens a regular file for reading. Anything else is refused before it is
// opened, and opening never waits (for a FIFO's writer, say): a FIFO put in
// place after the first look is caught by the second.
Descriptor OpenRegular(const fs::path& file, struct stat& status) {
  if (::stat(file.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    throw NotRegular("cannot read", file, status.st_mode);
  }
  Descriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) throw FileError("cannot open", file, errno);
  if (::fstat(fd.get(), &status) != 0) throw FileError("cannot read", file, errno);
  if (!S_ISREG(status.st_mode)) throw NotRegular("cannot read", file, status.st_mode);
  // Reads then block as they would on any regular file, never EAGAIN.
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    throw FileError("cannot read", file, errno);
  }
  return fd;
}

// Reads until `buffer` is full or the file ends; -1 with errno on an error.
ssize_t ReadFully(int fd, std::span<std::uint8_t> buffer) {
  std::size_t filled = 0;
  while (filled < buffer.size()) {
    const ssize_t got = ::read(fd, buffer.data() + filled, buffer.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(filled);
}

// The file a write to `file` lands in: the end of its chain of links. A
// rename would replace the link itself.
fs::path WriteTarget(const fs::path& file) {
  fs::path at = file;
  for (int hops = 0;; ++hops) {
    struct stat status {};
    if (::lstat(at.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return at;
    if (hops == kMaxLinks) throw FileError("cannot write", file, ELOOP);
    std::error_code error;
    const fs::path next = fs::read_symlink(at, error);
    if (error) throw FileError("cannot write", file, error.value());
    at = next.is_absolute() ? next : at.parent_path() / next;
  }
}

// Renaming over a FIFO or a device would replace the node itself.
void RefuseSpecialTarget(const fs::path& file, const fs::path& target) {
  struct stat status {};
  if (::stat(target.c_str(), &status) != 0 || S_ISREG(status.st_mode)) return;
  if (target == file) throw NotRegular("cannot write", file, status.st_mode);
  throw std::runtime_error("cannot write " + file.string() + ": it links to " + target.string() +
                           ", " + KindOf(status.st_mode) + ", not a regular file");
}

mode_t ModeForNewFile(const fs::path& file) {
  struct stat existing {};
  if (::stat(file.c_str(), &existing) == 0) return existing.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// A new file beside `target` (the path a write of `file` goes to), under a
// name nobody can guess; its path is left in `temporary`.
Descriptor CreateTemporaryBeside(const fs::path& file, const fs::path& target,
                                 std::string& temporary) {
  RefuseSpecialTarget(file, target);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : ".";
  temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  Descriptor fd(::mkstemp(temporary.data()));
  if (!fd) throw FileError("cannot write", file, errno);
  return fd;
}

}  // namespace

int WriteAll(int fd, ByteView bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;  // no progress: never spin on it
    written += static_cast<std::size_t>(n);
  }
  return 0;
}

Bytes ReadFileStart(const fs::path& file, std::size_t limit) {
  struct stat status {};
  const Descriptor fd = OpenRegular(file, status);
  Bytes bytes(limit);
  const ssize_t got = ReadFully(fd.get(), bytes);
  if (got < 0) throw FileError("cannot read", file, errno);
  bytes.resize(static_cast<std::size_t>(got));
  return bytes;
}

void CheckReplaceable(const fs::path& file) {
  RefuseSpecialTarget(file, WriteTarget(file));
}

void CheckWritable(const fs::path& file) {
  std::string temporary;
  const Descriptor fd = CreateTemporaryBeside(file, WriteTarget(file), temporary);
  ::unlink(temporary.c_str());
}

bool IsStandardInput(const fs::path& file) {
  return file == "-" || file == "/dev/stdin" || file == "/dev/fd/0" || file == "/proc/self/fd/0";
}

Bytes ReadStandardInputStart(std::size_t limit) {
  Bytes bytes(limit);
  const ssize_t got = ReadFully(STDIN_FILENO, bytes);
  if (got < 0) throw FileError("cannot read", "standard input", errno);
  bytes.resize(static_cast<std::size_t>(got));
  return bytes;
}

bool IsStandardOutput(const fs::path& file) {
  return file == "-" || file == "/dev/stdout" || file == "/dev/fd/1" || file == "/proc/self/fd/1";
}

void WriteStandardOutput(ByteView bytes) {
  if (const int error = WriteAll(STDOUT_FILENO, bytes)) {
    throw FileError("cannot write", "standard output", error);
  }
}

void WriteFileAtomically(const fs::path& file, ByteView bytes) {
  const fs::path target = WriteTarget(file);
  std::string temporary;
  Descriptor fd = CreateTemporaryBeside(file, target, temporary);
  const auto fail = [&](int error) {
    ::unlink(temporary.c_str());
    return FileError("cannot write", file, error);
  };
  if (const int error = WriteAll(fd.get(), bytes)) throw fail(error);
  if (::fchmod(fd.get(), ModeForNewFile(target)) != 0 || ::fsync(fd.get()) != 0) throw fail(errno);
  // Closed here, so a failing close (a full disk over NFS) is reported.
  if (::close(fd.release()) != 0) throw fail(errno);
  if (::rename(temporary.c_str(), target.c_str()) != 0) throw fail(errno);
}

ImageFile::ImageFile(const fs::path& file, std::uint64_t maxSize) : path_(file) {
  struct stat status {};
  fd_ = OpenRegular(file, status);
  size_ = static_cast<std::uint64_t>(status.st_size);
  if (size_ > maxSize) {
    throw std::runtime_error("The firmware image is too large: " + file.string() + " holds " +
                             std::to_string(size_) + " bytes, an image at most " +
                             std::to_string(maxSize) + ".");
  }
}

std::size_t ImageFile::Read(std::span<std::uint8_t> buffer) {
  const ssize_t got = ReadFully(fd_.get(), buffer);
  if (got < 0) throw FileError("cannot read", path_, errno);
  return static_cast<std::size_t>(got);
}

}  // namespace oxlo::transport
