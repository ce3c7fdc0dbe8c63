#include "cli/device_cache.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

namespace oxlo::cli {

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
  std::filesystem::create_directories(path->parent_path(), error);
  if (error) return;
  // Written aside and renamed, so a completion never reads half a list.
  std::filesystem::path partial = *path;
  partial += "." + std::to_string(::getpid());
  {
    std::ofstream out(partial, std::ios::trunc);
    for (const SeenDevice& d : devices) out << d.record.mac << '\n';
    out.flush();
    if (!out) {
      std::filesystem::remove(partial, error);
      return;
    }
  }
  std::filesystem::rename(partial, *path, error);
  if (error) std::filesystem::remove(partial, error);
}

}  // namespace oxlo::cli
