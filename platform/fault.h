// Processor faults as errors: SIGSEGV, SIGBUS, SIGILL and SIGFPE become run-time errors raised
// at the faulting instruction, in the thread's normal context. And the launcher's own SIGABRT
// (the C library's abort() after it found memory damage) ends in the failure report.
#pragma once

#include <signal.h>

#include <cstdint>

namespace launcher {

// The handler of the four fault signals, in the file of each processor (fault_PROCESSOR.cc). It
// runs on the alternate signal stack and only edits the interrupted context: it puts the
// processor's control state back as start-up found it, and when it returns the thread goes on in
// the processor's trampoline, which calls launcher_raise_fault, and so RaiseFault, as though the
// faulting instruction had made the call. When the stack has no room left for that (a stack
// overflow), it ends the process itself with the failure report (EndWithFaultReport). Signal-safe:
// it allocates nothing and writes only on that last path.
void FaultSignalHandler(int signal, siginfo_t* info, void* context);

// The handler of SIGABRT. A SIGABRT the process sent itself (abort(), which the C library calls
// when it finds a smashed stack canary, a buffer overflow that _FORTIFY_SOURCE checks, or a
// damaged heap, after writing its own message line; the signal's information says so: SI_TKILL
// or SI_USER, from this process) ends the process with the failure report, "EExternal: Aborted"
// at the interrupted instruction, with the callers the unwinder finds from there (where its walk
// faults, those read from the frame records as far as they can be read), and 217
// (EndWithReport). It never returns there: abort() would end the process by the signal once the
// handler returned. A SIGABRT sent by another process meets the disposition the launcher
// inherited: ignored, it is dropped; by default, it ends the process as the default action does
// (the default is put back and the signal sent again, to arrive once the handler has returned).
// Signal-safe; runs on the alternate signal stack.
void AbortSignalHandler(int signal, siginfo_t* info, void* context);

// Installs FaultSignalHandler for SIGFPE, SIGSEGV, SIGBUS and SIGILL, in this order, then
// AbortSignalHandler for SIGABRT, with SA_SIGINFO and SA_ONSTACK, no extra blocked signals and no
// SA_RESTART, on an alternate signal stack of the launcher's own; keeps the actions that were in
// place, and the floating-point control state, to put back after a fault.
void InstallFaultSignalHandlers() noexcept;

// Where the interrupted context of a signal stood: the instruction's address and the frame
// record (the frame pointer). In the file of each processor.
struct InterruptedPlace {
  const void* address;
  const void* frame;
};
InterruptedPlace PlaceOf(const void* context) noexcept;

// The processor's part of the above: keeps the floating-point control state of start-up (the x87
// control word and MXCSR on x86-64, FPCR on arm64). In the file of each processor.
void SaveFloatingPointControl() noexcept;

// The address the trampoline's frame gives as the faulting function's return address for a fault
// at `address`: the address of the next instruction on arm64, one byte further on x86-64 (so that
// the unwinder's look-up at "return address minus one" lands inside the faulting instruction). In
// the file of each processor.
std::uintptr_t FaultReturnAddress(std::uintptr_t address) noexcept;

// The error for a fault at `address`, with `frame` the faulting function's frame record: raised
// through HandleRunError, with the back trace that the unwinder finds from the faulting
// instruction (so that a function without a frame record of its own, a C library function say,
// does not hide its caller). A fault that cannot become an error ends the process with the report
// instead: one that arrives while an error is on its way to its handler (the unwinder or a
// clean-up faulted), or while the back trace is being gathered, is reported itself
// (EndWithFaultReport); one that arrives while an error is being built gives up that error's
// raise, which is reported (AbandonRaise).
[[noreturn]] void RaiseFault(int code, const void* address, const void* frame);

// Whether a fault at stack pointer `sp` leaves no stack to raise its error on: the access that
// faulted was to unmapped memory at or just below the stack pointer (an access of the stack
// itself, a push, a call or a new frame, that found no stack there; memory above the stack
// pointer holds frames that exist already, and a bad access there is an ordinary one), the stack
// pointer's own memory is not mapped, or the stack's limit leaves less room below `sp` than a
// raise needs. Signal-safe.
bool StackExhausted(int signal, const siginfo_t& info, std::uintptr_t sp) noexcept;

// The signals InstallFaultSignalHandlers catches, in its order, and the actions in place before.
inline constexpr int kCaughtSignals[] = {SIGFPE, SIGSEGV, SIGBUS, SIGILL, SIGABRT};
const struct sigaction& PreviousAction(int index) noexcept;

}  // namespace launcher
