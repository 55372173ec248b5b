// Processor faults as errors: SIGSEGV, SIGBUS, SIGILL and SIGFPE become run-time errors raised
// at the faulting instruction, in the thread's normal context.
#pragma once

#include <signal.h>

namespace launcher {

// The handler of the four fault signals. It only edits the interrupted context: when it returns,
// the thread goes on in HandleRunError as though the faulting instruction had called it.
// Signal-safe: it writes nothing and allocates nothing.
void FaultSignalHandler(int signal, siginfo_t* info, void* context);

// Installs FaultSignalHandler for SIGFPE, SIGSEGV, SIGBUS and SIGILL, in this order, with
// SA_SIGINFO, no extra blocked signals and no SA_RESTART; keeps the actions that were in place,
// and the x87 control word, to reset the floating-point unit to after a floating-point fault.
void InstallFaultSignalHandlers() noexcept;

// The actions in place before InstallFaultSignalHandlers, in the order above.
inline constexpr int kFaultSignals[] = {SIGFPE, SIGSEGV, SIGBUS, SIGILL};
const struct sigaction& PreviousFaultAction(int index) noexcept;

}  // namespace launcher
