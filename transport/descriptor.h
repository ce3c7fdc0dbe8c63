// One owned file descriptor, shared by the sockets and the files: sockets,
// the wake pipe and open files close themselves on every path out, an
// exception included.
#pragma once

namespace oxlo::transport {

class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Hands the descriptor over; this one owns nothing afterwards.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the owned descriptor, if any, and takes fd.
  void reset(int fd = -1) noexcept;

 private:
  int fd_ = -1;
};

}  // namespace oxlo::transport
