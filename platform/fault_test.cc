// Processor faults, whatever the processor: the back trace of a fault, and the faults that end the
// process. A fault that nothing catches is reported at the faulting instruction; a fault while an
// error is being built ends the process with 217 and no report instead of faulting again; a fault
// that the unwinder cannot pass, a stack overflow and a fault while the process ends are reported
// and end with 217, never by the signal and never without the report. The launcher's own handlers
// are installed, which the sanitizers' handlers would fight with, so these run in the plain build
// only, beside the processor's own fault tests.
#include "platform/fault.h"

#include <malloc.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/errors.h"
#include "platform/process.h"
#include "platform/report.h"
#include "platform/streams.h"
#include "tests/support/emulation.h"
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

// A stray write can make a saved frame pointer point at its own frame record: the chain of frames
// then turns in a circle, the unwinder finds the same frame again and again and never reaches a
// handler or the end of the stack, and no fault occurs to stop it. Every raise must end: one that
// cannot be unwound ends with the report of its own error, written from the frame records without
// the unwinder; a fault there ends with the fault's report.
#define LINK_SAVED_FRAME_POINTER_TO_ITSELF() \
  (*static_cast<void**>(__builtin_frame_address(0)) = __builtin_frame_address(0))

NOIPA void RaiseBelowACyclicFrame() {
  LINK_SAVED_FRAME_POINTER_TO_ITSELF();
  RaiseEProcess();
  Barrier();
}

NOIPA void FaultBelowACyclicFrame() {
  LINK_SAVED_FRAME_POINTER_TO_ITSELF();
  g_int_sink = ReadThroughNull();
  Barrier();
}

TEST_F(FaultEndTest, RaiseOrFaultBelowACyclicFrameEndsWith217AndItsReport) {
  const struct {
    const char* name;
    void (*run)();
    const char* line2;
  } kCases[] = {
      {"a raise", [] { RunInAFrameOfItsOwn(RaiseBelowACyclicFrame); },
       "EProcess: passes a damaged frame"},
      {"a fault", [] { RunInAFrameOfItsOwn(FaultBelowACyclicFrame); },
       "EAccessViolation: Access violation"},
  };
  for (const auto& scenario : kCases) {
    SCOPED_TRACE(scenario.name);
    EXPECT_EXIT(Unguarded([&] {
                  alarm(10);
                  scenario.run();
                }),
                testing::ExitedWithCode(217),
                "^An unhandled exception occurred at \\$[0-9A-F]{16}:\n" +
                    std::string(scenario.line2) +
                    "\n  \\$[0-9A-F]{16}\n(  \\$[0-9A-F]{16}\n){1,16}\n$");
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

// --- A raise that cannot be completed --------------------------------------------------------
//
// A fault while an error is being built (its raise record, or its error object) cannot become an
// error of its own: building that would meet the same damage again. The raise is given up, and
// the process ends with 217 and the report of the error that was being built, written without
// allocating anything (the heap may be what is damaged) and without the unwinder.

// A fault while a raise record is being built: its back trace runs into an unreadable page of the
// stack. The report is the raise's own, with the back trace as far as it can be read.
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
  Raise(std::make_exception_ptr(EProcess("cut short")), {"EProcess", "cut short"},
        CodeAddress(ReadThroughNull), record);
}

TEST_F(FaultEndTest, FaultWhileBuildingTheRaiseRecordEndsWith217AndTheRaisesReport) {
  const std::string address = Hex(CodeAddress(ReadThroughNull));
  EXPECT_EXIT(
      Unguarded([] {
        alarm(60);
        RaiseWithBackTraceIntoUnreadablePage();
      }),
      testing::ExitedWithCode(217),
      Exactly("An unhandled exception occurred at $" + address + ":\nEProcess: cut short\n  $" +
              address + "\n  $" + Hex(CodeAddress(RaiseWithBackTraceIntoUnreadablePage)) + "\n\n"));
}

// A fault while the error for a fault is being built (here the run-time error hook faults, as the
// allocation of the error object would on a corrupted heap) would raise again and fault again
// without end. The report is the first fault's, at its instruction, with its back trace.
void FaultingErrorProc(int ErrNo, const void* Address, const void* Frame) {
  g_int_sink = *g_null_int;
  ErrorCodeToException(ErrNo, Address, Frame);
}

TEST_F(FaultEndTest, FaultWhileBuildingTheErrorOfAFaultEndsWith217AndTheFirstFaultsReport) {
  try {
    g_int_sink = CallReadThroughNull();
  } catch (const EAccessViolation&) {
  }
  const std::string address = Hex(CurrentRaise().addr);
  const std::string caller = Hex(CurrentRaise().frame[0]);
  ErrorProc = FaultingErrorProc;
  EXPECT_EXIT(Unguarded([] {
                alarm(60);
                g_int_sink = CallReadThroughNull();
              }),
              testing::ExitedWithCode(217),
              "^An unhandled exception occurred at \\$" + address +
                  ":\nEAccessViolation: Access violation\n  \\$" + address + "\n  \\$" + caller +
                  "\n(  \\$[0-9A-F]{16}\n)*\n$");
}

// The C library's allocator keeps, for each small size, a list of free blocks at the start of its
// heap (glibc's per-thread cache: 64 counts of 16 bits, then 64 list heads). Each list is made to
// hold one block at an address that cannot be read, as a stray write over those heads would: the
// next small allocation faults inside malloc, and so does the allocation of that fault's error
// object. The report is the first fault's.
constexpr std::size_t kCacheLists = 64;
constexpr std::uintptr_t kCacheChunkSize = 2 * sizeof(void*) + kCacheLists * 2 + kCacheLists * 8;

// The C library's per-thread cache of free blocks, or null where it is not where glibc puts it.
void* FreeBlockCache() {
  std::free(std::malloc(1));  // the cache exists once the thread has allocated
  const auto top = reinterpret_cast<std::uintptr_t>(sbrk(0));
  const std::uintptr_t start = top - mallinfo2().arena;  // the heap's first chunk
  const std::uintptr_t size_field = *reinterpret_cast<const std::uintptr_t*>(start + sizeof(void*));
  if (size_field != (kCacheChunkSize | 1)) return nullptr;  // 1: the chunk before is in use
  return reinterpret_cast<void*>(start + 2 * sizeof(void*));
}

void* volatile g_block = nullptr;

NOIPA void AllocateOnADamagedHeap(void* cache) {
  auto* counts = static_cast<std::uint16_t*>(cache);
  auto* heads = reinterpret_cast<std::uintptr_t*>(counts + kCacheLists);
  for (std::size_t i = 0; i < kCacheLists; ++i) {
    counts[i] = 1;
    heads[i] = kDamagedFrame;  // unmapped, and aligned as a block must be
  }
  g_block = ::operator new(24);
  Barrier();
}

TEST_F(FaultEndTest, FaultInsideMallocWhoseErrorFaultsAgainEndsWith217AndTheReport) {
  void* cache = FreeBlockCache();
  if (cache == nullptr) GTEST_SKIP() << "the C library's allocator is not glibc's as known here";
  EXPECT_EXIT(Unguarded([cache] {
                alarm(60);
                AllocateOnADamagedHeap(cache);
              }),
              testing::ExitedWithCode(217), kAccessViolationReport);
}

// --- A frame record the report cannot read ------------------------------------------------------
//
// A page can be mapped and still not readable: one mapped without access, or some pages of the
// system's [vvar] area, which raise SIGBUS when read. A fault whose frame pointer holds such an
// address makes the unwinder fault; the report that follows reads the frame records only where
// the system says they can be read, and writes its first lines before it reads any.

// Faults with the frame pointer at `frame`.
NOIPA int FaultWithFramePointerAt(std::uintptr_t frame) {
  int value;
#if defined(__x86_64__)
  __asm__ volatile(
      "mov %%rbp, %%r11\n\t"
      "mov %1, %%rbp\n\t"
      "movl (%2), %0\n\t"
      "mov %%r11, %%rbp"
      : "=r"(value)
      : "r"(frame), "r"(g_null_int)
      : "r11", "memory");
#elif defined(__aarch64__)
  __asm__ volatile(
      "mov x9, x29\n\t"
      "mov x29, %1\n\t"
      "ldr %w0, [%2]\n\t"
      "mov x29, x9"
      : "=r"(value)
      : "r"(frame), "r"(g_null_int)
      : "x9", "memory");
#endif
  return value;
}

// `pages`, followed by those of the system's [vvar] area if this process has one.
std::vector<std::uintptr_t> WithVvarPages(std::vector<std::uintptr_t> pages) {
  std::FILE* maps = std::fopen("/proc/self/maps", "r");
  if (maps == nullptr) return pages;
  char line[512];
  while (std::fgets(line, sizeof line, maps) != nullptr) {
    unsigned long start = 0;
    unsigned long end = 0;
    if (std::strstr(line, "[vvar") == nullptr || std::sscanf(line, "%lx-%lx", &start, &end) != 2) {
      continue;
    }
    for (unsigned long page = start; page < end; page += 4096) pages.push_back(page);
  }
  std::fclose(maps);
  return pages;
}

TEST_F(FaultEndTest, FaultWithAFramePointerIntoAnUnreadablePageEndsWith217AndTheReport) {
  void* inaccessible = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(inaccessible, MAP_FAILED);
  for (const std::uintptr_t page :
       WithVvarPages({reinterpret_cast<std::uintptr_t>(inaccessible)})) {
    SCOPED_TRACE(Hex(At(page)));
    EXPECT_EXIT(Unguarded([page] {
                  alarm(60);
                  g_int_sink = FaultWithFramePointerAt(page);
                }),
                testing::ExitedWithCode(217), kAccessViolationReport);
  }
  munmap(inaccessible, 4096);
}

// --- An access next to the stack pointer --------------------------------------------------------
//
// An access that finds no memory just below the stack pointer is one of the stack itself (a
// call, a push, a new frame) that found no stack there: there is no room to raise the error on.
// One above the stack pointer lies in frames that are there already: it is an ordinary bad access
// (past the end of a local array in the outermost frame, say), raised as any other.
TEST(StackExhaustedTest, OnlyAnAccessAtOrBelowTheStackPointerExhaustsTheStack) {
  const char marker = 0;
  const auto sp = reinterpret_cast<std::uintptr_t>(&marker) & ~std::uintptr_t{15};
  const struct {
    const char* name;
    std::uintptr_t address;
    bool exhausted;
  } kCases[] = {
      {"at the stack pointer", sp, true},
      {"a push below it", sp - sizeof(void*), true},
      {"a new frame of 60 KiB below it", sp - 60 * 1024, true},
      {"1 KiB above it", sp + 1024, false},
      {"60 KiB above it", sp + 60 * 1024, false},
      {"far away", sp - 1024 * 1024, false},
  };
  for (const auto& access : kCases) {
    SCOPED_TRACE(access.name);
    siginfo_t info{};
    info.si_signo = SIGSEGV;
    info.si_code = SEGV_MAPERR;
    info.si_addr = reinterpret_cast<void*>(access.address);
    EXPECT_EQ(StackExhausted(SIGSEGV, info, sp), access.exhausted);
  }
}

// --- Aborts
// ---------------------------------------------------------------------------------------
//
// The C library ends the process with abort() when it finds memory damage (a smashed stack
// canary, a buffer overflow that _FORTIFY_SOURCE checks, a damaged heap), after writing its own
// message line. A SIGABRT that the process raises itself ends in the report and 217, like a fault;
// one sent by another process keeps the disposition the process inherited.
extern "C" [[noreturn]] void __stack_chk_fail();
extern "C" [[noreturn]] void __chk_fail();

void* volatile g_freed_twice = nullptr;

const std::string kAbortReport =
    "An unhandled exception occurred at \\$[0-9A-F]{16}:\nEExternal: Aborted\n"
    "  \\$[0-9A-F]{16}\n(  \\$[0-9A-F]{16}\n){0,16}\n$";

TEST_F(FaultEndTest, AbortOfTheProcessItselfEndsWith217AndTheReport) {
  const struct {
    const char* name;
    void (*run)();
    const char* library_line;  // what the C library writes before it aborts
  } kCases[] = {
      {"abort()", [] { std::abort(); }, ""},
      {"a smashed stack canary", [] { __stack_chk_fail(); },
       "*** stack smashing detected ***: terminated\n"},
      {"a buffer overflow that _FORTIFY_SOURCE found", [] { __chk_fail(); },
       "*** buffer overflow detected ***: terminated\n"},
      {"a block freed twice",
       [] {
         g_freed_twice = std::malloc(40);
         std::free(g_freed_twice);
         std::free(g_freed_twice);
       },
       "free(): double free detected in tcache 2\n"},
      {"SIGABRT sent by kill to itself", [] { kill(getpid(), SIGABRT); }, ""},
  };
  for (const auto& scenario : kCases) {
    SCOPED_TRACE(scenario.name);
    std::string pattern = Exactly(scenario.library_line);
    pattern.pop_back();  // the pattern's "$"
    EXPECT_EXIT(Unguarded([&] {
                  alarm(60);
                  scenario.run();
                }),
                testing::ExitedWithCode(217), pattern + kAbortReport);
  }
}

// In a child: ends once another process has sent it SIGABRT, with exit status 0 if it is still
// there then.
[[noreturn]] void AbortedByAnotherProcess() {
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  const pid_t self = getpid();
  const pid_t sender = fork();
  if (sender == 0) {
    kill(self, SIGABRT);
    _exit(0);
  }
  waitpid(sender, nullptr, 0);  // the signal is handled before the wait returns
  _exit(0);
}

TEST_F(FaultEndTest, AbortSentByAnotherProcessKeepsTheInheritedDisposition) {
  // (qemu-user says on standard error that its program was killed by the signal.)
  EXPECT_EXIT(AbortedByAnotherProcess(), testing::KilledBySignal(SIGABRT),
              e2e::kUnderEmulation ? "uncaught target signal 6" : "^$");
  EXPECT_EXIT(
      {
        signal(SIGABRT, SIG_IGN);  // as inherited
        InstallFaultSignalHandlers();
        AbortedByAnotherProcess();
      },
      testing::ExitedWithCode(0), "^$");
}

}  // namespace
}  // namespace launcher
