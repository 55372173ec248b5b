// The one way the launcher makes a system call: run it, read errno at once, and repeat it when a
// signal interrupted it.
#pragma once

#include <cerrno>
#include <cstddef>

namespace launcher {

// What one system call gave: its non-negative result, or the error number it failed with.
struct SysResult {
  long value = 0;
  int error = 0;  // 0 when the call succeeded

  bool Ok() const noexcept { return error == 0; }
};

enum class Retry {
  kNever,               // report EINTR like any other failure
  kOnInterrupt,         // repeat while the call fails with EINTR
  kOnInterruptOrAgain,  // repeat on EINTR and EAGAIN (reads of the settings file)
};

// Runs `call` (a callable returning the system call's result, -1 on failure with errno set) until
// it succeeds or fails for a reason `retry` does not repeat. Signal-safe when `call` is.
template <typename Call>
SysResult Sys(Call&& call, Retry retry = Retry::kOnInterrupt) noexcept {
  for (;;) {
    const long result = static_cast<long>(call());
    if (result != -1) return {result, 0};
    const int error = errno;
    if (error == EINTR && retry != Retry::kNever) continue;
    if (error == EAGAIN && retry == Retry::kOnInterruptOrAgain) continue;
    return {-1, error};
  }
}

// Closes `fd`. On Linux close() releases the descriptor even when it reports EINTR, so a repeat
// can only meet EBADF; the launcher is single-threaded, so nothing can have reused the number in
// between, and that EBADF means the first call did its work.
SysResult CloseDescriptor(int fd) noexcept;

// The system's description of error number `error` ("Permission denied"), untranslated; for a
// number it has none for, "Unknown error N", written into `unknown`.
const char* ErrorDescription(int error, char (&unknown)[32]) noexcept;

// Whether the `size` bytes at `address` lie in mapped memory, asked of the system, which answers
// without faulting (readable or not: a page mapped without access counts as mapped). At most two
// pages. Signal-safe.
bool MemoryMapped(const void* address, std::size_t size) noexcept;

}  // namespace launcher
