#include "cli/standard_streams.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "cli/exit_codes.h"

namespace oxlo::cli {

DescriptorBuffer::DescriptorBuffer(int fd, std::size_t size) : fd_(fd), buffer_(size) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

DescriptorBuffer::int_type DescriptorBuffer::overflow(int_type c) {
  if (!Flush()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int DescriptorBuffer::sync() {
  return Flush() ? 0 : -1;
}

bool DescriptorBuffer::Flush() {
  const char* next = pbase();
  const char* const end = pptr();
  while (error_ == 0 && next < end) {
    const ssize_t written = ::write(fd_, next, static_cast<std::size_t>(end - next));
    if (written >= 0) {
      next += written;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A descriptor someone left non-blocking: wait until it takes more.
      pollfd wait{fd_, POLLOUT, 0};
      ::poll(&wait, 1, -1);
    } else if (errno != EINTR) {
      error_ = errno;
    }
  }
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return error_ == 0;
}

StandardStreams::StandardStreams()
    : out_(STDOUT_FILENO),
      err_(STDERR_FILENO),
      old_out_(std::cout.rdbuf(&out_)),
      old_err_(std::cerr.rdbuf(&err_)) {}

StandardStreams::~StandardStreams() {
  std::cout.flush();
  std::cerr.flush();
  std::cout.rdbuf(old_out_);
  std::cerr.rdbuf(old_err_);
}

int StandardStreams::Finish(int exitCode) {
  std::cout.flush();
  std::cerr.flush();
  const bool lost = out_.Error() != 0 || err_.Error() != 0;
  if (out_.Error() != 0) {
    std::cerr << "oxlo: cannot write the output: " << std::strerror(out_.Error()) << std::endl;
  }
  if (!lost) return exitCode;
  return exitCode == kExitOk ? kExitFailure : exitCode;
}

}  // namespace oxlo::cli
