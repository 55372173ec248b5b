// Processor faults as errors: SIGSEGV, SIGBUS, SIGILL and SIGFPE become run-time errors raised
// at the faulting instruction, in the thread's normal context.
#pragma once

#include <signal.h>

namespace launcher {

// The handler of the four fault signals, in the file of each processor (fault_PROCESSOR.cc). It
// only edits the interrupted context: when it returns, the thread goes on in the processor's
// trampoline, which calls launcher_raise_fault, and so HandleFault, as though the faulting
// instruction had made the call. Signal-safe: it writes nothing and allocates nothing.
void FaultSignalHandler(int signal, siginfo_t* info, void* context);

// Installs FaultSignalHandler for SIGFPE, SIGSEGV, SIGBUS and SIGILL, in this order, with
// SA_SIGINFO, no extra blocked signals and no SA_RESTART; keeps the actions that were in place,
// and the floating-point control state, to reset the floating-point unit to after a
// floating-point fault.
void InstallFaultSignalHandlers() noexcept;

// The processor's part of the above: keeps the floating-point control state of start-up (the x87
// control word on x86-64, FPCR on arm64). In the file of each processor.
void SaveFloatingPointControl() noexcept;

// The actions in place before InstallFaultSignalHandlers, in the order above.
inline constexpr int kFaultSignals[] = {SIGFPE, SIGSEGV, SIGBUS, SIGILL};
const struct sigaction& PreviousFaultAction(int index) noexcept;

}  // namespace launcher
