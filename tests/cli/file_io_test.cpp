// Settings files and firmware images on disk.
#include "cli/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

namespace oxlo::cli {
namespace {

namespace fs = std::filesystem;

class FileIo : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "oxlo-file-io-XXXXXX").string();
    ASSERT_NE(::mkdtemp(name.data()), nullptr);
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }

  static void Put(const fs::path& file, const std::string& content) {
    std::ofstream(file, std::ios::binary) << content;
  }
  static std::string Get(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::size_t Entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {}));
  }

  fs::path dir_;
};

const Bytes kContent{0x02, 0x4E, 0x00, 0x03};

TEST_F(FileIo, WritesANewFileOrReplacesAnOldOneKeepingItsMode) {
  const fs::path file = dir_ / "a.oxl";
  WriteFileAtomically(file, kContent);
  EXPECT_EQ(Get(file), std::string("\x02\x4E\x00\x03", 4));
  ::chmod(file.c_str(), 0640);
  WriteFileAtomically(file, ByteView(kContent).first(2));
  EXPECT_EQ(Get(file), "\x02\x4E");
  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(FileIo, AFailedWriteLeavesNothingBehind) {
  // A folder in the file's place cannot be renamed over.
  const fs::path folder = dir_ / "taken";
  fs::create_directory(folder);
  Put(folder / "inside", "kept");
  EXPECT_THROW(WriteFileAtomically(folder, kContent), std::runtime_error);
  EXPECT_EQ(Get(folder / "inside"), "kept");
  EXPECT_THROW(WriteFileAtomically(dir_ / "missing" / "a.oxl", kContent), std::runtime_error);
  EXPECT_EQ(Entries(), 1u);
}

TEST_F(FileIo, ReadsTheStartOfAFile) {
  const fs::path file = dir_ / "b.oxl";
  Put(file, "0123456789");
  EXPECT_EQ(ReadFileStart(file, 4), (Bytes{'0', '1', '2', '3'}));
  EXPECT_EQ(ReadFileStart(file, 100).size(), 10u);
  try {
    ReadFileStart(dir_ / "none.oxl", 4);
    ADD_FAILURE();
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()),
              "cannot open " + (dir_ / "none.oxl").string() + ": No such file or directory");
  }
}

TEST_F(FileIo, ImageIsReadPieceByPiece) {
  const fs::path file = dir_ / "image.bin";
  Put(file, std::string(300, 'x'));
  ImageFile image(file);
  EXPECT_EQ(image.Size(), 300u);
  std::array<std::uint8_t, 128> buffer{};
  EXPECT_EQ(image.Read(buffer), 128u);
  EXPECT_EQ(image.Read(buffer), 128u);
  EXPECT_EQ(image.Read(buffer), 44u);
  EXPECT_EQ(image.Read(buffer), 0u);
}

TEST_F(FileIo, ImageMustBeAReadableRegularFile) {
  for (const fs::path& bad : {dir_, dir_ / "none.bin"}) {
    EXPECT_THROW(ImageFile{bad}, std::runtime_error) << bad;
  }
}

}  // namespace
}  // namespace oxlo::cli
