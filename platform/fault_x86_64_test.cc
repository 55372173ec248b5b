// Processor faults turned into errors, in process: the fault handler edits the interrupted context
// so that the thread goes on in the error-raising code as though the faulting instruction had
// called it. These tests install the launcher's own handlers, which the sanitizers' handlers
// would fight with, so they run only in the plain build.
#include <fenv.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cfloat>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <iterator>
#include <string>

#include "gtest/gtest.h"
#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/process.h"
#include "tests/support/error_testing.h"

namespace launcher {
namespace {

// --- Code that faults ---------------------------------------------------------------------------
//
// Each faulting function records the return address into its caller before it faults: the back
// trace of the error must start with it.

int* volatile g_null_int = nullptr;
volatile int g_int_one = 1;
volatile int g_int_zero = 0;
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

NOIPA int ReadThroughNullWithLocalObject(bool* destroyed) {
  SetOnDestruction local{destroyed};
  g_return_address = __builtin_return_address(0);
  return *g_null_int;
}

NOIPA int DivideByZero() {
  g_return_address = __builtin_return_address(0);
  return g_int_one / g_int_zero;
}

NOIPA int ReadPastEndOfFile() {
  g_return_address = __builtin_return_address(0);
  return *g_past_end_of_file;
}

NOIPA int ExecuteIllegalInstruction() {
  g_return_address = __builtin_return_address(0);
  __builtin_trap();  // ud2
}

using VoidFunction = void (*)();
VoidFunction volatile g_null_function = nullptr;

NOIPA void CallThroughNull(bool* destroyed) {
  SetOnDestruction local{destroyed};
  g_return_address = __builtin_return_address(0);
  g_null_function();
  Barrier();
}

volatile double g_double_one = 1.0;
volatile double g_double_three = 3.0;
volatile double g_double_zero = 0.0;
volatile double g_double_max = DBL_MAX;
volatile double g_double_min = DBL_MIN;
volatile double g_double_sink = 0.0;
volatile long double g_long_double_one = 1.0L;
volatile long double g_long_double_zero = 0.0L;
volatile long double g_long_double_max = LDBL_MAX;
volatile long double g_long_double_sink = 0.0L;

NOIPA void DivideDoubleByZero() { g_double_sink = g_double_one / g_double_zero; }
NOIPA void OverflowDouble() { g_double_sink = g_double_max * g_double_max; }
NOIPA void UnderflowDouble() { g_double_sink = g_double_min * g_double_min; }
NOIPA void InvalidDoubleOperation() { g_double_sink = g_double_zero / g_double_zero; }
NOIPA void InexactDouble() { g_double_sink = g_double_one / g_double_three; }
NOIPA void DivideLongDoubleByZero() { g_long_double_sink = g_long_double_one / g_long_double_zero; }
NOIPA void OverflowLongDouble() { g_long_double_sink = g_long_double_max * g_long_double_max; }

// A leaf function (it calls nothing) keeps its locals in the red zone, the 128 bytes below the
// stack pointer that a signal must not disturb. It records where they are and the return address
// into its caller, then faults.
constexpr std::uint64_t kRedZonePattern = 0x0123456789ABCDEFULL;
constexpr std::size_t kRedZoneWords = 8;
struct RedZoneProbe {
  std::uintptr_t stack_pointer = 0;
  std::uintptr_t data = 0;  // address of kRedZoneWords words holding kRedZonePattern + i
  const void* return_address = nullptr;
};
RedZoneProbe g_probe;

NOIPA int LeafKeepingDataInRedZone() {
  volatile std::uint64_t data[kRedZoneWords];
  for (std::uint64_t i = 0; i < kRedZoneWords; ++i) data[i] = kRedZonePattern + i;
  std::uintptr_t stack_pointer;
  __asm__ volatile("mov %%rsp, %0" : "=r"(stack_pointer));
  g_probe.stack_pointer = stack_pointer;
  g_probe.data = reinterpret_cast<std::uintptr_t>(&data[0]);
  g_probe.return_address = __builtin_return_address(0);
  return *g_null_int + static_cast<int>(data[0]);
}

// --- What the error-raising code sees -----------------------------------------------------------
//
// The fixture puts this in front of the run-time error hook: it runs where the fault continues,
// in the thread's normal context, and looks at the state it finds there before passing on.

struct Observed {
  int calls = 0;
  int code = 0;
  bool direction_flag = true;     // EFLAGS.DF at entry; the ABI wants it clear at every call
  bool frame_aligned = false;     // the frame pointer is 16-aligned, as the ABI promises
  bool formatted_double = false;  // varargs with a double (aligned SSE stores in libc) work
  fenv_t fp_state{};              // the floating-point state at entry
  bool red_zone_intact = false;   // the probe's red-zone words still hold their values
};
Observed g_observed;

NOIPA bool FrameAligned() {
  std::uintptr_t frame;
  __asm__ volatile("mov %%rbp, %0" : "=r"(frame));
  return frame % 16 == 0;
}

bool RedZoneIntact() {
  if (g_probe.data == 0) return false;
  const auto* words = reinterpret_cast<const volatile std::uint64_t*>(g_probe.data);
  for (std::uint64_t i = 0; i < kRedZoneWords; ++i) {
    if (words[i] != kRedZonePattern + i) return false;
  }
  return true;
}

// Whether EFLAGS.DF is set.
bool DirectionFlag() {
  std::uint64_t flags;
  __asm__ volatile("pushfq\n\tpopq %0" : "=r"(flags));
  return (flags & 0x400) != 0;
}

[[noreturn]] void ObservingErrorProc(int ErrNo, const void* Address, const void* Frame) {
  // First, before anything here copies memory or uses the floating-point unit.
  g_observed.direction_flag = DirectionFlag();
  fegetenv(&g_observed.fp_state);
  ++g_observed.calls;
  g_observed.code = ErrNo;
  g_observed.frame_aligned = FrameAligned();
  g_observed.red_zone_intact = RedZoneIntact();
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %.1f", 1.25, g_double_three);
  g_observed.formatted_double = std::strcmp(text, "1.25 3.0") == 0;
  ErrorCodeToException(ErrNo, Address, Frame);
}

std::uint32_t Mxcsr() {
  std::uint32_t value;
  __asm__ volatile("stmxcsr %0" : "=m"(value));
  return value;
}

std::uint16_t X87ControlWord() {
  std::uint16_t word;
  __asm__ volatile("fnstcw %0" : "=m"(word));
  return word;
}

bool SignalBlocked(int signal) {
  sigset_t blocked;
  sigemptyset(&blocked);
  pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
  return sigismember(&blocked, signal) == 1;
}

// Installs the handlers as start-up does, and puts everything back afterwards.
class FaultTest : public FaultHandlersTest {
 protected:
  static void SetUpTestSuite() {
    // A page of a file that holds no byte: reading it is a bus error.
    const int file = memfd_create("empty", 0);
    ASSERT_GE(file, 0);
    void* page = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, file, 0);
    ASSERT_NE(page, MAP_FAILED);
    close(file);
    g_past_end_of_file = static_cast<const int*>(page);
  }

  void SetUp() override {
    startup_control_word_ = X87ControlWord();
    startup_mxcsr_ = Mxcsr();
    FaultHandlersTest::SetUp();
    ErrorProc = ObservingErrorProc;
    g_observed = {};
    g_probe = {};
    feclearexcept(FE_ALL_EXCEPT);
  }

  void TearDown() override {
    fedisableexcept(FE_ALL_EXCEPT);
    feclearexcept(FE_ALL_EXCEPT);
    fesetround(FE_TONEAREST);
    FaultHandlersTest::TearDown();
  }

  // MXCSR's control bits (everything but the exception flags) as at start-up.
  std::uint32_t StartupMxcsrControl() const { return startup_mxcsr_ & ~std::uint32_t{0x3F}; }

  std::uint16_t startup_control_word_ = 0;
  std::uint32_t startup_mxcsr_ = 0;
};

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
    {"null dereference", SIGSEGV, ReadThroughNull, 216, "EAccessViolation", "Access violation"},
    {"bus error", SIGBUS, ReadPastEndOfFile, 216, "EAccessViolation", "Access violation"},
    {"illegal instruction", SIGILL, ExecuteIllegalInstruction, 216, "EAccessViolation",
     "Access violation"},
    {"integer division by zero", SIGFPE, DivideByZero, 200, "EDivByZero", "Division by zero"},
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
  std::uint16_t opcode = 0;
  std::memcpy(&opcode, CurrentRaise().addr, sizeof opcode);
  EXPECT_EQ(opcode, 0x0B0F);  // ud2
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

// A call through a null function pointer faults with the instruction pointer at address 0; the
// return address into the calling function is already on the stack. The error is raised at
// address 0, the back trace starts in the calling function, and the calling function's clean-ups
// run.
TEST_F(FaultTest, CallThroughNullPointerUnwindsIntoTheCallingFunction) {
  bool destroyed = false;
  bool caught = false;
  try {
    CallThroughNull(&destroyed);
  } catch (const EAccessViolation&) {
    caught = true;
  }
  EXPECT_TRUE(caught);
  EXPECT_TRUE(destroyed);
  const RaiseRecord& raise = CurrentRaise();
  EXPECT_EQ(raise.addr, nullptr);
  ASSERT_GE(raise.frame_count, 2);
  EXPECT_EQ(FunctionContaining(raise.frame[0]), CodeAddress(CallThroughNull));
  EXPECT_EQ(raise.frame[1], g_return_address);
  EXPECT_TRUE(g_observed.frame_aligned);
}

// A fault in a leaf function that keeps its data in the red zone: neither the kernel's signal
// frame nor the frame the handler builds for the raising code may land there, and the back trace
// still starts at the return address into the caller.
TEST_F(FaultTest, LeafFunctionsRedZoneSurvivesAndBackTraceIsRight) {
  bool caught = false;
  try {
    g_int_sink = LeafKeepingDataInRedZone();
  } catch (const EAccessViolation&) {
    caught = true;
  }
  ASSERT_TRUE(caught);
  // The test means something only when the data really lay below the stack pointer.
  ASSERT_LT(g_probe.data, g_probe.stack_pointer);
  ASSERT_GE(g_probe.data, g_probe.stack_pointer - 128);
  EXPECT_TRUE(g_observed.red_zone_intact);
  EXPECT_TRUE(g_observed.frame_aligned);
  const RaiseRecord& raise = CurrentRaise();
  EXPECT_EQ(FunctionContaining(raise.addr), CodeAddress(LeafKeepingDataInRedZone));
  ASSERT_GE(raise.frame_count, 1);
  EXPECT_EQ(raise.frame[0], g_probe.return_address);
}

// --- Floating-point faults ----------------------------------------------------------------------

struct FloatingPointFault {
  const char* name;
  int enabled;  // the exception unmasked for the operation
  void (*operation)();
  int code;
  const char* class_name;
  const char* message;
};

const FloatingPointFault kFloatingPointFaults[] = {
    {"SSE division by zero", FE_DIVBYZERO, DivideDoubleByZero, 208, "EZeroDivide",
     "Floating point division by zero"},
    {"SSE overflow", FE_OVERFLOW, OverflowDouble, 205, "EOverflow", "Floating point overflow"},
    {"SSE underflow", FE_UNDERFLOW, UnderflowDouble, 206, "EUnderflow", "Floating point underflow"},
    {"SSE invalid operation", FE_INVALID, InvalidDoubleOperation, 207, "EInvalidOp",
     "Invalid floating point operation"},
    {"SSE precision alone", FE_INEXACT, InexactDouble, 207, "EInvalidOp",
     "Invalid floating point operation"},
    {"x87 division by zero", FE_DIVBYZERO, DivideLongDoubleByZero, 208, "EZeroDivide",
     "Floating point division by zero"},
    {"x87 overflow", FE_OVERFLOW, OverflowLongDouble, 205, "EOverflow", "Floating point overflow"},
};

// An enabled floating-point exception is raised as its error, and the code that raises it finds a
// clean unit: no exception flag in the x87 status word or in MXCSR, an empty x87 register stack
// and the x87 control word of start-up (all exceptions masked again).
TEST_F(FaultTest, FloatingPointFaultsAreRaisedAndLeaveACleanUnit) {
  for (const FloatingPointFault& fault : kFloatingPointFaults) {
    SCOPED_TRACE(fault.name);
    g_observed = {};
    feclearexcept(FE_ALL_EXCEPT);
    ASSERT_EQ(feenableexcept(fault.enabled), 0);
    const char* class_name = "(none)";
    std::string message;
    try {
      fault.operation();
    } catch (const Exception& error) {
      class_name = error.ClassName();
      message = std::string(error.Message());
    }
    const std::uint16_t control_word_after = X87ControlWord();
    fedisableexcept(FE_ALL_EXCEPT);

    EXPECT_STREQ(class_name, fault.class_name);
    EXPECT_EQ(message, fault.message);
    EXPECT_EQ(g_observed.code, fault.code);
    EXPECT_EQ(FunctionContaining(CurrentRaise().addr), CodeAddress(fault.operation));
    const fenv_t& state = g_observed.fp_state;
    EXPECT_EQ(state.__status_word, 0) << "x87 flags, exception summary and stack top";
    EXPECT_EQ(state.__tags, 0xFFFF) << "every x87 register empty";
    EXPECT_EQ(state.__control_word, startup_control_word_);
    EXPECT_EQ(state.__mxcsr & FE_ALL_EXCEPT, 0u) << "MXCSR flags";
    EXPECT_EQ(state.__mxcsr & ~std::uint32_t{FE_ALL_EXCEPT}, StartupMxcsrControl())
        << "MXCSR's exception masks and rounding";
    EXPECT_EQ(control_word_after, startup_control_word_);
    EXPECT_TRUE(g_observed.frame_aligned);
    EXPECT_FALSE(SignalBlocked(SIGFPE));
  }
}

// Flags are sticky, and almost any x87 operation leaves the (masked) x87 precision flag set. An
// SSE division by zero that traps afterwards is still a division by zero: only an unmasked flag
// can have caused the fault.
TEST_F(FaultTest, StaleMaskedFlagDoesNotDecideTheError) {
  feclearexcept(FE_ALL_EXCEPT);
  volatile long double third = 1.0L;
  third = third / 3.0L;  // x87, inexact: sets the x87 precision flag, masked
  ASSERT_NE(fetestexcept(FE_INEXACT), 0);
  ASSERT_EQ(feenableexcept(FE_DIVBYZERO), 0);
  const char* class_name = "(none)";
  try {
    DivideDoubleByZero();
  } catch (const Exception& error) {
    class_name = error.ClassName();
  }
  fedisableexcept(FE_ALL_EXCEPT);
  EXPECT_STREQ(class_name, "EZeroDivide");
  EXPECT_EQ(g_observed.code, 208);
}

// The code that raises the error runs as though the faulting instruction had called it, and the
// ABI fixes some state at every call, whatever the interrupted code had made of it: the direction
// flag is clear (glibc's memmove copies backwards with it set), and the floating-point control
// state is start-up's (exception traps masked, rounding to nearest).
NOIPA int ReadThroughNullCopyingBackwards() {
  int value;
  __asm__ volatile("std\n\tmovl (%1), %0\n\tcld" : "=r"(value) : "r"(g_null_int) : "memory");
  return value;
}

NOIPA int ReadThroughNullWithTrapsEnabled() {
  feenableexcept(FE_ALL_EXCEPT & ~FE_INEXACT);
  return ReadThroughNull();
}

NOIPA int ReadThroughNullRoundingUpward() {
  fesetround(FE_UPWARD);
  return ReadThroughNull();
}

NOIPA int TrapDivisionByZero() {
  feenableexcept(FE_DIVBYZERO);
  DivideDoubleByZero();
  return 0;
}

TEST_F(FaultTest, RaisingCodeFindsTheStateTheABIFixesAtACall) {
  const struct {
    const char* name;
    int (*fault)();
    const char* class_name;
  } kCases[] = {
      {"direction flag set", ReadThroughNullCopyingBackwards, "EAccessViolation"},
      {"exception traps enabled", ReadThroughNullWithTrapsEnabled, "EAccessViolation"},
      {"rounding upward", ReadThroughNullRoundingUpward, "EAccessViolation"},
      {"trapped division by zero", TrapDivisionByZero, "EZeroDivide"},
  };
  for (const auto& scenario : kCases) {
    SCOPED_TRACE(scenario.name);
    g_observed = {};
    const char* class_name = "(none)";
    try {
      g_int_sink = scenario.fault();
    } catch (const Exception& error) {
      class_name = error.ClassName();
    }
    const std::uint16_t control_word_after = X87ControlWord();
    const std::uint32_t mxcsr_after = Mxcsr();
    fedisableexcept(FE_ALL_EXCEPT);
    fesetround(FE_TONEAREST);
    EXPECT_STREQ(class_name, scenario.class_name);
    EXPECT_EQ(g_observed.calls, 1);
    EXPECT_FALSE(g_observed.direction_flag);
    EXPECT_EQ(g_observed.fp_state.__control_word, startup_control_word_);
    EXPECT_EQ(g_observed.fp_state.__mxcsr & ~std::uint32_t{FE_ALL_EXCEPT}, StartupMxcsrControl());
    EXPECT_TRUE(g_observed.formatted_double);
    // And so does the code that catches it.
    EXPECT_EQ(control_word_after, startup_control_word_);
    EXPECT_EQ(mxcsr_after & ~std::uint32_t{FE_ALL_EXCEPT}, StartupMxcsrControl());
  }
}

// --- The signal frame ---------------------------------------------------------------------------
//
// The kernel saves the interrupted floating-point state (the full XSAVE image) at the top of the
// signal frame, just below the red zone, and reads it back when the handler returns. A handler
// that writes below the red zone while it runs overwrites the end of that image: the kernel then
// restores a state that the interrupted thread never had (or, with its end marker hit, drops all
// but the legacy part). This wrapper copies the image, calls the launcher's handler and compares.

struct FrameCheck {
  int faults = 0;
  int intact = 0;
};
FrameCheck g_frame_check;
unsigned char g_fp_image_before[1 << 16];
unsigned char g_red_zone_before[128];

void ComparingFaultHandler(int signal, siginfo_t* info, void* raw_context) {
  auto& context = *static_cast<ucontext_t*>(raw_context);
  const auto* image = reinterpret_cast<const unsigned char*>(context.uc_mcontext.fpregs);
  const auto* stack = reinterpret_cast<const unsigned char*>(context.uc_mcontext.gregs[REG_RSP]);
  // The legacy 512-byte area ends with the kernel's software bytes: magic1 "FPXS" and the size
  // of the whole image including the 4-byte end marker.
  std::uint32_t magic = 0;
  std::uint32_t size = 512;
  std::memcpy(&magic, image + 464, sizeof magic);
  if (magic == 0x46505853) std::memcpy(&size, image + 468, sizeof size);
  if (size > sizeof g_fp_image_before) size = sizeof g_fp_image_before;
  std::memcpy(g_fp_image_before, image, size);
  std::memcpy(g_red_zone_before, stack - 128, sizeof g_red_zone_before);

  FaultSignalHandler(signal, info, raw_context);

  ++g_frame_check.faults;
  if (std::memcmp(g_fp_image_before, image, size) == 0 &&
      std::memcmp(g_red_zone_before, stack - 128, sizeof g_red_zone_before) == 0) {
    ++g_frame_check.intact;
  }
}

NOIPA int FaultWithStackLoweredBy(std::size_t bytes) {
  void* volatile lowered = __builtin_alloca(bytes);
  const int value = ReadThroughNull();
  Barrier();
  return value + (lowered != nullptr ? 1 : 0);
}

TEST_F(FaultTest, HandlerLeavesTheSavedStateAndTheRedZoneAlone) {
  struct sigaction comparing {};
  comparing.sa_sigaction = ComparingFaultHandler;
  comparing.sa_flags = SA_SIGINFO;
  sigemptyset(&comparing.sa_mask);
  ASSERT_EQ(sigaction(SIGSEGV, &comparing, nullptr), 0);
  g_frame_check = {};
  // The saved image is 64-aligned below the red zone: shifting the stack in 16-byte steps puts
  // the fault at every position relative to it.
  constexpr int kShifts = 8;
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
