// Whether the tests run as arm64 programs under qemu-user on a machine of another processor (the
// arm64 preset's cross build). qemu runs the launcher, the stand-in java and these tests
// faithfully, but some things are the emulator's, not the program's: it runs vfork as fork, it
// cannot install seccomp filters or make a process a subreaper, and /proc/PID/status of an
// emulated process shows qemu's own signal dispositions. Tests that depend on one of these skip it
// there, saying which.
#pragma once

namespace e2e {

#if defined(LAUNCHER_UNDER_EMULATION) && LAUNCHER_UNDER_EMULATION
inline constexpr bool kUnderEmulation = true;
#else
inline constexpr bool kUnderEmulation = false;
#endif

}  // namespace e2e
