// Errors: run-time error codes mapped to error objects, the raise record (address and back trace),
// the pre-created out-of-memory object, and errors that no handler catches.
#include "platform/errors.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "gtest/gtest.h"
#include "platform/byte_string.h"
#include "platform/process.h"
#include "tests/support/error_testing.h"

namespace launcher {
namespace {

using ErrorsTest = ErrorHooksTest;

// --- Run-time error codes -----------------------------------------------------------------------

struct CodeCase {
  int code;
  const char* class_name;
  const char* message;
};

const CodeCase kCodeCases[] = {
    {1, "EOutOfMemory", "Out of memory"},
    {203, "EOutOfMemory", "Out of memory"},
    {204, "EInvalidPointer", "Invalid pointer operation"},
    {200, "EDivByZero", "Division by zero"},
    {205, "EOverflow", "Floating point overflow"},
    {206, "EUnderflow", "Floating point underflow"},
    {207, "EInvalidOp", "Invalid floating point operation"},
    {208, "EZeroDivide", "Floating point division by zero"},
    {216, "EAccessViolation", "Access violation"},
    {217, "EControlC", "Control-C hit"},
    {218, "EPrivilege", "Privileged instruction"},
    {2, "EInOutError", "File not found"},
    {3, "EInOutError", "Invalid filename"},
    {4, "EInOutError", "Too many open files"},
    {5, "EInOutError", "Access denied"},
    {6, "EInOutError", "Invalid file handle"},
    {15, "EInOutError", "Invalid drive specified"},
    {100, "EInOutError", "Read past end of file"},
    {101, "EInOutError", "Disk Full"},
    {102, "EInOutError", "File not assigned"},
    {103, "EInOutError", "File not open"},
    {104, "EInOutError", "File not open for input"},
    {105, "EInOutError", "File not open for output"},
    {106, "EInOutError", "Invalid input"},
    {0, "EInOutError", "Unknown Run-Time error : 000"},
    {7, "EInOutError", "Unknown Run-Time error : 007"},
    {16, "EInOutError", "Unknown Run-Time error : 016"},
    {107, "EInOutError", "Unknown Run-Time error : 107"},
    {219, "EInOutError", "Unknown Run-Time error : 219"},
    {1000, "EInOutError", "Unknown Run-Time error : 1000"},
};

// Every code becomes its error, raised at the given address with the back trace starting at the
// given frame; a file error carries its code and clears the pending one.
TEST_F(ErrorsTest, RunTimeErrorCodesBecomeTheirErrors) {
  FrameRecord chain[4];
  LinkChain(chain, 4);
  for (const CodeCase& row : kCodeCases) {
    SCOPED_TRACE(testing::Message() << "code " << row.code);
    InOutRes = 106;
    std::string class_name = "(nothing raised)";
    std::string message;
    int error_code = -1;
    try {
      HandleRunError(row.code, At(0xC0DE), &chain[0]);
    } catch (const EInOutError& error) {
      class_name = error.ClassName();
      message = error.Message();
      error_code = error.ErrorCode();
    } catch (const Exception& error) {
      class_name = error.ClassName();
      message = error.Message();
    }
    EXPECT_EQ(class_name, row.class_name);
    EXPECT_EQ(message, row.message);
    const bool file_error = class_name == "EInOutError";
    if (file_error) {
      EXPECT_EQ(error_code, row.code);
      EXPECT_EQ(InOutRes, 0);
    }
    const RaiseRecord& raise = CurrentRaise();
    EXPECT_EQ(raise.addr, At(0xC0DE));
    ASSERT_EQ(raise.frame_count, 3);
    EXPECT_EQ(raise.frame[0], At(0x1000));
    EXPECT_EQ(raise.frame[2], At(0x1002));
  }
  InOutRes = 0;
}

// --- The pre-created out-of-memory object -------------------------------------------------------

const void* CaughtOutOfMemory(void (*fail)()) {
  try {
    fail();
  } catch (const EOutOfMemory& error) {
    EXPECT_EQ(error.Message(), "Out of memory");
    return &error;
  } catch (const Exception& error) {
    ADD_FAILURE() << "raised " << error.ClassName();
  }
  return nullptr;
}

const char kSourceByte[1] = {'x'};
volatile std::size_t g_impossible_size = std::size_t{1} << 62;  // more than the address space
char* volatile g_block = nullptr;

void RunTimeError203() { HandleRunError(203, At(0xC0DE), nullptr); }
void RunTimeError1() { HandleRunError(1, At(0xC0DE), nullptr); }
void ImpossibleNew() { g_block = new char[g_impossible_size]; }
void ImpossibleStringGrowth() {
  ByteString text("x");
  text.Append(kSourceByte, g_impossible_size);
}
void StringSizeBeyondAnyMemory() {
  ByteString text("x");
  text.Append(kSourceByte, static_cast<std::size_t>(-1));
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAllocatorReportsImpossibleSizes = true;  // the sanitizer's allocator stops there
#else
constexpr bool kAllocatorReportsImpossibleSizes = false;
#endif

// Out of memory anywhere raises the one object created at start-up, again and again.
TEST_F(ErrorsTest, OutOfMemoryRaisesThePreCreatedObjectEveryTime) {
  const void* object = CaughtOutOfMemory(RunTimeError203);
  ASSERT_NE(object, nullptr);
  const struct {
    const char* name;
    void (*fail)();
    bool needs_allocator_failure;
  } kWays[] = {
      {"run-time error 203", RunTimeError203, false},
      {"run-time error 1", RunTimeError1, false},
      {"string size beyond any memory", StringSizeBeyondAnyMemory, false},
      {"failed new", ImpossibleNew, true},
      {"failed string growth", ImpossibleStringGrowth, true},
  };
  for (const auto& way : kWays) {
    if (way.needs_allocator_failure && kAllocatorReportsImpossibleSizes) continue;
    SCOPED_TRACE(way.name);
    for (int round = 0; round < 2; ++round) EXPECT_EQ(CaughtOutOfMemory(way.fail), object);
  }
}

TEST_F(ErrorsTest, InvalidPointerRaisesThePreCreatedObjectEveryTime) {
  const void* first = nullptr;
  for (int round = 0; round < 2; ++round) {
    try {
      HandleRunError(204, At(0xC0DE), nullptr);
    } catch (const EInvalidPointer& error) {
      if (round == 0) first = &error;
      EXPECT_EQ(&error, first);
    }
  }
  EXPECT_NE(first, nullptr);
}

// --- The back trace -----------------------------------------------------------------------------

TEST(CaptureBackTraceTest, FollowsTheChainOfFrameRecordsOutward) {
  constexpr int kCapacity = kMaxBackTrace;
  FrameRecord chain[24];
  const void* out[kCapacity];

  LinkChain(chain, 24);
  ASSERT_EQ(CaptureBackTrace(&chain[0], out, kCapacity), kCapacity) << "at most 16";
  for (int i = 0; i < kCapacity; ++i) EXPECT_EQ(out[i], At(0x1000 + static_cast<unsigned>(i)));

  LinkChain(chain, 5);
  EXPECT_EQ(CaptureBackTrace(&chain[0], out, kCapacity), 4)
      << "a record without a caller ends the chain, unstored";

  LinkChain(chain, 24);
  chain[3].return_address = nullptr;
  EXPECT_EQ(CaptureBackTrace(&chain[0], out, kCapacity), 3) << "a null return address ends it";

  LinkChain(chain, 24);
  chain[2].caller = &chain[1];
  EXPECT_EQ(CaptureBackTrace(&chain[0], out, kCapacity), 3)
      << "a caller's record that does not lie above ends it after its return address";

  static FrameRecord off_stack[2] = {{&off_stack[1], At(0x1000)}, {nullptr, At(0x1001)}};
  EXPECT_EQ(CaptureBackTrace(&off_stack[0], out, kCapacity), 0) << "not on the stack";
  LinkChain(chain, 24);
  chain[1].caller = &off_stack[0];
  EXPECT_EQ(CaptureBackTrace(&chain[0], out, kCapacity), 2) << "leaves the stack";

  const auto* misaligned =
      reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(&chain[0]) + 4);
  EXPECT_EQ(CaptureBackTrace(misaligned, out, kCapacity), 0) << "misaligned";
  EXPECT_EQ(CaptureBackTrace(nullptr, out, kCapacity), 0);
}

const void* volatile g_return_address = nullptr;

NOIPA void RaiseProcessError() {
  g_return_address = __builtin_return_address(0);
  RaiseError<EProcess>("raised");
}

// An error raised by code records the raising function's address and starts its back trace with
// the return address into that function's caller.
TEST_F(ErrorsTest, RaiseErrorRecordsTheRaisingFunctionAndItsCallers) {
  try {
    RaiseProcessError();
  } catch (const EProcess&) {
  }
  const RaiseRecord& raise = CurrentRaise();
  // The raise address is the return address of the raising call, which may be the raising
  // function's last instruction: the instruction before it belongs to the function.
  EXPECT_EQ(FunctionContaining(static_cast<const char*>(raise.addr) - 1),
            reinterpret_cast<const void*>(&RaiseProcessError));
  ASSERT_GE(raise.frame_count, 1);
  EXPECT_EQ(raise.frame[0], g_return_address);
}

// A chain of calls deeper than the back trace: exactly 16 return addresses, innermost first.
void (*volatile g_descend)(int) = nullptr;
const void* volatile g_deepest_return = nullptr;

NOIPA void Descend(int depth) {
  if (depth == 0) {
    g_deepest_return = __builtin_return_address(0);
    RaiseError<EProcess>("deep");
  }
  g_descend(depth - 1);
  Barrier();
}

TEST_F(ErrorsTest, DeepCallChainGivesSixteenReturnAddresses) {
  g_descend = Descend;
  try {
    Descend(24);
  } catch (const EProcess&) {
  }
  const RaiseRecord raise = CurrentRaise();
  ASSERT_EQ(raise.frame_count, kMaxBackTrace);
  for (const void* address : raise.frame) EXPECT_EQ(address, g_deepest_return);

  // Unhandled, the same raise gives the report with exactly those 16 lines, and exit status 217.
  std::string report = "An unhandled exception occurred at $" + Hex(raise.addr) +
                       ":\nEProcess: deep\n  $" + Hex(raise.addr) + "\n";
  for (int i = 0; i < kMaxBackTrace; ++i) report += "  $" + Hex(g_deepest_return) + "\n";
  report += "\n";
  EXPECT_EXIT(Unguarded([] {
                alarm(60);
                InstallUnhandledErrorHandler();
                Descend(24);
              }),
              testing::ExitedWithCode(217), Exactly(report));
}

// --- Errors that no handler catches -------------------------------------------------------------

// A clean-up that catches the error, deals with an error of its own on the way and passes the
// first one on: the report still gives the first raise's address and back trace.
NOIPA void PassOnAfterAnErrorOfItsOwn() {
  FrameRecord chain[2];
  LinkChain(chain, 2);
  try {
    Raise(std::make_exception_ptr(EProcess("first")), {"EProcess", "first"}, At(0xF1), &chain[0]);
  } catch (...) {
    try {
      Raise(std::make_exception_ptr(EInOutError("second", 5)), {"EInOutError", "second"}, At(0x5EC),
            nullptr);
    } catch (const EInOutError&) {
    }
    throw;
  }
}

TEST_F(ErrorsTest, ErrorPassedOnByACleanUpKeepsItsRaiseRecord) {
  EXPECT_EXIT(Unguarded([] {
                alarm(60);
                InstallUnhandledErrorHandler();
                PassOnAfterAnErrorOfItsOwn();
              }),
              testing::ExitedWithCode(217),
              Exactly("An unhandled exception occurred at $00000000000000F1:\n"
                      "EProcess: first\n"
                      "  $00000000000000F1\n"
                      "  $0000000000001000\n"
                      "\n"));
}

}  // namespace
}  // namespace launcher
