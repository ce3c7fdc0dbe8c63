// Standard output and error through buffers that remember a failed write,
// so output lost to a full disk or a closed descriptor ends in exit code 1
// instead of a silent success.
#pragma once

#include <cstddef>
#include <ostream>
#include <streambuf>
#include <vector>

namespace oxlo::cli {

// Writes to a descriptor with write(2). After the first failure the rest is
// discarded and the stream that uses the buffer goes bad.
class DescriptorBuffer final : public std::streambuf {
 public:
  explicit DescriptorBuffer(int fd, std::size_t size = 4096);
  DescriptorBuffer(const DescriptorBuffer&) = delete;
  DescriptorBuffer& operator=(const DescriptorBuffer&) = delete;

  // errno of the first failed write; 0 while every write went through.
  int Error() const { return error_; }

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  bool Flush();

  int fd_;
  std::vector<char> buffer_;
  int error_ = 0;
};

// For the program's run: std::cout and std::cerr write through
// DescriptorBuffers on descriptors 1 and 2; the old buffers come back at the end.
class StandardStreams {
 public:
  StandardStreams();
  ~StandardStreams();
  StandardStreams(const StandardStreams&) = delete;
  StandardStreams& operator=(const StandardStreams&) = delete;

  // Flushes both. When output was lost, says so on stderr ("oxlo: cannot
  // write the output: No space left on device") and turns a success into
  // kExitFailure; a failure keeps its own code.
  int Finish(int exitCode);

 private:
  DescriptorBuffer out_;
  DescriptorBuffer err_;
  std::streambuf* old_out_;
  std::streambuf* old_err_;
};

}  // namespace oxlo::cli
