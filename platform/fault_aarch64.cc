// Fault handling on arm64 (aarch64) Linux.
//
// The handler turns a fault into a call of RaiseFault from the faulting instruction, as on
// x86-64. It points the saved pc at launcher_fault_trampoline (see the assembly file beside this
// one) and the saved sp at
//
//   base = sp & ~15               AArch64 Linux has no red zone: the procedure call standard
//                                 forbids any use of memory below sp, so nothing there is live
//
// and hands the trampoline, in registers, what it stores below the base to make the frame of a
// call at the faulting instruction:
//
//   base - 32: x29 at the fault   with the slot above, a frame record {x29, return address}
//   base - 24: return address     x16: pc + 4, the return address a call (bl) at the faulting
//                                 instruction would leave; the unwinder looks up "return address
//                                 minus one", which lands inside the 4-byte faulting instruction
//                                 even when that is the function's last
//   base - 16: x30 at the fault   the faulting function's link register, still needed when it
//                                 faulted before saving it (a leaf function) or has already
//                                 loaded it back
//   base -  8: sp at the fault    x17
//
// x16 and x17 are the intra-procedure-call scratch registers, and x0-x2 carry the arguments of
// launcher_raise_fault: none of them holds anything the unwinding needs (it restores only the
// callee-saved registers, from the frames' unwind information).
//
// The handler itself writes no memory other than the saved context. It runs on the alternate
// signal stack, where the kernel builds its signal frame. Were the frame on the interrupted stack,
// it would lie right below the interrupted sp: a frame record {x29, x30} first, then the siginfo
// and the ucontext whose __reserved area holds the floating-point/SIMD record and the others, and
// rt_sigreturn reads all of the ucontext back. The trampoline's stores would land in that same
// area, but only after rt_sigreturn has restored the context from it, when the signal frame is
// dead; before the return, nothing is written below the interrupted sp.
//
// The trampoline's unwind information names the return address in a column of its own (the
// unwinder's alternate return column, which it uses for signal frames too), so that x29, x30 and
// sp are each restored to their values at the fault: an error raised from there unwinds into the
// faulting function exactly as from a call at the faulting instruction, and the function's
// clean-ups run (code that may fault is built with -fnon-call-exceptions).
//
// A branch or call to an unmapped address faults with pc at that address (SIGSEGV, fault address
// equal to pc); a branch to a misaligned address faults the same way with SIGBUS. There the
// return address into the caller is in x30 (a call through blr put it there) and is used as the
// return address, so that the unwinder goes on from there into the function that made the call.
//
// A fault whose stack has no room left (see StackExhausted) cannot continue on that stack: the
// handler writes the report and ends the process itself.
#include <signal.h>
#include <ucontext.h>

#include <cstdint>
#include <iterator>

#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/report.h"
#include "platform/return_address.h"
#include "platform/syscall.h"

extern "C" void launcher_fault_trampoline();

namespace launcher {
namespace {

// The trampoline's frame record lies this far below the base (see above).
constexpr std::uintptr_t kTrampolineFrame = 32;

// PSTATE.BTYPE: the kind of the branch that led to the interrupted instruction. The context goes
// on at the trampoline's entry as after an ordinary instruction, whatever branch faulted.
constexpr std::uint64_t kBranchTypeBits = std::uint64_t{3} << 10;

// FPSR's cumulative exception flags: invalid operation, division by zero, overflow, underflow,
// inexact and input denormal.
constexpr std::uint32_t kFpsrExceptionFlags = 0x9F;

std::uint64_t g_startup_fpcr = 0;

// The floating-point/SIMD record among the records the kernel keeps in the signal frame's
// __reserved area; null when there is none.
fpsimd_context* FindFpsimdRecord(mcontext_t& machine) noexcept {
  unsigned char* const start = machine.__reserved;
  const std::size_t capacity = sizeof machine.__reserved;
  std::size_t offset = 0;
  while (offset + sizeof(_aarch64_ctx) <= capacity) {
    auto* record = reinterpret_cast<_aarch64_ctx*>(start + offset);
    if (record->magic == 0 || record->size < sizeof(_aarch64_ctx)) return nullptr;  // end marker
    if (record->magic == FPSIMD_MAGIC) {
      if (offset + sizeof(fpsimd_context) > capacity) return nullptr;
      return reinterpret_cast<fpsimd_context*>(record);
    }
    offset += record->size;
  }
  return nullptr;
}

// The code for a floating-point fault. arm64 keeps no record of which exception trapped other
// than the signal's code (the flags in FPSR are cumulative), so the code decides. The saved
// exception flags are cleared so that the error handling that follows runs with a clean unit.
int FloatingPointCode(const siginfo_t& info, fpsimd_context* state) noexcept {
  if (state != nullptr) state->fpsr &= ~kFpsrExceptionFlags;
  switch (info.si_code) {
    case FPE_INTDIV:
      return 200;
    case FPE_FLTDIV:
      return 208;
    case FPE_FLTOVF:
      return 205;
    case FPE_FLTUND:
      return 206;
    case FPE_FLTINV:
    case FPE_FLTRES:
      return 207;
    default:
      return 200;
  }
}

int CodeFor(int signal, const siginfo_t& info, fpsimd_context* state) noexcept {
  if (signal != SIGFPE) return kRunErrorAccessViolation;
  return FloatingPointCode(info, state);
}

// The code the fault continues in runs as though called, with the state the procedure call
// standard fixes at a call. Of PSTATE, code at EL0 can change only the condition flags (which
// carry nothing across a call), BTYPE (the branch that led here; cleared, so that the trampoline's
// entry is reached as after an ordinary instruction), and DIT, SSBS and TCO, which the standard
// leaves to the program; streaming mode and ZA (SME) are never entered by the launcher or its C
// library. FPCR is put back as start-up found it: whatever exception traps, rounding or
// flush-to-zero the interrupted code had set.
void RestoreCallState(mcontext_t& machine, fpsimd_context* state) noexcept {
  machine.pstate &= ~kBranchTypeBits;
  if (state != nullptr) state->fpcr = static_cast<std::uint32_t>(g_startup_fpcr);
}

}  // namespace

void FaultSignalHandler(int signal, siginfo_t* info, void* raw_context) {
  auto& context = *static_cast<ucontext_t*>(raw_context);
  mcontext_t& machine = context.uc_mcontext;
  fpsimd_context* const fp_state = FindFpsimdRecord(machine);
  const int code = CodeFor(signal, *info, fp_state);
  RestoreCallState(machine, fp_state);

  const std::uintptr_t pc = machine.pc;
  const std::uintptr_t sp = machine.sp;
  if (StackExhausted(signal, *info, sp)) {
    EndWithFaultReport(code, reinterpret_cast<const void*>(pc),
                       reinterpret_cast<const void*>(machine.regs[29]));
  }

  // The return from this handler installs the saved mask: unblock the signal there, so that a
  // later fault of the same kind is caught again.
  sigdelset(&context.uc_sigmask, signal);

  const std::uintptr_t base = sp & ~std::uintptr_t{15};
  std::uintptr_t return_address = FaultReturnAddress(pc);
  std::uintptr_t frame = machine.regs[29];
  if ((signal == SIGSEGV || signal == SIGBUS) &&
      reinterpret_cast<std::uintptr_t>(info->si_addr) == pc) {
    return_address = reinterpret_cast<std::uintptr_t>(
        StripReturnAddress(reinterpret_cast<const void*>(machine.regs[30])));
    frame = base - kTrampolineFrame;  // the record {x29, return address}
  }

  machine.sp = base;
  machine.pc = reinterpret_cast<std::uintptr_t>(&launcher_fault_trampoline);
  machine.regs[16] = return_address;
  machine.regs[17] = sp;
  machine.regs[0] = static_cast<unsigned>(code);
  machine.regs[1] = pc;
  machine.regs[2] = frame;
}

void SaveFloatingPointControl() noexcept {
  __asm__ volatile("mrs %0, fpcr" : "=r"(g_startup_fpcr));
}

InterruptedPlace PlaceOf(const void* raw_context) noexcept {
  const auto& context = *static_cast<const ucontext_t*>(raw_context);
  return {reinterpret_cast<const void*>(context.uc_mcontext.pc),
          reinterpret_cast<const void*>(context.uc_mcontext.regs[29])};
}

std::uintptr_t FaultReturnAddress(std::uintptr_t address) noexcept { return address + 4; }

}  // namespace launcher
