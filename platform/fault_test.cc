// Processor faults that end the process, whatever the processor: a fault that nothing catches is
// reported at the faulting instruction, and a fault while an error is being built ends the
// process with 217 and no report instead of faulting again. The launcher's own handlers are
// installed, which the sanitizers' handlers would fight with, so these run in the plain build
// only, beside the processor's own fault tests.
#include "platform/fault.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <exception>
#include <iterator>
#include <string>

#include "gtest/gtest.h"
#include "platform/errors.h"
#include "platform/process.h"
#include "platform/report.h"
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
