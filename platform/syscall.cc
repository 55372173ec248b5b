#include "platform/syscall.h"

#include <unistd.h>

namespace launcher {

SysResult CloseDescriptor(int fd) noexcept {
  const SysResult first = Sys([&] { return ::close(fd); }, Retry::kNever);
  if (first.error != EINTR) return first;
  const SysResult again = Sys([&] { return ::close(fd); });
  return again.error == EBADF ? SysResult{} : again;
}

}  // namespace launcher
