#include "transport/descriptor.h"

#include <unistd.h>

namespace oxlo::transport {

void Descriptor::reset(int fd) noexcept {
  // close() frees the number even when it reports an error, so no retry.
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

}  // namespace oxlo::transport
