#include "platform/syscall.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace launcher {

SysResult CloseDescriptor(int fd) noexcept {
  const SysResult first = Sys([&] { return ::close(fd); }, Retry::kNever);
  if (first.error != EINTR) return first;
  const SysResult again = Sys([&] { return ::close(fd); });
  return again.error == EBADF ? SysResult{} : again;
}

const char* ErrorDescription(int error, char (&unknown)[32]) noexcept {
  // strerrordesc_np gives the text without translation and pulls in no locale data.
  if (const char* text = strerrordesc_np(error)) return text;
  std::snprintf(unknown, sizeof unknown, "Unknown error %d", error);
  return unknown;
}

bool MemoryMapped(const void* address, std::size_t size) noexcept {
  // mincore fails with ENOMEM for a range that holds an unmapped page; the range must start at a
  // page boundary (the system's page size, read by the C library at start-up).
  const auto page = static_cast<std::uintptr_t>(::getpagesize());
  const auto first = reinterpret_cast<std::uintptr_t>(address);
  const std::uintptr_t start = first & ~(page - 1);
  const std::uintptr_t end = first + size;
  unsigned char resident[2] = {};
  if (size == 0 || end < first || end - start > sizeof resident * page) return false;
  return Sys([&] { return ::mincore(reinterpret_cast<void*>(start), end - start, resident); }).Ok();
}

}  // namespace launcher
