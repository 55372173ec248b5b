// The failure report and the way out of the process: the unhandled-error report, the run-time
// error report of the fallback path, the exit status, Shutdown, and the handler of
// std::terminate in which every error that no handler catches, or that cannot be raised, ends.
// Stands above the errors (errors.h), which decide what is raised but never end the process.
#pragma once

#include <cstddef>
#include <exception>

namespace launcher {

// The exit status of the process: 0 from the start; the exit code of the Java program after a
// launch, 217 (or a run-time error's code) on the failure paths.
extern int ExitCode;

// The signal by which Shutdown ends the process, in place of the exit with ExitCode: 0 (none)
// from the start; the signal that ended the Java program after a launch (see EndBySignal).
extern int ExitSignal;

// The unhandled-error hook: writes the report for `Obj` raised at `Addr` with the back trace
// `Frame[0..FrameCount)` to standard error. Stops at the first write that fails.
void ReportUnhandledError(const std::exception_ptr& Obj, const void* Addr, int FrameCount,
                          const void* const* Frame);

// Creates the two pre-created error objects and sets both hooks: the run-time error hook to
// ErrorCodeToException, the unhandled-error hook to ReportUnhandledError. Start-up calls it once.
void SetUpErrorHooks();

// Installs the handler that std::terminate calls for an error that no handler catches: the
// report through the unhandled-error hook, then Shutdown with exit status 217. Before the hooks
// are set, the run-time error report and the recorded code instead; for an abandoned raise, 217
// and no report. An error while it runs ends the process at once with 217.
void InstallUnhandledErrorHandler() noexcept;

inline constexpr std::size_t kReadableNameCapacity = 256;

// Reads the common forms of a compiler-written class name (Itanium C++ ABI) without allocating:
// a built-in type ("i" is int), a plain name ("5Error"), std:: names ("St13runtime_error") and
// nested names ("N5outer5InnerE"). Writes the readable name into `out` and returns true, or
// returns false for any other form.
bool DemangleClassName(const char* mangled, char (&out)[kReadableNameCapacity]) noexcept;

// Ends the process: the run-time error report if one is recorded, flushing of standard output
// and then standard error, finalisation, and exit_group with ExitCode (or EndBySignal when
// ExitSignal is set). A second entry while the first is under way (a fault while finalising, say,
// whose report has then been written) ends at once with what the streams hold flushed.
[[noreturn]] void Shutdown() noexcept;

// Ends the process by `signal`, so that its parent sees what it would have seen from a process
// that the signal killed: the signal's default action, unblocked, without a core dump of the
// process's own. Where that cannot be had (a signal whose default action does not end a process,
// one that the C library keeps for itself, or a core dump that cannot be ruled out for a signal
// that makes one), it ends with exit status 128 + the signal's number instead, as a shell reports
// such an end. Writes nothing and does not flush.
[[noreturn]] void EndBySignal(int signal) noexcept;

// Ends the process after a fault that cannot become an error: one that arrives while an error is
// on its way to its handler, or inside the unwinder, or on a stack with no room left. Writes the
// unhandled-error report of the fault's error (the class and message of run-time error `code`,
// raised at `address`, the back trace from the frame record `frame` outward, each record read
// only where the system says it is mapped) with no object made, no unwinder and nothing but
// system calls; then flushes what the standard streams hold and ends with exit status 217, without
// finalising. Signal-safe: the fault handler calls it on its own stack. When the process is
// already reporting or ending, it writes no report of its own.
[[noreturn]] void EndWithFaultReport(int code, const void* address, const void* frame) noexcept;

// Sets ExitCode to `status` (255 if larger) and shuts down.
[[noreturn]] void Halt(int status) noexcept;

}  // namespace launcher
