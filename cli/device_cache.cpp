#include "cli/device_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <system_error>

#include "transport/descriptor.h"
#include "transport/files/files.h"

namespace oxlo::cli {
namespace {

// The folder the list lives in, opened without following a link, and only
// when this user owns it and nobody else may write in it: in a shared folder
// another user could otherwise plant a link where the list is written.
int OpenOwnFolder(const std::filesystem::path& folder) {
  ::mkdir(folder.c_str(), 0700);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || status.st_uid != ::geteuid() ||
      (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A name no other process can guess ahead.
std::string TemporaryName() {
  std::random_device random;
  constexpr char kDigits[] = "0123456789abcdef";
  std::string name = ".devices.";
  for (int i = 0; i < 16; ++i) name += kDigits[random() % 16];
  return name;
}

}  // namespace

std::optional<std::filesystem::path> DeviceCachePath() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && *cache == '/') return std::filesystem::path(cache) / "oxlo" / "devices";
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home == '/') {
    return std::filesystem::path(home) / ".cache" / "oxlo" / "devices";
  }
  return std::nullopt;
}

void RememberDevices(const std::vector<SeenDevice>& devices) {
  const std::optional<std::filesystem::path> path = DeviceCachePath();
  if (!path) return;
  std::error_code error;
  std::filesystem::create_directories(path->parent_path().parent_path(), error);
  if (error) return;
  const transport::Descriptor folder(OpenOwnFolder(path->parent_path()));
  if (!folder) return;
  std::string text;
  for (const SeenDevice& d : devices) text += d.record.mac + '\n';
  // Written aside under a fresh name and renamed, so a completion never
  // reads half a list and nothing planted is followed or overwritten.
  const std::string partial = TemporaryName();
  const int fd = ::openat(folder.get(), partial.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const bool written =
      transport::WriteAll(
          fd, ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())) == 0;
  const bool closed = ::close(fd) == 0;
  const std::string name = path->filename().string();
  if (!written || !closed ||
      ::renameat(folder.get(), partial.c_str(), folder.get(), name.c_str()) != 0) {
    ::unlinkat(folder.get(), partial.c_str(), 0);
  }
}

}  // namespace oxlo::cli
