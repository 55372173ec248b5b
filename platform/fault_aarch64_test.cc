// Processor faults turned into errors on arm64, in process: the fault handler edits the
// interrupted context so that the thread goes on in the error-raising code as though the faulting
// instruction had called it. These tests install the launcher's own handlers, which the
// sanitizers' handlers would fight with, so they run only in the plain build.
#include <fenv.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iterator>
#include <string>

#include "gtest/gtest.h"
#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/process.h"
#include "tests/support/error_testing.h"

// A leaf function written without a frame of its own: it loads the word at x0 and returns, with
// its return address in x30 throughout. A fault in it leaves the return address into its caller
// only in x30, which the trampoline's frame must hand back to the unwinder.
extern "C" int launcher_test_load_without_frame(const int* address);
__asm__(
    "        .text\n"
    "        .p2align 2\n"
    "        .globl launcher_test_load_without_frame\n"
    "        .type launcher_test_load_without_frame, %function\n"
    "launcher_test_load_without_frame:\n"
    "        .cfi_startproc\n"
    "        hint 34\n"  // bti c
    "        ldr w0, [x0]\n"
    "        ret\n"
    "        .cfi_endproc\n"
    "        .size launcher_test_load_without_frame, .-launcher_test_load_without_frame\n");

namespace launcher {
namespace {

// --- Code that faults ---------------------------------------------------------------------------
//
// Each faulting function records the return address into its caller before it faults: the back
// trace of the error must start with it.

int* volatile g_null_int = nullptr;
volatile int g_int_sink = 0;
const int* volatile g_past_end_of_file = nullptr;  // a page mapped beyond the end of its file
const void* volatile g_return_address = nullptr;

struct SetOnDestruction {
  bool* flag;
  ~SetOnDestruction() { *flag = true; }
};

NOIPA int ReadThroughNull() {
  g_return_address = __builtin_return_address(0);
  return *g_null_int;
}

NOIPA int WriteThroughNull() {
  g_return_address = __builtin_return_address(0);
  *g_null_int = 1;
  Barrier();
  return 0;
}

NOIPA int ReadThroughNullWithLocalObject(bool* destroyed) {
  SetOnDestruction local{destroyed};
  g_return_address = __builtin_return_address(0);
  return *g_null_int;
}

NOIPA int ReadPastEndOfFile() {
  g_return_address = __builtin_return_address(0);
  return *g_past_end_of_file;
}

// The permanently undefined instruction (encoding 0x00000000). __builtin_trap is brk on arm64,
// which raises SIGTRAP, not a fault.
NOIPA int ExecuteIllegalInstruction() {
  g_return_address = __builtin_return_address(0);
  __asm__ volatile("udf #0");
  Barrier();
  return 0;
}

NOIPA int LoadThroughLeafWithoutFrame(bool* destroyed) {
  SetOnDestruction local{destroyed};
  g_return_address = __builtin_return_address(0);
  const int value = launcher_test_load_without_frame(g_null_int);
  Barrier();
  return value;
}

using VoidFunction = void (*)();
VoidFunction volatile g_bad_function = nullptr;

NOIPA void CallThroughPointer(bool* destroyed) {
  SetOnDestruction local{destroyed};
  g_return_address = __builtin_return_address(0);
  g_bad_function();
  Barrier();
}

// The quotient of the processor's signed division instruction.
NOIPA int DivideWithInstruction(int dividend, int divisor) {
  int quotient;
  __asm__ volatile("sdiv %w0, %w1, %w2" : "=r"(quotient) : "r"(dividend), "r"(divisor));
  return quotient;
}

NOIPA int Recurse(int depth) {
  if (depth == 0) return ReadThroughNull();
  const int value = Recurse(depth - 1);
  Barrier();
  return value;
}

// --- What the error-raising code sees -----------------------------------------------------------
//
// The fixture puts this in front of the run-time error hook: it runs where the fault continues,
// in the thread's normal context, and looks at the state it finds there before passing on.

struct Observed {
  int calls = 0;
  int code = 0;
  bool frame_aligned = false;     // the frame pointer and sp are 16-aligned, as the ABI promises
  bool formatted_double = false;  // varargs with a double (SIMD registers in libc) work
  std::uint64_t fpsr = 0;         // the floating-point status at entry
  std::uint64_t fpcr = 0;         // the floating-point control at entry
};
Observed g_observed;
volatile double g_double_three = 3.0;

std::uint64_t ReadFpsr() {
  std::uint64_t value;
  __asm__ volatile("mrs %0, fpsr" : "=r"(value));
  return value;
}

std::uint64_t ReadFpcr() {
  std::uint64_t value;
  __asm__ volatile("mrs %0, fpcr" : "=r"(value));
  return value;
}

void WriteFpsr(std::uint64_t value) { __asm__ volatile("msr fpsr, %0" : : "r"(value)); }

NOIPA bool FrameAligned() {
  std::uintptr_t frame;
  std::uintptr_t stack;
  __asm__ volatile("mov %0, x29\n\tmov %1, sp" : "=r"(frame), "=r"(stack));
  return frame % 16 == 0 && stack % 16 == 0;
}

[[noreturn]] void ObservingErrorProc(int ErrNo, const void* Address, const void* Frame) {
  g_observed.fpsr = ReadFpsr();  // first, before anything here uses the floating-point unit
  g_observed.fpcr = ReadFpcr();
  ++g_observed.calls;
  g_observed.code = ErrNo;
  g_observed.frame_aligned = FrameAligned();
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %.1f", 1.25, g_double_three);
  g_observed.formatted_double = std::strcmp(text, "1.25 3.0") == 0;
  ErrorCodeToException(ErrNo, Address, Frame);
}

bool SignalBlocked(int signal) {
  sigset_t blocked;
  sigemptyset(&blocked);
  pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
  return sigismember(&blocked, signal) == 1;
}

constexpr std::size_t kPage = 4096;

// Installs the handlers as start-up does, and puts everything back afterwards.
class FaultTest : public FaultHandlersTest {
 protected:
  static void SetUpTestSuite() {
    // A page of a file that is then cut to no byte: reading it is a bus error.
    const int file = memfd_create("truncated", 0);
    ASSERT_GE(file, 0);
    ASSERT_EQ(ftruncate(file, kPage), 0);
    void* page = mmap(nullptr, kPage, PROT_READ, MAP_SHARED, file, 0);
    ASSERT_NE(page, MAP_FAILED);
    ASSERT_EQ(ftruncate(file, 0), 0);
    close(file);
    g_past_end_of_file = static_cast<const int*>(page);
    // A page that may be neither read nor executed, for calls to a bad address.
    void* inaccessible = mmap(nullptr, kPage, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(inaccessible, MAP_FAILED);
    g_inaccessible_page = reinterpret_cast<std::uintptr_t>(inaccessible);
  }

  void SetUp() override {
    startup_fpcr_ = ReadFpcr();
    FaultHandlersTest::SetUp();
    ErrorProc = ObservingErrorProc;
    g_observed = {};
    feclearexcept(FE_ALL_EXCEPT);
  }

  void TearDown() override {
    fedisableexcept(FE_ALL_EXCEPT);
    feclearexcept(FE_ALL_EXCEPT);
    FaultHandlersTest::TearDown();
  }

  static std::uintptr_t g_inaccessible_page;
  std::uint64_t startup_fpcr_ = 0;
};
std::uintptr_t FaultTest::g_inaccessible_page = 0;

// --- The kinds of fault -------------------------------------------------------------------------

struct FaultKind {
  const char* name;
  int signal;
  int (*fault)();
  int code;
  const char* class_name;
  const char* message;
};

const FaultKind kFaultKinds[] = {
    {"read through null", SIGSEGV, ReadThroughNull, 216, "EAccessViolation", "Access violation"},
    {"write through null", SIGSEGV, WriteThroughNull, 216, "EAccessViolation", "Access violation"},
    {"bus error", SIGBUS, ReadPastEndOfFile, 216, "EAccessViolation", "Access violation"},
    {"illegal instruction", SIGILL, ExecuteIllegalInstruction, 216, "EAccessViolation",
     "Access violation"},
};

// Every kind of fault is raised as its error at the faulting instruction, with the back trace
// starting at the return address into the faulting function's caller, and with the raising code
// running on a properly aligned stack. Each kind is caught a second time: the handler unblocks the
// signal it handled.
TEST_F(FaultTest, EveryKindIsRaisedAtTheFaultingInstructionAndCaughtAgain) {
  for (const FaultKind& kind : kFaultKinds) {
    for (int round = 1; round <= 2; ++round) {
      SCOPED_TRACE(testing::Message() << kind.name << ", fault " << round);
      g_observed = {};
      g_return_address = nullptr;
      const char* class_name = "(none)";
      std::string message;
      try {
        g_int_sink = kind.fault();
      } catch (const Exception& error) {
        class_name = error.ClassName();
        message = std::string(error.Message());
      }
      EXPECT_STREQ(class_name, kind.class_name);
      EXPECT_EQ(message, kind.message);
      EXPECT_EQ(g_observed.calls, 1);
      EXPECT_EQ(g_observed.code, kind.code);
      EXPECT_TRUE(g_observed.frame_aligned);
      EXPECT_TRUE(g_observed.formatted_double);

      const RaiseRecord& raise = CurrentRaise();
      EXPECT_EQ(FunctionContaining(raise.addr), CodeAddress(kind.fault));
      ASSERT_GE(raise.frame_count, 1);
      EXPECT_EQ(raise.frame[0], g_return_address);
      EXPECT_FALSE(SignalBlocked(kind.signal));
    }
  }
}

TEST_F(FaultTest, IllegalInstructionIsRaisedAtTheTrappingInstructionItself) {
  try {
    g_int_sink = ExecuteIllegalInstruction();
  } catch (const EAccessViolation&) {
  }
  std::uint32_t instruction = 0xFFFFFFFF;
  std::memcpy(&instruction, CurrentRaise().addr, sizeof instruction);
  EXPECT_EQ(instruction, 0x00000000u);  // udf #0
}

// The error leaves the faulting function like any other: its local objects are destroyed.
TEST_F(FaultTest, NullDereferenceRunsTheFaultingFunctionsDestructors) {
  bool destroyed = false;
  bool caught = false;
  try {
    g_int_sink = ReadThroughNullWithLocalObject(&destroyed);
  } catch (const EAccessViolation& error) {
    caught = true;
    EXPECT_TRUE(destroyed) << "the local object must be gone before the handler runs";
    EXPECT_EQ(error.Message(), "Access violation");
  }
  EXPECT_TRUE(caught);
  const RaiseRecord& raise = CurrentRaise();
  EXPECT_EQ(FunctionContaining(raise.addr), CodeAddress(ReadThroughNullWithLocalObject));
  ASSERT_GE(raise.frame_count, 1);
  EXPECT_EQ(raise.frame[0], g_return_address);
}

// A fault in a function that keeps its return address in x30 and has no frame record: the
// unwinder gets x30 as it was at the fault from the trampoline's frame, so it unwinds into the
// caller, whose clean-ups run. The back trace, which the unwinder gathers too, names that caller
// first (a frame-record walk, finding no record of the leaf's, would start at the caller's
// caller), then the caller's caller.
TEST_F(FaultTest, FaultInLeafWithoutFrameUnwindsThroughItsLinkRegister) {
  bool destroyed = false;
  bool caught = false;
  try {
    g_int_sink = LoadThroughLeafWithoutFrame(&destroyed);
  } catch (const EAccessViolation&) {
    caught = true;
  }
  EXPECT_TRUE(caught);
  EXPECT_TRUE(destroyed);
  const RaiseRecord& raise = CurrentRaise();
  EXPECT_EQ(raise.addr,
            At(reinterpret_cast<std::uintptr_t>(&launcher_test_load_without_frame) + 4));  // ldr
  ASSERT_GE(raise.frame_count, 2);
  EXPECT_EQ(FunctionContaining(raise.frame[0]), CodeAddress(LoadThroughLeafWithoutFrame));
  EXPECT_EQ(raise.frame[1], g_return_address);
}

// A call to a bad address faults with pc at that address; the return address into the calling
// function is in x30. The error is raised at the bad address, the back trace starts in the calling
// function, and the calling function's clean-ups run. An unmapped or inaccessible address gives
// SIGSEGV, a misaligned one SIGBUS (a PC alignment fault).
TEST_F(FaultTest, CallToBadAddressUnwindsIntoTheCallingFunction) {
  struct Target {
    const char* name;
    std::uintptr_t address;
    int signal;
  };
  const Target targets[] = {
      {"null", 0, SIGSEGV},
      {"inaccessible page", g_inaccessible_page, SIGSEGV},
      {"misaligned", reinterpret_cast<std::uintptr_t>(&ReadThroughNull) + 2, SIGBUS},
  };
  for (const Target& target : targets) {
    SCOPED_TRACE(target.name);
    g_observed = {};
    g_bad_function = reinterpret_cast<VoidFunction>(target.address);
    bool destroyed = false;
    bool caught = false;
    try {
      CallThroughPointer(&destroyed);
    } catch (const EAccessViolation&) {
      caught = true;
    }
    EXPECT_TRUE(caught);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(g_observed.calls, 1);
    const RaiseRecord& raise = CurrentRaise();
    EXPECT_EQ(raise.addr, At(target.address));
    ASSERT_GE(raise.frame_count, 2);
    EXPECT_EQ(FunctionContaining(raise.frame[0]), CodeAddress(CallThroughPointer));
    EXPECT_EQ(raise.frame[1], g_return_address);
    EXPECT_TRUE(g_observed.frame_aligned);
    EXPECT_FALSE(SignalBlocked(target.signal));
  }
}

// The back trace follows the frame records outward from the faulting function and keeps at most
// 16 return addresses: the first into the faulting function's caller, the rest into the
// recursion.
TEST_F(FaultTest, BackTraceOfADeepFaultKeepsSixteenReturnAddresses) {
  try {
    g_int_sink = Recurse(2 * kMaxBackTrace);
  } catch (const EAccessViolation&) {
  }
  const RaiseRecord& raise = CurrentRaise();
  EXPECT_EQ(FunctionContaining(raise.addr), CodeAddress(ReadThroughNull));
  ASSERT_EQ(raise.frame_count, kMaxBackTrace);
  EXPECT_EQ(raise.frame[0], g_return_address);
  for (int i = 0; i < kMaxBackTrace; ++i) {
    EXPECT_EQ(FunctionContaining(raise.frame[i]), CodeAddress(Recurse)) << "frame " << i;
  }
}

// The code that raises the error runs as though the faulting instruction had called it, with
// the floating-point control that the launcher's code was built for, whatever the interrupted code
// had set (here rounding towards plus infinity and flush-to-zero).
NOIPA int ReadThroughNullWithOwnFpcr() {
  constexpr std::uint64_t kRoundUpward = std::uint64_t{1} << 22;
  constexpr std::uint64_t kFlushToZero = std::uint64_t{1} << 24;
  __asm__ volatile("msr fpcr, %0" : : "r"(ReadFpcr() | kRoundUpward | kFlushToZero));
  return ReadThroughNull();
}

TEST_F(FaultTest, RaisingCodeFindsTheFloatingPointControlOfStartUp) {
  const char* class_name = "(none)";
  try {
    g_int_sink = ReadThroughNullWithOwnFpcr();
  } catch (const Exception& error) {
    class_name = error.ClassName();
  }
  const std::uint64_t fpcr_after = ReadFpcr();
  __asm__ volatile("msr fpcr, %0" : : "r"(startup_fpcr_));
  EXPECT_STREQ(class_name, "EAccessViolation");
  EXPECT_EQ(g_observed.calls, 1);
  EXPECT_EQ(g_observed.fpcr, startup_fpcr_);
  EXPECT_EQ(fpcr_after, startup_fpcr_);
  EXPECT_TRUE(g_observed.formatted_double);
}

// arm64's integer division does not trap: a division by zero gives 0, so no SIGFPE of code
// FPE_INTDIV ever arises from the processor (the handler still maps one that is sent).
TEST_F(FaultTest, IntegerDivisionByZeroDoesNotTrap) {
  EXPECT_EQ(DivideWithInstruction(7, 0), 0);
  EXPECT_EQ(DivideWithInstruction(-7, 0), 0);
  EXPECT_EQ(g_observed.calls, 0);
}

// --- Floating-point faults ----------------------------------------------------------------------

struct FloatingPointCase {
  const char* name;
  int si_code;
  int code;
  const char* class_name;
  const char* message;
};

const FloatingPointCase kFloatingPointCases[] = {
    {"integer division by zero", FPE_INTDIV, 200, "EDivByZero", "Division by zero"},
    {"division by zero", FPE_FLTDIV, 208, "EZeroDivide", "Floating point division by zero"},
    {"overflow", FPE_FLTOVF, 205, "EOverflow", "Floating point overflow"},
    {"underflow", FPE_FLTUND, 206, "EUnderflow", "Floating point underflow"},
    {"invalid operation", FPE_FLTINV, 207, "EInvalidOp", "Invalid floating point operation"},
    {"inexact result", FPE_FLTRES, 207, "EInvalidOp", "Invalid floating point operation"},
    {"integer overflow", FPE_INTOVF, 200, "EDivByZero", "Division by zero"},
    {"sent by a process", SI_QUEUE, 200, "EDivByZero", "Division by zero"},
};

constexpr std::uint64_t kFpsrExceptionFlags = 0x9F;
constexpr std::uint64_t kFpcrTrapEnables = 0x9F00;

// Sends `signal` with `code` to this thread (rt_tgsigqueueinfo accepts any code for the caller's
// own process). The signal arrives as the system call returns, so the error is raised at the
// instruction after it: the call is made here, in a function without clean-ups that the error
// unwinds through, not through a noexcept wrapper (Sys, or the C library's syscall()), where the
// unwinding would end in std::terminate.
NOIPA void SendSignalWithCode(int signal, int code, siginfo_t* info) {
  std::memset(info, 0, sizeof *info);
  info->si_signo = signal;
  info->si_code = code;
  register long x0 __asm__("x0") = getpid();
  register long x1 __asm__("x1") = gettid();
  register long x2 __asm__("x2") = signal;
  register siginfo_t* x3 __asm__("x3") = info;
  register long x8 __asm__("x8") = SYS_rt_tgsigqueueinfo;
  __asm__ volatile("svc #0" : "+r"(x0) : "r"(x1), "r"(x2), "r"(x3), "r"(x8) : "memory");
  Barrier();
}

// Processors (and qemu) rarely trap floating-point exceptions, so SIGFPE is delivered with each
// code a floating-point trap would have. The error follows the code, and the code that raises it
// finds a clean unit: no exception flag in FPSR, and FPCR as at start-up.
TEST_F(FaultTest, FloatingPointSignalsAreRaisedByTheirCodeAndLeaveACleanUnit) {
  for (const FloatingPointCase& fault : kFloatingPointCases) {
    SCOPED_TRACE(fault.name);
    g_observed = {};
    feclearexcept(FE_ALL_EXCEPT);
    WriteFpsr(ReadFpsr() | 0x02 | 0x10);  // division-by-zero and inexact flags, as a trap leaves
    const char* class_name = "(none)";
    std::string message;
    siginfo_t info;
    try {
      SendSignalWithCode(SIGFPE, fault.si_code, &info);
    } catch (const Exception& error) {
      class_name = error.ClassName();
      message = std::string(error.Message());
    }
    EXPECT_STREQ(class_name, fault.class_name);
    EXPECT_EQ(message, fault.message);
    EXPECT_EQ(g_observed.calls, 1);
    EXPECT_EQ(g_observed.code, fault.code);
    EXPECT_EQ(FunctionContaining(CurrentRaise().addr), CodeAddress(SendSignalWithCode));
    EXPECT_EQ(g_observed.fpsr & kFpsrExceptionFlags, 0u) << "FPSR flags";
    EXPECT_EQ(g_observed.fpcr, startup_fpcr_);
    EXPECT_TRUE(g_observed.frame_aligned);
    EXPECT_FALSE(SignalBlocked(SIGFPE));
  }
}

volatile double g_double_one = 1.0;
volatile double g_double_zero = 0.0;
volatile double g_double_sink = 0.0;
NOIPA void DivideDoubleByZero() { g_double_sink = g_double_one / g_double_zero; }

// Where the processor does trap floating-point exceptions, an enabled one is raised as its error
// at the faulting instruction, with the traps disabled again for the raising code.
TEST_F(FaultTest, TrappedFloatingPointDivisionByZeroIsRaised) {
  if (feenableexcept(FE_DIVBYZERO) == -1) {
    GTEST_SKIP() << "this processor does not trap floating-point exceptions (FPCR's trap enable "
                    "bits read as zero)";
  }
  const char* class_name = "(none)";
  try {
    DivideDoubleByZero();
  } catch (const Exception& error) {
    class_name = error.ClassName();
  }
  fedisableexcept(FE_ALL_EXCEPT);
  EXPECT_STREQ(class_name, "EZeroDivide");
  EXPECT_EQ(g_observed.code, 208);
  EXPECT_EQ(FunctionContaining(CurrentRaise().addr), CodeAddress(DivideDoubleByZero));
  EXPECT_EQ(g_observed.fpcr & kFpcrTrapEnables, 0u);
  EXPECT_EQ(g_observed.fpsr & kFpsrExceptionFlags, 0u);
}

// --- The handler's edit of the context ----------------------------------------------------------
//
// The handler called directly with a context made up here: what it leaves for the return.

extern "C" void launcher_fault_trampoline();

// The made-up sp lies in this buffer (the handler checks that the stack pointer's memory is
// mapped); the rows give it as an offset into the buffer.
alignas(16) unsigned char g_fake_stack[8192];
std::uintptr_t FakeStack(std::uintptr_t offset) {
  return reinterpret_cast<std::uintptr_t>(g_fake_stack) + offset;
}

struct ContextCase {
  const char* name;
  int signal;
  int si_code;
  std::uintptr_t pc;
  std::uintptr_t fault_address;
  std::uintptr_t sp_offset;       // sp is FakeStack(sp_offset)
  std::uintptr_t return_address;  // what x16 must hold
  bool trampoline_frame;          // x2 must hold the trampoline's record, sp - 32 (else x29)
  int code;
};

constexpr std::uintptr_t kPc = 0x400100;
constexpr std::uintptr_t kLinkRegister = 0x400204;
constexpr std::uintptr_t kFramePointer = 0x7FF0001230;

const ContextCase kContextCases[] = {
    {"load fault", SIGSEGV, SEGV_MAPERR, kPc, 0, 4096, kPc + 4, false, 216},
    {"unaligned sp", SIGSEGV, SEGV_MAPERR, kPc, 8, 4096 + 8, kPc + 4, false, 216},
    {"call to a bad address", SIGSEGV, SEGV_MAPERR, 0x5000, 0x5000, 4096, kLinkRegister, true,
     216},
    {"branch to a misaligned address", SIGBUS, BUS_ADRALN, kPc + 2, kPc + 2, 4096, kLinkRegister,
     true, 216},
    {"bus error", SIGBUS, BUS_ADRERR, kPc, 0x9000, 4096, kPc + 4, false, 216},
    {"illegal instruction", SIGILL, ILL_ILLOPC, kPc, kPc, 4096, kPc + 4, false, 216},
    {"floating-point overflow", SIGFPE, FPE_FLTOVF, kPc, kPc, 4096, kPc + 4, false, 205},
};

// A fabricated signal context: an fpsimd record with flags and traps set, then the end marker.
struct FakeContext {
  ucontext_t context{};
  siginfo_t info{};

  FakeContext(const ContextCase& row) {
    sigemptyset(&context.uc_sigmask);
    sigaddset(&context.uc_sigmask, row.signal);
    sigaddset(&context.uc_sigmask, SIGUSR1);
    mcontext_t& machine = context.uc_mcontext;
    machine.pc = row.pc;
    machine.sp = FakeStack(row.sp_offset);
    machine.regs[29] = kFramePointer;
    machine.regs[30] = kLinkRegister;
    machine.pstate = 0x60000000 | (std::uint64_t{2} << 10);  // flags Z, C; BTYPE 2 (after blr)
    for (int i = 0; i < 31; ++i) {
      if (i != 29 && i != 30) machine.regs[i] = 0x1000 + static_cast<unsigned>(i);
    }
    auto* fpsimd = reinterpret_cast<fpsimd_context*>(machine.__reserved);
    fpsimd->head.magic = FPSIMD_MAGIC;
    fpsimd->head.size = sizeof(fpsimd_context);
    fpsimd->fpsr = 0x9F | 0x08000000;  // every exception flag, and the saturation flag
    fpsimd->fpcr = 0x9F00;             // every trap enabled
    info.si_signo = row.signal;
    info.si_code = row.si_code;
    info.si_addr = reinterpret_cast<void*>(row.fault_address);
  }

  const fpsimd_context& Fpsimd() const {
    return *reinterpret_cast<const fpsimd_context*>(context.uc_mcontext.__reserved);
  }
};

TEST_F(FaultTest, HandlerPointsTheContextAtTheTrampoline) {
  for (const ContextCase& row : kContextCases) {
    SCOPED_TRACE(row.name);
    FakeContext fake(row);
    FaultSignalHandler(row.signal, &fake.info, &fake.context);
    const mcontext_t& machine = fake.context.uc_mcontext;
    EXPECT_EQ(machine.pc, reinterpret_cast<std::uintptr_t>(&launcher_fault_trampoline));
    const std::uintptr_t sp = FakeStack(row.sp_offset);
    EXPECT_EQ(machine.sp, sp & ~std::uintptr_t{15});
    EXPECT_EQ(machine.regs[0], static_cast<unsigned>(row.code));
    EXPECT_EQ(machine.regs[1], row.pc) << "the error is raised at the faulting instruction";
    EXPECT_EQ(machine.regs[2], row.trampoline_frame ? sp - 32 : kFramePointer);
    EXPECT_EQ(machine.regs[16], row.return_address);
    EXPECT_EQ(machine.regs[17], sp) << "sp at the fault, for the unwinder";
    EXPECT_EQ(machine.regs[29], kFramePointer);
    EXPECT_EQ(machine.regs[30], kLinkRegister);
    EXPECT_EQ(machine.regs[3], 0x1003u) << "other registers stay";
    EXPECT_EQ(machine.pstate, 0x60000000u) << "BTYPE cleared, flags kept";
    EXPECT_EQ(sigismember(&fake.context.uc_sigmask, row.signal), 0);
    EXPECT_EQ(sigismember(&fake.context.uc_sigmask, SIGUSR1), 1);
    if (row.signal == SIGFPE) {
      EXPECT_EQ(fake.Fpsimd().fpsr, 0x08000000u) << "exception flags cleared, the rest kept";
    } else {
      EXPECT_EQ(fake.Fpsimd().fpsr, 0x9Fu | 0x08000000u) << "only SIGFPE clears the flags";
    }
    EXPECT_EQ(fake.Fpsimd().fpcr, startup_fpcr_) << "every fault puts the control back";
  }
}

// --- The signal frame ---------------------------------------------------------------------------
//
// The kernel keeps the interrupted registers and the records of the __reserved area (the
// floating-point/SIMD state first) in the signal frame below the interrupted sp, and reads them
// back when the handler returns. The handler must write nothing there but the registers it means
// to change, nor anything else below the interrupted sp. This wrapper copies the __reserved area
// and the stack right below sp, calls the launcher's handler and compares.

struct FrameCheck {
  int faults = 0;
  int intact = 0;
};
FrameCheck g_frame_check;
unsigned char g_reserved_before[4096];
constexpr std::size_t kBelowStack = 256;
unsigned char g_below_stack_before[kBelowStack];

void ComparingFaultHandler(int signal, siginfo_t* info, void* raw_context) {
  auto& context = *static_cast<ucontext_t*>(raw_context);
  const auto* reserved = context.uc_mcontext.__reserved;
  const auto* stack = reinterpret_cast<const unsigned char*>(context.uc_mcontext.sp);
  std::memcpy(g_reserved_before, reserved, sizeof g_reserved_before);
  std::memcpy(g_below_stack_before, stack - kBelowStack, kBelowStack);

  FaultSignalHandler(signal, info, raw_context);

  ++g_frame_check.faults;
  if (std::memcmp(g_reserved_before, reserved, sizeof g_reserved_before) == 0 &&
      std::memcmp(g_below_stack_before, stack - kBelowStack, kBelowStack) == 0) {
    ++g_frame_check.intact;
  }
}

NOIPA int FaultWithStackLoweredBy(std::size_t bytes) {
  void* volatile lowered = __builtin_alloca(bytes);
  const int value = ReadThroughNull();
  Barrier();
  return value + (lowered != nullptr ? 1 : 0);
}

TEST_F(FaultTest, HandlerLeavesTheSignalFrameAndTheStackBelowSpAlone) {
  struct sigaction comparing {};
  comparing.sa_sigaction = ComparingFaultHandler;
  comparing.sa_flags = SA_SIGINFO;
  sigemptyset(&comparing.sa_mask);
  ASSERT_EQ(sigaction(SIGSEGV, &comparing, nullptr), 0);
  g_frame_check = {};
  constexpr int kShifts = 4;
  for (int shift = 0; shift < kShifts; ++shift) {
    try {
      g_int_sink = FaultWithStackLoweredBy(16 * static_cast<std::size_t>(shift) + 1);
    } catch (const EAccessViolation&) {
    }
  }
  EXPECT_EQ(g_frame_check.faults, kShifts);
  EXPECT_EQ(g_frame_check.intact, kShifts);
}

}  // namespace
}  // namespace launcher
