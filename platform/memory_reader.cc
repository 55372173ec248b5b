#include "platform/memory_reader.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include "platform/syscall.h"

namespace launcher {

bool MemoryReader::Read(const void* address, void* out, std::size_t size) noexcept {
  if (!copy_unavailable_) {
    iovec local{out, size};
    iovec remote{const_cast<void*>(address), size};
    const SysResult copied =
        Sys([&] { return ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0); });
    if (copied.Ok()) return static_cast<std::size_t>(copied.value) == size;
    if (copied.error == EFAULT) return false;
    copy_unavailable_ = true;
  }
  return ReadThroughPipe(address, out, size);
}

bool MemoryReader::ReadThroughPipe(const void* address, void* out, std::size_t size) noexcept {
  if (size > 4096) return false;
  if (!read_end_.valid()) {
    int ends[2];
    if (!Sys([&] { return ::pipe2(ends, O_CLOEXEC); }).Ok()) return false;
    read_end_ = Descriptor(ends[0]);
    write_end_ = Descriptor(ends[1]);
  }
  // The pipe is empty between reads: each write is read back whole before the next.
  const SysResult written = Sys([&] { return ::write(write_end_.get(), address, size); });
  if (!written.Ok()) return false;
  const auto count = static_cast<std::size_t>(written.value);
  const SysResult got = Sys([&] { return ::read(read_end_.get(), out, count); });
  return got.Ok() && static_cast<std::size_t>(got.value) == size && count == size;
}

}  // namespace launcher
