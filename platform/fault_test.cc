// Processor faults, whatever the processor: the back trace of a fault, and the faults that end the
// process. A fault that nothing catches is reported at the faulting instruction; a fault while an
// error is being built ends the process with 217 and no report instead of faulting again; a fault
// that the unwinder cannot pass, a stack overflow and a fault while the process ends are reported
// and end with 217, never by the signal and never without the report. The launcher's own handlers
// are installed, which the sanitizers' handlers would fight with, so these run in the plain build
// only, beside the processor's own fault tests.
#include "platform/fault.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <exception>
#include <iterator>
#include <string>

#include "gtest/gtest.h"
#include "platform/errors.h"
#include "platform/process.h"
#include "platform/report.h"
#include "platform/streams.h"
#include "tests/support/error_testing.h"

namespace launcher {
namespace {

int* volatile g_null_int = nullptr;
volatile int g_int_sink = 0;
const void* volatile g_return_address = nullptr;

// Records the return address into its caller, which gives it a frame of its own: the back trace
// of its fault starts with that address wherever it is called from.
NOIPA int ReadThroughNull() {
  g_return_address = __builtin_return_address(0);
  return *g_null_int;
}

NOIPA int CallReadThroughNull() {
  const int value = ReadThroughNull();
  Barrier();
  return value;
}

using FaultEndTest = FaultHandlersTest;

// The unhandled-error report of a fault: "Access violation" at some address, with its back trace.
const std::string kAccessViolationReport =
    "^An unhandled exception occurred at \\$[0-9A-F]{16}:\nEAccessViolation: Access violation\n"
    "  \\$[0-9A-F]{16}\n(  \\$[0-9A-F]{16}\n){0,16}\n$";

// --- The back trace of a fault ------------------------------------------------------------------

// The C library's string functions make no frame record of their own: a back trace that follows
// frame records from the faulting instruction would start at the caller's caller.
std::size_t (*volatile g_strlen)(const char*) = std::strlen;
const char* volatile g_null_text = nullptr;
volatile std::size_t g_size_sink = 0;

NOIPA std::size_t MeasureNullText() {
  g_return_address = __builtin_return_address(0);
  const std::size_t size = g_strlen(g_null_text);
  Barrier();
  return size;
}

TEST_F(FaultEndTest, BackTraceOfAFaultInACLibraryFunctionNamesTheCallingFunction) {
  bool caught = false;
  try {
    g_size_sink = MeasureNullText();
  } catch (const EAccessViolation&) {
    caught = true;
  }
  ASSERT_TRUE(caught);
  const RaiseRecord& raise = CurrentRaise();
  EXPECT_EQ(FunctionContaining(raise.addr), CodeAddress(std::strlen));
  ASSERT_GE(raise.frame_count, 2);
  EXPECT_EQ(FunctionContaining(raise.frame[0]), CodeAddress(MeasureNullText));
  EXPECT_EQ(raise.frame[1], g_return_address);
}

// --- Faults the unwinder cannot pass ------------------------------------------------------------
//
// A stray write over a saved frame pointer (a buffer overflow, say) leaves a frame that the
// unwinder cannot step past: it reads the caller's frame from there and faults. Raising an error
// for that fault would walk the same frames and fault again, without end. The process ends at
// once with 217 and the report, written from the frame records without the unwinder.

constexpr std::uintptr_t kDamagedFrame = 0x10;  // an unmapped address

// Overwrites the frame pointer that the calling function's frame record saved, as a stray write
// would; every return through it is poisoned, so the caller never returns.
#define DAMAGE_SAVED_FRAME_POINTER() \
  (*static_cast<std::uintptr_t*>(__builtin_frame_address(0)) = kDamagedFrame)

NOIPA void FaultBelowADamagedFrame() {
  DAMAGE_SAVED_FRAME_POINTER();
  g_int_sink = ReadThroughNull();
  Barrier();
}

NOIPA void RaiseEProcess() { RaiseError<EProcess>("passes a damaged frame"); }

NOIPA void RaiseBelowADamagedFrame() {
  DAMAGE_SAVED_FRAME_POINTER();
  RaiseEProcess();
  Barrier();
}

// The frame whose saved frame pointer `run` damages, and which the unwinder has to step past (a
// handler's frame or a noexcept one right there would stop it first). It allocates on the stack
// by a size known only at run time, so that on every processor its unwind information finds its
// frame through the frame pointer (arm64 otherwise finds fixed-size frames from sp).
volatile std::size_t g_dynamic_size = 64;

NOIPA void RunInAFrameOfItsOwn(void (*run)()) {
  void* volatile dynamic = __builtin_alloca(g_dynamic_size);
  run();
  Barrier();
  g_return_address = dynamic;
}

struct FaultsWhenDestroyed {
  ~FaultsWhenDestroyed() { g_int_sink = *g_null_int; }
};

NOIPA void RaiseWithALocalThatFaultsWhenDestroyed() {
  FaultsWhenDestroyed local;
  RaiseEProcess();
  Barrier();
}

// The fault is reported at its own instruction, found before the unwinder met the damage.
TEST_F(FaultEndTest, FaultBelowADamagedFrameEndsWith217AndItsReport) {
  try {
    g_int_sink = ReadThroughNull();
  } catch (const EAccessViolation&) {
  }
  const std::string address = Hex(CurrentRaise().addr);
  EXPECT_EXIT(Unguarded([] {
                alarm(60);
                RunInAFrameOfItsOwn(FaultBelowADamagedFrame);
              }),
              testing::ExitedWithCode(217),
              "^An unhandled exception occurred at \\$" + address +
                  ":\nEAccessViolation: Access violation\n  \\$" + address +
                  "\n(  \\$[0-9A-F]{16}\n){1,16}\n$");
}

// A fault while an error is on its way to its handler: in the unwinder, or in a destructor that
// the unwinding runs.
TEST_F(FaultEndTest, FaultWhileAnErrorPassesEndsWith217AndTheReport) {
  const struct {
    const char* name;
    void (*run)();
  } kCases[] = {
      {"the unwinder meets a damaged frame", [] { RunInAFrameOfItsOwn(RaiseBelowADamagedFrame); }},
      {"a destructor run by the unwinding faults",
       [] {
         try {
           RaiseWithALocalThatFaultsWhenDestroyed();
         } catch (const EProcess&) {
         }
       }},
  };
  for (const auto& scenario : kCases) {
    SCOPED_TRACE(scenario.name);
    EXPECT_EXIT(Unguarded([&] {
                  alarm(60);
                  scenario.run();
                }),
                testing::ExitedWithCode(217), kAccessViolationReport);
  }
}

// --- A stack with no room left ------------------------------------------------------------------

volatile bool g_stop_recursion = false;

NOIPA int RecurseWithoutEnd(int depth) {
  volatile char frame[256];
  frame[0] = static_cast<char>(depth);
  if (g_stop_recursion) return frame[0];
  const int value = RecurseWithoutEnd(depth + 1);
  Barrier();
  return value + frame[0];
}

// The stack overflows into its guard area. The handler runs on a stack of its own, writes the
// report with system calls alone and ends the process: never killed by the signal.
TEST_F(FaultEndTest, StackOverflowEndsWith217AndTheReport) {
  EXPECT_EXIT(Unguarded([] {
                alarm(60);
                g_int_sink = RecurseWithoutEnd(0);
              }),
              testing::ExitedWithCode(217), kAccessViolationReport);
}

// --- A fault while the process ends -------------------------------------------------------------

// The driver caught an error, and a stray write then damaged the caught object: releasing it at
// the normal end faults. The report of that fault reaches standard error, a file here, before the
// process ends with 217.
TEST_F(FaultEndTest, FaultWhileShuttingDownReachesAFileWithItsReport) {
  EXPECT_EXIT(Unguarded([] {
                alarm(60);
                StdErr().SetUp();  // standard error is a file: text collects in the buffer
                try {
                  RunError(2);
                } catch (EInOutError& error) {
                  // The message's text block, right after the object's virtual table pointer.
                  reinterpret_cast<std::uintptr_t*>(&error)[1] = kDamagedFrame;
                }
                Shutdown();
              }),
              testing::ExitedWithCode(217), kAccessViolationReport);
}

// A fault that nothing catches: the report gives the faulting instruction on lines 1 and 3 and
// the return address into the caller first; the exit status is 217.
TEST_F(FaultEndTest, UnhandledFaultIsReportedAtTheFaultingInstruction) {
  // The same call, caught, tells where the child's fault will be.
  try {
    g_int_sink = CallReadThroughNull();
  } catch (const EAccessViolation&) {
  }
  const std::string address = Hex(CurrentRaise().addr);
  const std::string caller = Hex(CurrentRaise().frame[0]);
  EXPECT_EXIT(Unguarded([] {
                alarm(60);
                g_int_sink = CallReadThroughNull();
              }),
              testing::ExitedWithCode(217),
              "^An unhandled exception occurred at \\$" + address +
                  ":\nEAccessViolation: Access violation\n  \\$" + address + "\n  \\$" + caller +
                  "\n(  \\$[0-9A-F]{16}\n)*\n$");
}

// A fault while a raise record is being built (here: the back trace runs into an unreadable page
// of the stack) ends the process at once with 217 and without any report.
[[noreturn]] NOIPA void RaiseWithBackTraceIntoUnreadablePage() {
  constexpr std::size_t kPage = 4096;
  constexpr std::size_t kWords = kPage / sizeof(void*);
  alignas(kPage) void* pages[2 * kWords];
  void** record = &pages[kWords - 2];  // a frame record at the end of the first page
  void** unreadable = &pages[kWords];  // its caller's record at the start of the second
  unreadable[0] = nullptr;
  record[0] = unreadable;
  record[1] = reinterpret_cast<void*>(&RaiseWithBackTraceIntoUnreadablePage);
  if (mprotect(unreadable, kPage, PROT_NONE) != 0) _exit(1);
  Raise(std::make_exception_ptr(EProcess("never reported")), CodeAddress(ReadThroughNull), record);
}

TEST_F(FaultEndTest, FaultWhileBuildingTheRaiseRecordEndsWith217AndNoReport) {
  EXPECT_EXIT(Unguarded([] {
                alarm(60);
                RaiseWithBackTraceIntoUnreadablePage();
              }),
              testing::ExitedWithCode(217), "^$");
}

// A fault while the error for a fault is being built (here the run-time error hook faults, as the
// allocation of the error object would on a corrupted heap) would raise again and fault again
// without end. It ends the process at once with 217 and without any report, not by a signal.
void FaultingErrorProc(int ErrNo, const void* Address, const void* Frame) {
  g_int_sink = *g_null_int;
  ErrorCodeToException(ErrNo, Address, Frame);
}

TEST_F(FaultEndTest, FaultWhileBuildingTheErrorOfAFaultEndsWith217AndNoReport) {
  ErrorProc = FaultingErrorProc;
  EXPECT_EXIT(Unguarded([] {
                alarm(60);
                g_int_sink = CallReadThroughNull();
              }),
              testing::ExitedWithCode(217), "^$");
}

}  // namespace
}  // namespace launcher
