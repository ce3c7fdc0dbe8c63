// The list of discovered MACs the shell completion reads.
#include "cli/device_cache.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace oxlo::cli {
namespace {

namespace fs = std::filesystem;

class DeviceCache : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("oxlo-cache-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    const char* home = std::getenv("HOME");
    const char* cache = std::getenv("XDG_CACHE_HOME");
    saved_home_ = home != nullptr ? std::optional<std::string>(home) : std::nullopt;
    saved_cache_ = cache != nullptr ? std::optional<std::string>(cache) : std::nullopt;
  }
  void TearDown() override {
    Restore("HOME", saved_home_);
    Restore("XDG_CACHE_HOME", saved_cache_);
    fs::remove_all(dir_);
  }
  static void Restore(const char* name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  static std::vector<SeenDevice> Devices(std::initializer_list<const char*> macs) {
    std::vector<SeenDevice> devices;
    for (const char* mac : macs) {
      SeenDevice d;
      d.record.mac = mac;
      devices.push_back(d);
    }
    return devices;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  fs::path dir_;
  std::optional<std::string> saved_home_;
  std::optional<std::string> saved_cache_;
};

TEST_F(DeviceCache, EachDiscoveryReplacesTheListWhereTheEnvironmentPointsIt) {
  ::unsetenv("XDG_CACHE_HOME");
  ::setenv("HOME", dir_.c_str(), 1);
  EXPECT_EQ(DeviceCachePath(), dir_ / ".cache" / "oxlo" / "devices");
  ::setenv("XDG_CACHE_HOME", (dir_ / "xdg").c_str(), 1);
  const fs::path path = dir_ / "xdg" / "oxlo" / "devices";
  EXPECT_EQ(DeviceCachePath(), path);

  RememberDevices(Devices({"02-00-00-00-00-01", "02-00-00-00-00-02"}));
  EXPECT_EQ(Read(path), "02-00-00-00-00-01\n02-00-00-00-00-02\n");
  RememberDevices(Devices({"02-00-00-00-00-03"}));
  EXPECT_EQ(Read(path), "02-00-00-00-00-03\n");
  RememberDevices({});
  EXPECT_EQ(Read(path), "");
  // Nothing left behind but the list.
  EXPECT_EQ(std::distance(fs::directory_iterator(path.parent_path()), fs::directory_iterator()), 1);
}

TEST_F(DeviceCache, NoPlaceForTheListIsNoError) {
  // A relative or missing home is not used; a file where the folder should
  // be is left as it is.
  ::unsetenv("XDG_CACHE_HOME");
  ::setenv("HOME", "relative", 1);
  EXPECT_EQ(DeviceCachePath(), std::nullopt);
  ::unsetenv("HOME");
  EXPECT_EQ(DeviceCachePath(), std::nullopt);
  EXPECT_NO_THROW(RememberDevices(Devices({"02-00-00-00-00-01"})));

  std::ofstream(dir_ / "oxlo") << "a file\n";
  ::setenv("XDG_CACHE_HOME", dir_.c_str(), 1);
  EXPECT_NO_THROW(RememberDevices(Devices({"02-00-00-00-00-01"})));
  EXPECT_EQ(Read(dir_ / "oxlo"), "a file\n");
}

// With the cache in a shared folder, another user's links at any name the
// writer might use are never followed, and a folder that is not this user's
// own, or that others may write in, is passed over.
TEST_F(DeviceCache, NothingPlantedInASharedFolderIsFollowed) {
  const fs::path victim = dir_ / "victim";
  std::ofstream(victim) << "precious\n";
  ::setenv("XDG_CACHE_HOME", dir_.c_str(), 1);
  const fs::path folder = dir_ / "oxlo";

  // The folder itself a link to another folder.
  fs::create_directories(dir_ / "elsewhere");
  fs::create_directory_symlink(dir_ / "elsewhere", folder);
  RememberDevices(Devices({"02-00-00-00-00-01"}));
  EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere"));
  fs::remove(folder);

  // Links at the list's name and at the names an earlier writer used.
  fs::create_directory(folder);
  fs::permissions(folder, fs::perms::owner_all);
  for (const std::string& name : {std::string("devices.") + std::to_string(::getpid()),
                                  std::string("devices.tmp"), std::string(".devices.tmp")}) {
    fs::create_symlink(victim, folder / name);
  }
  RememberDevices(Devices({"02-00-00-00-00-02"}));
  EXPECT_EQ(Read(victim), "precious\n");
  EXPECT_EQ(Read(folder / "devices"), "02-00-00-00-00-02\n");
  fs::create_symlink(victim, folder / "list-link");
  fs::rename(folder / "list-link", folder / "devices");
  RememberDevices(Devices({"02-00-00-00-00-03"}));
  EXPECT_EQ(Read(victim), "precious\n");
  EXPECT_FALSE(fs::is_symlink(folder / "devices"));
  EXPECT_EQ(Read(folder / "devices"), "02-00-00-00-00-03\n");

  // A folder others may write in is skipped.
  for (const fs::perms others : {fs::perms::group_write, fs::perms::others_write}) {
    fs::permissions(folder, fs::perms::owner_all | others);
    RememberDevices(Devices({"02-00-00-00-00-04"}));
    EXPECT_EQ(Read(folder / "devices"), "02-00-00-00-00-03\n");
  }
  // So is one another user owns (only root can make one here).
  fs::permissions(folder, fs::perms::owner_all);
  if (::geteuid() == 0 && ::chown(folder.c_str(), 65534, 65534) == 0) {
    RememberDevices(Devices({"02-00-00-00-00-05"}));
    EXPECT_EQ(Read(folder / "devices"), "02-00-00-00-00-03\n");
  }
}

}  // namespace
}  // namespace oxlo::cli
