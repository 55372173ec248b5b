// The text of a system error number, as the C library's strerror gives it on Linux ("No such file
// or directory" for ENOENT, "Unknown error 200" for a number it does not know). The launcher's
// own minimal C library (minimal_libc.cc) answers strerror with it.
#pragma once

#include <cstddef>

namespace launcher {

// Writes the text, zero-terminated, into `out` (64 bytes are always enough) and returns `out`.
const char* SystemErrorText(int error, char (&out)[64]) noexcept;

}  // namespace launcher
