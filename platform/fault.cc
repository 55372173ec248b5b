// What fault handling is on every processor: installing the handlers on their alternate stack, the
// test for an exhausted stack, the entry from the processor's trampoline into the error machinery,
// and the handler of SIGABRT. The fault handler and the trampoline themselves are in the files of
// each processor (fault_x86_64.cc, fault_aarch64.cc).
#include "platform/fault.h"

#include <sys/resource.h>
#include <unistd.h>

#include <iterator>

#include "platform/errors.h"
#include "platform/report.h"
#include "platform/syscall.h"

extern "C" void launcher_fault_trampoline();
extern "C" void* __libc_stack_end;  // glibc: the top of the main thread's stack

// Called by the trampoline with the arguments the handler put into its argument registers.
extern "C" [[noreturn]] void launcher_raise_fault(long code, const void* address,
                                                  const void* frame) {
  launcher::RaiseFault(static_cast<int>(code), address, frame);
}

namespace launcher {
namespace {

struct sigaction g_previous[std::size(kCaughtSignals)];
constexpr std::size_t kAbortIndex = std::size(kCaughtSignals) - 1;
static_assert(kCaughtSignals[kAbortIndex] == SIGABRT);

// The handlers' own stack. A fault of a stack that has no room left (an overflow into its guard
// area) can only be handled on another one. The handler needs a few kilobytes: the kernel's
// signal frame with the processor's whole register state, and its own frames. Pages never touched
// cost no memory.
constexpr std::size_t kAlternateStackSize = 64 * 1024;
alignas(64) char g_alternate_stack[kAlternateStackSize];

// A fault this far below the stack pointer at most, at an address that is not mapped, is an
// access of the stack itself (a call, a push, a probe of a new frame, x86-64's red zone) that
// found no stack there; so is one up to a pair of slots above it (a load pair at the stack
// pointer). Farther above lie the frames that exist already.
constexpr std::uintptr_t kStackReach = 64 * 1024;
constexpr std::uintptr_t kStackSlack = 2 * sizeof(void*);
// The stack that raising an error and reporting it take, from the trampoline to the end, with
// room to spare.
constexpr std::uintptr_t kRaiseRoom = 32 * 1024;

// The error whose back trace the unwinder is gathering, for a fault or an abort. The unwinder walks
// the frames of a stack that may be damaged and can fault in turn: that fault is not reported,
// the error that led there is, with the back trace read from the frame records instead.
struct Gathering {
  volatile bool gathering = false;
  ErrorText text;
  const void* address = nullptr;
  const void* frame = nullptr;
  char unknown[kUnknownMessageSize] = {};
};
Gathering g_gathered;

// The unwinder's back trace of an error that `find` gathers into `out`, reported as above when
// the gathering faults.
template <typename Find>
int Gather(ErrorText text, const void* address, const void* frame, Find&& find) noexcept {
  g_gathered.text = text;
  g_gathered.address = address;
  g_gathered.frame = frame;
  g_gathered.gathering = true;
  const int count = find();
  g_gathered.gathering = false;
  return count;
}

}  // namespace

void InstallFaultSignalHandlers() noexcept {
  SaveFloatingPointControl();
  stack_t alternate{};
  alternate.ss_sp = g_alternate_stack;
  alternate.ss_size = sizeof g_alternate_stack;
  Sys([&] { return sigaltstack(&alternate, nullptr); });
  struct sigaction action {};
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kCaughtSignals); ++i) {
    action.sa_sigaction = i == kAbortIndex ? AbortSignalHandler : FaultSignalHandler;
    Sys([&] { return sigaction(kCaughtSignals[i], &action, &g_previous[i]); });
  }
}

const struct sigaction& PreviousAction(int index) noexcept { return g_previous[index]; }

void AbortSignalHandler(int, siginfo_t* info, void* context) {
  const bool own = (info->si_code == SI_TKILL || info->si_code == SI_USER) &&
                   info->si_pid == Sys([] { return ::getpid(); }).value;
  if (own) {
    // The frames outward from the interrupted instruction (inside the C library's abort) as the
    // unwinder finds them, which passes the C library's functions that keep no frame record.
    const InterruptedPlace place = PlaceOf(context);
    const ErrorText text{EExternal::kClassName, "Aborted"};
    const void* trace[kMaxBackTrace];
    const int count = Gather(text, place.address, place.frame, [&] {
      return UnwindBackTraceAt(place.address, trace, kMaxBackTrace);
    });
    EndWithReport(text, place.address, place.frame, trace, count > 0 ? count : -1);
  }
  if (g_previous[kAbortIndex].sa_handler == SIG_IGN) return;
  // The signal is blocked while this handler runs: sent again, it arrives once the handler has
  // returned, and finds the default action.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  Sys([&] { return sigaction(SIGABRT, &default_action, nullptr); });
  Sys([] { return ::kill(::getpid(), SIGABRT); });
}

bool StackExhausted(int signal, const siginfo_t& info, std::uintptr_t sp) noexcept {
  if (signal == SIGSEGV && info.si_code == SEGV_MAPERR) {
    const auto address = reinterpret_cast<std::uintptr_t>(info.si_addr);
    if (address <= sp + kStackSlack && address + kStackReach >= sp) return true;
  }
  if (!MemoryMapped(reinterpret_cast<const void*>(sp), sizeof(void*))) return true;
  // The kernel lets the main thread's stack grow down to its limit below the stack's top.
  rlimit limit{};
  if (!Sys([&] { return getrlimit(RLIMIT_STACK, &limit); }).Ok() ||
      limit.rlim_cur == RLIM_INFINITY) {
    return false;
  }
  const auto top = reinterpret_cast<std::uintptr_t>(__libc_stack_end);
  const std::uintptr_t lowest = limit.rlim_cur < top ? top - limit.rlim_cur : 0;
  if (sp < lowest || sp > top) return false;  // not on the main thread's stack
  return sp - lowest < kRaiseRoom;
}

void RaiseFault(int code, const void* address, const void* frame) {
  if (g_gathered.gathering) {
    EndWithReport(g_gathered.text, g_gathered.address, g_gathered.frame, nullptr, -1);
  }
  if (ErrorInFlight()) EndWithFaultReport(code, address, frame);
  if (BuildingError()) AbandonRaise();
  const void* trace[kMaxBackTrace + 1];
  const int count = Gather(RunErrorTextOf(code, g_gathered.unknown), address, frame, [&] {
    return UnwindBackTrace(reinterpret_cast<const void*>(&launcher_fault_trampoline), trace,
                           kMaxBackTrace + 1);
  });
  // Beyond the trampoline comes the faulting function, standing at the fault's return address,
  // which the raise address already gives. After a call or jump to a bad address there is no such
  // frame: the first one is the caller's.
  const int first =
      count > 0 && reinterpret_cast<std::uintptr_t>(trace[0]) ==
                       FaultReturnAddress(reinterpret_cast<std::uintptr_t>(address))
          ? 1
          : 0;
  const int kept = count - first < kMaxBackTrace ? count - first : kMaxBackTrace;
  SetNextBackTrace(address, trace + first, kept);
  HandleRunError(code, address, frame);
}

}  // namespace launcher
