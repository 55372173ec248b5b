// One open file descriptor, owned: closed when its owner ends or lets it go.
#pragma once

#include <fcntl.h>

#include <utility>

#include "platform/syscall.h"

namespace launcher {

class Descriptor {
 public:
  Descriptor() noexcept = default;
  // Takes `fd` over; -1 (or any negative number) is no descriptor.
  explicit Descriptor(int fd) noexcept : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Close(); }

  // The descriptor's number, or -1.
  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  // Closes the descriptor now (see CloseDescriptor); afterwards there is none. Signal-safe.
  void Close() noexcept {
    if (fd_ >= 0) CloseDescriptor(std::exchange(fd_, -1));
  }
  // Gives the descriptor up without closing it; afterwards there is none.
  int Release() noexcept { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

// `descriptor` moved above the standard descriptors (0, 1 and 2), close-on-exec, so that a child
// that moves descriptors onto those never lands on it: a process started with a standard
// descriptor closed gets that number for the next one it opens. No descriptor when it cannot be
// moved (the descriptor limit). Signal-safe.
inline Descriptor AboveStandard(Descriptor descriptor) noexcept {
  if (descriptor.get() > 2) return descriptor;
  const SysResult moved = Sys([&] { return ::fcntl(descriptor.get(), F_DUPFD_CLOEXEC, 3); });
  return moved.Ok() ? Descriptor(static_cast<int>(moved.value)) : Descriptor();
}

}  // namespace launcher
