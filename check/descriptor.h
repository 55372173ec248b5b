// One open file descriptor, closed when its owner ends.
#pragma once

#include <utility>

#include "platform/syscall.h"

namespace launcher::check {

class Descriptor {
 public:
  Descriptor() noexcept = default;
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~Descriptor() { Close(); }

  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  void Close() noexcept {
    if (fd_ >= 0) CloseDescriptor(std::exchange(fd_, -1));
  }

 private:
  int fd_ = -1;
};

}  // namespace launcher::check
