// What a firmware upload shows while it runs.
#include "cli/upload_progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <vector>

namespace oxlo::cli {
namespace {

std::string Shown(bool terminal, std::uint64_t total, const std::vector<std::uint64_t>& acks) {
  std::ostringstream out;
  UploadProgress progress(out, terminal, total);
  progress.Update(0);
  for (std::uint64_t ack : acks) progress.Update(ack);
  progress.Finish();
  return out.str();
}

std::vector<std::uint64_t> Chunks(std::uint64_t total) {
  std::vector<std::uint64_t> acks;
  for (std::uint64_t at = 128; at < total + 128; at += 128) acks.push_back(std::min(at, total));
  return acks;
}

TEST(UploadProgress, PlainLinesAtEachFurtherTenth) {
  struct Case {
    std::uint64_t total;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {0, ""},
      {100, "Uploaded 100 of 100 bytes (100%)\n"},
      {300,
       "Uploaded 128 of 300 bytes (42%)\nUploaded 256 of 300 bytes (85%)\n"
       "Uploaded 300 of 300 bytes (100%)\n"},
      {1280,
       "Uploaded 128 of 1280 bytes (10%)\nUploaded 256 of 1280 bytes (20%)\n"
       "Uploaded 384 of 1280 bytes (30%)\nUploaded 512 of 1280 bytes (40%)\n"
       "Uploaded 640 of 1280 bytes (50%)\nUploaded 768 of 1280 bytes (60%)\n"
       "Uploaded 896 of 1280 bytes (70%)\nUploaded 1024 of 1280 bytes (80%)\n"
       "Uploaded 1152 of 1280 bytes (90%)\nUploaded 1280 of 1280 bytes (100%)\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Shown(false, c.total, Chunks(c.total)), c.expected) << c.total;
}

TEST(UploadProgress, ALargeImageGivesTenLines) {
  const std::string out = Shown(false, 1 << 20, Chunks(1 << 20));
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 10);
  EXPECT_NE(out.find("Uploaded 104960 of 1048576 bytes (10%)\n"), std::string::npos);
}

TEST(UploadProgress, TerminalBarIsRedrawnInPlaceAndEndsItsLine) {
  EXPECT_EQ(Shown(true, 300, {128, 128, 300}),
            "\r[------------------------------] 0%  0 of 300 bytes"
            "\r[############------------------] 42%  128 of 300 bytes"
            "\r[##############################] 100%  300 of 300 bytes\n");
  EXPECT_EQ(Shown(true, 0, {}), "");
}

}  // namespace
}  // namespace oxlo::cli
