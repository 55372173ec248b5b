// Reading memory that may not be readable, without a signal.
#pragma once

#include <cstddef>

#include "platform/descriptor.h"

namespace launcher {

// Reads memory that may not be readable, without a signal: a page can be mapped and still not
// readable (mapped without access, or some pages of the system's [vvar] area, which raise SIGBUS
// when read). The system copies the bytes and answers EFAULT where it cannot read them:
// process_vm_readv on the own process, and where that is not available (qemu-user does not
// emulate it; a seccomp filter may forbid it) a write of them into a pipe of the reader's own,
// made when first needed. Signal-safe; allocates nothing.
class MemoryReader {
 public:
  MemoryReader() noexcept = default;
  MemoryReader(const MemoryReader&) = delete;
  MemoryReader& operator=(const MemoryReader&) = delete;

  // Copies the `size` bytes at `address` into `out` (at most a pipe's atomic write, 4096 bytes),
  // or returns false when they cannot be read, or no way to ask is left (no pipe can be made).
  bool Read(const void* address, void* out, std::size_t size) noexcept;

 private:
  bool ReadThroughPipe(const void* address, void* out, std::size_t size) noexcept;

  bool copy_unavailable_ = false;  // process_vm_readv failed for another reason than EFAULT
  Descriptor read_end_;            // the pipe, once made
  Descriptor write_end_;
};

}  // namespace launcher
