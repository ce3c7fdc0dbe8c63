#include "cli/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace oxlo::cli {
namespace {

std::runtime_error FileError(const std::string& what, const std::filesystem::path& file,
                             int error) {
  return std::runtime_error(what + " " + file.string() + ": " + std::strerror(error));
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  // Closes now, so a failing close (a full disk over NFS) can be reported.
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

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

mode_t ModeForNewFile(const std::filesystem::path& file) {
  struct stat existing {};
  if (::stat(file.c_str(), &existing) == 0) return existing.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

Bytes ReadFileStart(const std::filesystem::path& file, std::size_t limit) {
  Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) throw FileError("cannot open", file, errno);
  Bytes bytes(limit);
  const ssize_t got = ReadFully(fd.Get(), bytes);
  if (got < 0) throw FileError("cannot read", file, errno);
  bytes.resize(static_cast<std::size_t>(got));
  return bytes;
}

void WriteFileAtomically(const std::filesystem::path& file, ByteView bytes) {
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
  std::string temporary = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
  Descriptor fd(::mkstemp(temporary.data()));
  if (fd.Get() < 0) throw FileError("cannot write", file, errno);
  const auto fail = [&](int error) {
    ::unlink(temporary.c_str());
    return FileError("cannot write", file, error);
  };
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd.Get(), bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw fail(errno);
    written += static_cast<std::size_t>(n);
  }
  if (::fchmod(fd.Get(), ModeForNewFile(file)) != 0 || ::fsync(fd.Get()) != 0) throw fail(errno);
  if (fd.Close() != 0) throw fail(errno);
  if (::rename(temporary.c_str(), file.c_str()) != 0) throw fail(errno);
}

ImageFile::ImageFile(const std::filesystem::path& file) : path_(file) {
  fd_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw FileError("cannot open", file, errno);
  struct stat status {};
  if (::fstat(fd_, &status) != 0) {
    const int error = errno;
    ::close(fd_);
    throw FileError("cannot read", file, error);
  }
  if (!S_ISREG(status.st_mode)) {
    ::close(fd_);
    throw std::runtime_error("cannot read " + file.string() + ": not a regular file");
  }
  size_ = static_cast<std::uint64_t>(status.st_size);
}

ImageFile::~ImageFile() {
  ::close(fd_);
}

std::size_t ImageFile::Read(std::span<std::uint8_t> buffer) {
  const ssize_t got = ReadFully(fd_, buffer);
  if (got < 0) throw FileError("cannot read", path_, errno);
  return static_cast<std::size_t>(got);
}

}  // namespace oxlo::cli
