// Settings files and firmware images on disk: what is read, what is written
// and what is refused, for every kind of file a dialog or a command line can
// name.
#include "transport/files/files.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace oxlo::transport {
namespace {

namespace fs = std::filesystem;

// Ends the test program, rather than letting it hang, when something waits
// on a FIFO.
class Watchdog {
 public:
  Watchdog() { ::alarm(10); }
  ~Watchdog() { ::alarm(0); }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
};

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "oxlo-files-XXXXXX").string();
    ASSERT_NE(::mkdtemp(name.data()), nullptr);
    dir_ = name;
  }
  void TearDown() override {
    for (const int fd : sockets_) ::close(fd);
    fs::remove_all(dir_);
  }

  static void Put(const fs::path& file, const std::string& content) {
    std::ofstream(file, std::ios::binary) << content;
  }
  static std::string Get(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static std::size_t Entries(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
  }
  static bool IsFifo(const fs::path& file) {
    return fs::symlink_status(file).type() == fs::file_type::fifo;
  }
  fs::path Fifo(const char* name) {
    const fs::path file = dir_ / name;
    EXPECT_EQ(::mkfifo(file.c_str(), 0600), 0);
    return file;
  }
  // A listening Unix socket: open() on it fails rather than opening it.
  fs::path Socket(const char* name) {
    const fs::path file = dir_ / name;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, file.c_str(), sizeof(address.sun_path) - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    sockets_.push_back(fd);
    return file;
  }
  // A file of `size` bytes that takes no room on the disk.
  fs::path Sparse(const char* name, off_t size) {
    const fs::path file = dir_ / name;
    Put(file, "");
    EXPECT_EQ(::truncate(file.c_str(), size), 0);
    return file;
  }

  fs::path dir_;
  std::vector<int> sockets_;
};

const Bytes kContent{0x02, 0x4E, 0x00, 0x03};

std::string Refusal(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "";
}

// Settings files and images are read alike: a regular file, or a link to
// one, is read; anything else is refused at once, naming the file and what
// it is.
TEST_F(Files, OnlyRegularFilesAreReadAndNothingWaitsOnAFifo) {
  Put(dir_ / "plain.oxl", "0123456789");
  fs::create_directory(dir_ / "folder");
  fs::create_symlink("plain.oxl", dir_ / "link.oxl");
  fs::create_symlink("gone.oxl", dir_ / "dangling.oxl");
  struct Case {
    fs::path file;
    std::string refusal;  // after the path; empty when read
  };
  const Case cases[] = {
      {dir_ / "plain.oxl", ""},
      {dir_ / "link.oxl", ""},
      {dir_ / "folder", ": it is a directory, not a regular file"},
      {Fifo("pipe.oxl"), ": it is a FIFO (named pipe), not a regular file"},
      {Socket("socket.oxl"), ": it is a socket, not a regular file"},
      {"/dev/null", ": it is a character device, not a regular file"},
      {dir_ / "dangling.oxl", ": No such file or directory"},
      {dir_ / "none.oxl", ": No such file or directory"},
  };
  const Watchdog watchdog;
  for (const Case& c : cases) {
    const std::string verb = c.refusal.starts_with(": it is") ? "cannot read " : "cannot open ";
    const std::string expected = c.refusal.empty() ? "" : verb + c.file.string() + c.refusal;
    EXPECT_EQ(Refusal([&] {
                EXPECT_EQ(ReadFileStart(c.file, 4), (Bytes{'0', '1', '2', '3'}));
              }),
              expected)
        << c.file;
    EXPECT_EQ(Refusal([&] { EXPECT_EQ(ImageFile(c.file).Size(), 10u); }), expected) << c.file;
  }
}

TEST_F(Files, TheStartOfAFileAndAnImagePieceByPiece) {
  const fs::path file = dir_ / "image.bin";
  Put(file, std::string(300, 'x'));
  EXPECT_EQ(ReadFileStart(file, 4).size(), 4u);
  EXPECT_EQ(ReadFileStart(file, 1000).size(), 300u);

  ImageFile image(file);
  EXPECT_EQ(image.Size(), 300u);
  std::array<std::uint8_t, 128> buffer{};
  EXPECT_EQ(image.Read(buffer), 128u);
  EXPECT_EQ(image.Read(buffer), 128u);
  EXPECT_EQ(image.Read(buffer), 44u);
  EXPECT_EQ(image.Read(buffer), 0u);
  image.Close();
  EXPECT_THROW(image.Read(buffer), std::runtime_error);
}

// Lengths travel as signed 32-bit numbers: the largest image they can
// describe opens, one byte more is refused before a byte of it is read.
TEST_F(Files, AnImageOf2GiBOrMoreIsRefusedByItsSize) {
  const fs::path largest = Sparse("largest.bin", 0x7FFFFFFF);
  EXPECT_EQ(ImageFile(largest).Size(), FirmwareUpload::kMaxImageSize);
  const fs::path over = Sparse("over.bin", 0x80000000);
  EXPECT_EQ(Refusal([&] { ImageFile{over}; }),
            "The firmware image is too large: " + over.string() +
                " holds 2147483648 bytes, an image at most 2147483647.");
}

TEST_F(Files, WritesANewFileOrReplacesAnOldOneKeepingItsMode) {
  const fs::path file = dir_ / "a.oxl";
  WriteFileAtomically(file, kContent);
  EXPECT_EQ(Get(file), std::string("\x02\x4E\x00\x03", 4));
  ::chmod(file.c_str(), 0640);
  WriteFileAtomically(file, ByteView(kContent).first(2));
  EXPECT_EQ(Get(file), "\x02\x4E");
  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(Entries(dir_), 1u);
}

// Through a link the file it names is replaced, whole and in its own
// folder, and the link stays a link; a dangling link gets its file.
TEST_F(Files, ALinkIsWrittenThroughToItsTarget) {
  const fs::path elsewhere = dir_ / "elsewhere";
  fs::create_directory(elsewhere);
  Put(elsewhere / "target.oxl", "old");
  ::chmod((elsewhere / "target.oxl").c_str(), 0600);
  fs::create_symlink("elsewhere/target.oxl", dir_ / "relative.oxl");
  fs::create_symlink(dir_ / "relative.oxl", dir_ / "chain.oxl");
  fs::create_symlink(elsewhere / "new.oxl", dir_ / "dangling.oxl");

  for (const char* link : {"relative.oxl", "chain.oxl"}) {
    WriteFileAtomically(dir_ / link, kContent);
    EXPECT_TRUE(fs::is_symlink(dir_ / link)) << link;
    EXPECT_EQ(Get(elsewhere / "target.oxl"), std::string("\x02\x4E\x00\x03", 4)) << link;
    Put(elsewhere / "target.oxl", "old");
  }
  struct stat status {};
  ASSERT_EQ(::stat((elsewhere / "target.oxl").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);

  WriteFileAtomically(dir_ / "dangling.oxl", kContent);
  EXPECT_TRUE(fs::is_symlink(dir_ / "dangling.oxl"));
  EXPECT_EQ(Get(elsewhere / "new.oxl").size(), 4u);
  EXPECT_EQ(Entries(elsewhere), 2u);  // no temporary files left
  EXPECT_EQ(Entries(dir_), 4u);
}

// Renaming over a FIFO, socket or folder would replace it with a file: it
// is refused, directly or through a link, and nothing changes.
TEST_F(Files, AnExportTargetThatIsNoRegularFileIsRefusedAndKept) {
  const fs::path pipe = Fifo("pipe.oxl");
  const fs::path socket = Socket("socket.oxl");
  const fs::path folder = dir_ / "folder";
  fs::create_directory(folder);
  Put(folder / "inside", "kept");
  fs::create_symlink("pipe.oxl", dir_ / "to-pipe.oxl");
  fs::create_symlink("loop.oxl", dir_ / "loop.oxl");
  struct Case {
    fs::path file;
    std::string refusal;
  };
  const Case cases[] = {
      {pipe, ": it is a FIFO (named pipe), not a regular file"},
      {socket, ": it is a socket, not a regular file"},
      {folder, ": it is a directory, not a regular file"},
      {dir_ / "to-pipe.oxl",
       ": it links to " + pipe.string() + ", a FIFO (named pipe), not a regular file"},
      {dir_ / "loop.oxl", ": Too many levels of symbolic links"},
      {dir_ / "missing" / "a.oxl", ": No such file or directory"},
  };
  const Watchdog watchdog;
  for (const Case& c : cases) {
    const std::string expected = "cannot write " + c.file.string() + c.refusal;
    EXPECT_EQ(Refusal([&] { CheckReplaceable(c.file); }),
              c.file.filename() == "a.oxl" ? "" : expected)
        << c.file;
    EXPECT_EQ(Refusal([&] { WriteFileAtomically(c.file, kContent); }), expected) << c.file;
  }
  EXPECT_TRUE(IsFifo(pipe));
  EXPECT_EQ(fs::symlink_status(socket).type(), fs::file_type::socket);
  EXPECT_EQ(Get(folder / "inside"), "kept");
  EXPECT_TRUE(fs::is_symlink(dir_ / "to-pipe.oxl"));
  EXPECT_EQ(Entries(dir_), 5u);  // no temporary files left

  EXPECT_EQ(Refusal([&] { CheckReplaceable(dir_ / "new.oxl"); }), "");
}

}  // namespace
}  // namespace oxlo::transport
