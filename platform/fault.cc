// What fault handling is on every processor: installing the handler, and the entry from the
// processor's trampoline into the error machinery. The handler and the trampoline themselves are
// in the files of each processor (fault_x86_64.cc, fault_aarch64.cc).
#include "platform/fault.h"

#include <iterator>

#include "platform/errors.h"
#include "platform/syscall.h"

// Called by the trampoline with the arguments the handler put into its argument registers.
extern "C" [[noreturn]] void launcher_raise_fault(long code, const void* address,
                                                  const void* frame) {
  launcher::HandleFault(static_cast<int>(code), address, frame);
}

namespace launcher {
namespace {

struct sigaction g_previous[std::size(kFaultSignals)];

}  // namespace

void InstallFaultSignalHandlers() noexcept {
  SaveFloatingPointControl();
  struct sigaction action {};
  action.sa_sigaction = FaultSignalHandler;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kFaultSignals); ++i) {
    Sys([&] { return sigaction(kFaultSignals[i], &action, &g_previous[i]); });
  }
}

const struct sigaction& PreviousFaultAction(int index) noexcept { return g_previous[index]; }

}  // namespace launcher
