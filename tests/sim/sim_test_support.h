// What the simulator tests share: scratch directories, firmware images and
// a reader that hands an image to FirmwareUpload.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "protocol/conversation/firmware_upload.h"
#include "protocol/wire/bytes.h"

namespace oxlo::sim::testing {

// A fresh directory under the test temp dir, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::path(::testing::TempDir()) / "oxlo-sim-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }

  // File names in the directory, sorted.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_;
};

// Bytes that differ from chunk to chunk, so a chunk stored twice or in the
// wrong place shows.
inline Bytes Image(std::size_t size, std::uint8_t salt = 0) {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i) {
    image[i] = static_cast<std::uint8_t>(i * 131 + i / 256 + salt);
  }
  return image;
}

inline FirmwareUpload::ImageReader ReaderOver(const Bytes& image) {
  return [&image, offset = std::size_t{0}](std::span<std::uint8_t> buffer) mutable {
    const std::size_t n = std::min(buffer.size(), image.size() - offset);
    if (n > 0) std::memcpy(buffer.data(), image.data() + offset, n);
    offset += n;
    return n;
  };
}

inline Bytes ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace oxlo::sim::testing
