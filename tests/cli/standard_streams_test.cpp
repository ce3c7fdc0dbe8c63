// Output through a descriptor: what is written arrives whole, and a write
// the system refuses is remembered with its errno.
#include "cli/standard_streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace oxlo::cli {
namespace {

TEST(DescriptorBuffer, PassesTextLongerThanItselfThroughInOrder) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::string text;
  for (int i = 0; i < 3000; ++i) text += std::to_string(i) + ' ';
  {
    DescriptorBuffer buffer(fds[1], 64);
    std::ostream out(&buffer);
    out << text << std::flush;
    EXPECT_TRUE(out.good());
    EXPECT_EQ(buffer.Error(), 0);
  }
  ::close(fds[1]);
  std::string received;
  char chunk[4096];
  ssize_t n = 0;
  while ((n = ::read(fds[0], chunk, sizeof chunk)) > 0) received.append(chunk, n);
  ::close(fds[0]);
  EXPECT_EQ(received, text);
}

TEST(DescriptorBuffer, AFullDeviceFailsTheStreamWithItsErrno) {
  const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (const std::size_t length : {10, 5000}) {  // flushed at the end, or on the way
    SCOPED_TRACE(length);
    DescriptorBuffer buffer(fd, 4096);
    std::ostream out(&buffer);
    out << std::string(length, 'x');
    out.flush();
    EXPECT_TRUE(out.bad());
    EXPECT_EQ(buffer.Error(), ENOSPC);
  }
  ::close(fd);
}

}  // namespace
}  // namespace oxlo::cli
