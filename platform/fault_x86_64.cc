// Fault handling on x86-64 Linux.
//
// The handler turns a fault into a call of RaiseFault from the faulting instruction. It points the
// saved instruction pointer at launcher_fault_trampoline (see the assembly file beside this one)
// and the saved stack pointer at
//
//   base = (rsp - 128) & ~15      the 128-byte red zone below rsp belongs to the interrupted
//                                 function and is left untouched
//
// and hands the trampoline, in registers, what it pushes there to make the frame of a call:
//
//   base -  8: return address     r11: pc + 1, so that the unwinder's look-up at "return address
//                                 minus one" lands inside the faulting instruction
//   base - 16: caller's rbp       rbp as it was at the fault; with the slot above, a frame record
//   base - 24: caller's rsp       r10: rsp at the fault
//   base - 32: padding            the trampoline's call then meets the ABI's stack alignment
//
// The handler writes no memory of the interrupted stack. It runs on the alternate signal stack,
// where the kernel builds its signal frame; were the frame on the interrupted stack, the
// interrupted floating-point state would lie at its top, right below the red zone, and the kernel
// reads it back when the handler returns, so a frame written there before the return would
// overwrite the end of that state.
//
// The trampoline's unwind information restores rsp, rbp and the return address from these slots,
// so an error raised from there unwinds into the faulting function exactly as from a call at the
// faulting instruction, and the function's clean-ups run (code that may fault is built with
// -fnon-call-exceptions). A jump or call to an unmapped address faults with the instruction
// pointer at that address: there the return address into the caller is already on the stack and
// is used as it is, so that the unwinder goes on from there into the function that made the call.
//
// A fault whose stack has no room left (see StackExhausted) cannot continue on that stack: the
// handler writes the report and ends the process itself.
#include <fenv.h>
#include <signal.h>
#include <ucontext.h>

#include <cstdint>

#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/report.h"
#include "platform/syscall.h"

extern "C" void launcher_fault_trampoline();

namespace launcher {
namespace {

constexpr std::uintptr_t kRedZone = 128;

// Exception flags of the x87 status word and of MXCSR (same bit positions).
constexpr unsigned kInvalid = 0x01;
constexpr unsigned kDenormal = 0x02;
constexpr unsigned kZeroDivide = 0x04;
constexpr unsigned kOverflow = 0x08;
constexpr unsigned kUnderflow = 0x10;
constexpr unsigned kPrecision = 0x20;
constexpr unsigned kAllFlags = 0x3F;
constexpr unsigned kMxcsrMaskShift = 7;  // MXCSR's exception masks lie 7 bits above its flags

constexpr unsigned kMxcsrControl = 0xFFC0;  // every bit above the flags: DAZ, masks, rounding, FZ
constexpr greg_t kDirectionFlag = 0x400;     // EFLAGS.DF

std::uint16_t g_startup_control_word = 0x037F;
std::uint32_t g_startup_mxcsr = 0x1F80;

int CodeFromFlags(unsigned flags) noexcept {
  if (flags & kZeroDivide) return 208;
  if (flags & kOverflow) return 205;
  if (flags & (kUnderflow | kDenormal)) return 206;
  if (flags & (kInvalid | kPrecision)) return 207;
  return 0;
}

// The code for a floating-point fault, from the state saved with the interrupted context; clears
// that state's exception flags and register stack so that the error handling that follows runs
// with a clean unit.
int FloatingPointCode(_libc_fpstate* state) noexcept {
  if (state == nullptr) return 200;
  // Flags are sticky: a masked flag left over from earlier work (the x87 precision flag is set by
  // almost any x87 operation) did not cause this fault. Only an unmasked flag can trap, so those
  // are looked at first: the x87 status word against its control word, then MXCSR against its
  // mask bits. When no unmasked flag is set, any set flag decides, in the same order.
  const unsigned x87_flags = state->swd & kAllFlags;
  const unsigned sse_flags = state->mxcsr & kAllFlags;
  int code = CodeFromFlags(x87_flags & ~state->cwd);
  if (code == 0) code = CodeFromFlags(sse_flags & ~(state->mxcsr >> kMxcsrMaskShift));
  if (code == 0) code = CodeFromFlags(x87_flags);
  if (code == 0) code = CodeFromFlags(sse_flags);
  if (code == 0) code = 200;
  state->swd = 0;  // flags cleared, top of stack 0
  state->ftw = 0;  // every register empty
  state->mxcsr &= ~kAllFlags;
  return code;
}

int CodeFor(int signal, const siginfo_t& info, _libc_fpstate* state) noexcept {
  if (signal != SIGFPE) return kRunErrorAccessViolation;
  if (info.si_code == FPE_INTDIV) return 200;
  return FloatingPointCode(state);
}

// The code the fault continues in runs as though called, and the ABI fixes some of the processor's
// state at every call: the direction flag is clear (string instructions run forwards; a fault
// inside a backward copy, as memmove makes, leaves it set), and the floating-point control state
// (the x87 control word and MXCSR's control bits) is the one the code was built for: start-up's,
// whatever exception traps or rounding the interrupted code had set.
void RestoreCallState(greg_t* registers, _libc_fpstate* state) noexcept {
  registers[REG_EFL] &= ~kDirectionFlag;
  if (state == nullptr) return;
  state->cwd = g_startup_control_word;
  state->mxcsr = (state->mxcsr & ~kMxcsrControl) | (g_startup_mxcsr & kMxcsrControl);
}

}  // namespace

void FaultSignalHandler(int signal, siginfo_t* info, void* raw_context) {
  auto& context = *static_cast<ucontext_t*>(raw_context);
  greg_t* registers = context.uc_mcontext.gregs;
  _libc_fpstate* const fp_state = context.uc_mcontext.fpregs;
  const int code = CodeFor(signal, *info, fp_state);
  RestoreCallState(registers, fp_state);

  const auto pc = static_cast<std::uintptr_t>(registers[REG_RIP]);
  const auto sp = static_cast<std::uintptr_t>(registers[REG_RSP]);
  const auto fp = static_cast<std::uintptr_t>(registers[REG_RBP]);
  if (StackExhausted(signal, *info, sp)) {
    EndWithFaultReport(code, reinterpret_cast<const void*>(pc), reinterpret_cast<const void*>(fp));
  }

  // The return from this handler installs the saved mask: unblock the signal there, so that a
  // later fault of the same kind is caught again.
  sigdelset(&context.uc_sigmask, signal);

  const std::uintptr_t base = (sp - kRedZone) & ~std::uintptr_t{15};
  std::uintptr_t return_address = FaultReturnAddress(pc);
  std::uintptr_t caller_sp = sp;
  std::uintptr_t frame = fp;
  if (signal == SIGSEGV && reinterpret_cast<std::uintptr_t>(info->si_addr) == pc) {
    return_address = *reinterpret_cast<const std::uintptr_t*>(sp);
    caller_sp = sp + sizeof(std::uintptr_t);
    frame = base - 2 * sizeof(std::uintptr_t);  // the record {rbp, return address}
  }

  registers[REG_RSP] = static_cast<greg_t>(base);
  registers[REG_RIP] =
      static_cast<greg_t>(reinterpret_cast<std::uintptr_t>(&launcher_fault_trampoline));
  registers[REG_R11] = static_cast<greg_t>(return_address);
  registers[REG_R10] = static_cast<greg_t>(caller_sp);
  registers[REG_RDI] = code;
  registers[REG_RSI] = static_cast<greg_t>(pc);
  registers[REG_RDX] = static_cast<greg_t>(frame);
}

void SaveFloatingPointControl() noexcept {
  __asm__ volatile("fnstcw %0" : "=m"(g_startup_control_word));
  __asm__ volatile("stmxcsr %0" : "=m"(g_startup_mxcsr));
}

InterruptedPlace PlaceOf(const void* raw_context) noexcept {
  const auto& context = *static_cast<const ucontext_t*>(raw_context);
  return {reinterpret_cast<const void*>(context.uc_mcontext.gregs[REG_RIP]),
          reinterpret_cast<const void*>(context.uc_mcontext.gregs[REG_RBP])};
}

std::uintptr_t FaultReturnAddress(std::uintptr_t address) noexcept { return address + 1; }

}  // namespace launcher
