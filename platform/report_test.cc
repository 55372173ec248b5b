// The failure report and the way out of the process: the unhandled-error report byte for byte,
// the run-time error report of the fallback path, exit statuses, and a report on a standard error
// that cannot be written.
#include "platform/report.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeinfo>

#include "gtest/gtest.h"
#include "platform/errors.h"
#include "platform/process.h"
#include "platform/streams.h"
#include "tests/support/error_testing.h"

namespace launcher {
namespace {

using ReportTest = ErrorHooksTest;

std::string ReadAll(int fd) {
  std::string text;
  char block[4096];
  off_t offset = 0;
  for (;;) {
    const ssize_t got = pread(fd, block, sizeof block, offset);
    if (got <= 0) break;
    text.append(block, static_cast<std::size_t>(got));
    offset += got;
  }
  return text;
}

// In a child: drops whatever text an earlier test left in the error stream (to /dev/null), then
// decides the stream's terminal flag for what descriptor 2 is now.
void FreshStdErr() {
  const int saved = dup(2);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 2);
  StdErr().Flush();
  dup2(saved, 2);
  close(saved);
  close(null);
  StdErr().SetUp();
}

// What `write` sends to the error stream, collected through descriptor 2 moved to a memory file
// for the time.
std::string CapturedStdErr(const std::function<void()>& write) {
  EXPECT_FALSE(StdErr().Failed());
  StdErr().Flush();
  const int saved = dup(2);
  const int file = memfd_create("stderr", 0);
  dup2(file, 2);
  write();
  StdErr().Flush();
  dup2(saved, 2);
  close(saved);
  std::string text = ReadAll(file);
  close(file);
  return text;
}

// --- The unhandled-error report -----------------------------------------------------------------

LAUNCHER_ERROR_CLASS(ETestFailure, EProcess);

TEST_F(ReportTest, UnhandledErrorReportByteForByte) {
  const std::string message_bytes("a\0b\xFF\r\t", 6);
  const struct {
    const char* name;
    std::exception_ptr object;
    std::string line2;
  } kForms[] = {
      {"an Exception", std::make_exception_ptr(EProcess("Executable not found: \"java\"")),
       "EProcess: Executable not found: \"java\""},
      {"Exception itself", std::make_exception_ptr(Exception("plain")), "Exception: plain"},
      {"a class derived further", std::make_exception_ptr(ETestFailure("derived")),
       "ETestFailure: derived"},
      {"an empty message", std::make_exception_ptr(EAccessViolation("")), "EAccessViolation: "},
      {"any bytes, as stored",
       std::make_exception_ptr(
           EProcess(std::string_view(message_bytes.data(), message_bytes.size()))),
       "EProcess: " + message_bytes},
      {"a standard library error", std::make_exception_ptr(std::runtime_error("not ours")),
       "Exception object std::runtime_error is not of class Exception."},
      {"a value of another type", std::make_exception_ptr(42),
       "Exception object int is not of class Exception."},
      {"no object", std::exception_ptr(), "Exception object is not a valid class."},
  };
  const void* const frames[] = {At(0x5581E2B36C76), At(0x1), At(0xFFFFFFFFFFFFFFFF)};
  for (const auto& form : kForms) {
    SCOPED_TRACE(form.name);
    EXPECT_EQ(
        CapturedStdErr([&] { ReportUnhandledError(form.object, At(0x5581E2B3A3B0), 3, frames); }),
        "An unhandled exception occurred at $00005581E2B3A3B0:\n" + form.line2 +
            "\n"
            "  $00005581E2B3A3B0\n"
            "  $00005581E2B36C76\n"
            "  $0000000000000001\n"
            "  $FFFFFFFFFFFFFFFF\n"
            "\n");
  }
}

TEST_F(ReportTest, UnhandledErrorReportGivesEveryCapturedReturnAddress) {
  const void* frames[kMaxBackTrace];
  for (int i = 0; i < kMaxBackTrace; ++i) frames[i] = At(0xA0 + static_cast<unsigned>(i));
  const auto object = std::make_exception_ptr(EProcess("x"));
  for (const int count : {0, 1, kMaxBackTrace}) {
    SCOPED_TRACE(count);
    std::string expected =
        "An unhandled exception occurred at $0000000000000000:\n"
        "EProcess: x\n"
        "  $0000000000000000\n";
    for (int i = 0; i < count; ++i) expected += "  $" + Hex(frames[i]) + "\n";
    expected += "\n";
    EXPECT_EQ(CapturedStdErr([&] { ReportUnhandledError(object, nullptr, count, frames); }),
              expected);
  }
}

// An error that nothing catches: the report on standard error (complete once the process has
// ended, though the stream is not a terminal), nothing on standard output, exit status 217.
TEST_F(ReportTest, UnhandledErrorEndsWithTheReportAndExitStatus217) {
  const int out = memfd_create("stdout", 0);
  ASSERT_GE(out, 0);
  EXPECT_EXIT(Unguarded([out] {
                alarm(60);
                dup2(out, 1);
                FreshStdErr();
                InstallUnhandledErrorHandler();
                FrameRecord chain[3];
                LinkChain(chain, 3);
                Raise(std::make_exception_ptr(EProcess("Executable not found: \"java\"")),
                      {"EProcess", "Executable not found: \"java\""}, At(0x5581E2B3A3B0),
                      &chain[0]);
              }),
              testing::ExitedWithCode(217),
              Exactly("An unhandled exception occurred at $00005581E2B3A3B0:\n"
                      "EProcess: Executable not found: \"java\"\n"
                      "  $00005581E2B3A3B0\n"
                      "  $0000000000001000\n"
                      "  $0000000000001001\n"
                      "\n"));
  EXPECT_EQ(ReadAll(out), "");
  close(out);
}

// A C++ exception of another kind, thrown and not caught: the same report with the class named,
// raised at the return address of the throw, exit status 217.
const void* volatile g_return_address = nullptr;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizerOwnsThrow = true;  // the address sanitizer intercepts __cxa_throw
#else
constexpr bool kSanitizerOwnsThrow = false;
#endif

// Cold as a whole, so that the throw is not split off into a part of its own.
__attribute__((cold, noinline, noipa)) void ThrowStandardError() {
  g_return_address = __builtin_return_address(0);
  throw std::runtime_error("not ours");
}

NOIPA void CallThrowStandardError() {
  ThrowStandardError();
  __asm__ volatile("" ::: "memory");
}

TEST_F(ReportTest, UnhandledForeignExceptionIsReportedWithItsClassName) {
  try {
    CallThrowStandardError();  // the same call as in the child, to learn its return address
  } catch (const std::runtime_error&) {
  }
  const void* const caller = g_return_address;
  const int err = memfd_create("stderr", 0);
  ASSERT_GE(err, 0);
  EXPECT_EXIT(Unguarded([err] {
                alarm(60);
                dup2(err, 2);
                FreshStdErr();
                InstallUnhandledErrorHandler();
                CallThrowStandardError();
              }),
              testing::ExitedWithCode(217), "^$");
  const std::string report = ReadAll(err);
  close(err);

  const std::string line2 = "Exception object std::runtime_error is not of class Exception.\n";
  const std::string head = "An unhandled exception occurred at $";
  ASSERT_EQ(report.compare(0, head.size(), head), 0) << report;
  const std::string address_text = report.substr(head.size(), 16);
  ASSERT_EQ(report.compare(head.size() + 16, 2 + line2.size(), ":\n" + line2), 0) << report;
  EXPECT_EQ(report.substr(report.size() - 2), "\n\n") << report;
  if (kSanitizerOwnsThrow) return;  // the throw is found by the address of __cxa_throw

  // The address is that of the throw, then comes the return address into its caller.
  const auto address = At(std::stoull(address_text, nullptr, 16));
  ASSERT_NE(address, nullptr) << report;
  EXPECT_EQ(FunctionContaining(static_cast<const char*>(address) - 1),
            reinterpret_cast<const void*>(&ThrowStandardError))
      << report;
  const std::string expected_start =
      head + address_text + ":\n" + line2 + "  $" + address_text + "\n  $" + Hex(caller) + "\n";
  EXPECT_EQ(report.compare(0, expected_start.size(), expected_start), 0) << report;
}

// --- The fallback path, before start-up has set the hooks ---------------------------------------

// A run-time error before the hooks are set ends the process with the code as its exit status
// (255 if larger) and the run-time error report: one line per caller, the last one included.
TEST(RunTimeErrorReportTest, RunTimeErrorBeforeTheHooksEndsWithItsCode) {
  const struct {
    int code;
    int exit_status;
  } kCases[] = {{203, 203}, {2, 2}, {255, 255}, {300, 255}};
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.code);
    const int code = row.code;
    EXPECT_EXIT(Unguarded([code] {
                  alarm(60);
                  FreshStdErr();
                  ErrorProc = nullptr;
                  ExceptProc = nullptr;
                  InstallUnhandledErrorHandler();
                  FrameRecord chain[3];
                  LinkChain(chain, 3);
                  HandleRunError(code, At(0xC0DE), &chain[0]);
                }),
                testing::ExitedWithCode(row.exit_status),
                Exactly("Runtime error " + std::to_string(row.code) +
                        " at $000000000000C0DE\n"
                        "  $000000000000C0DE\n"
                        "  $0000000000001000\n"
                        "  $0000000000001001\n"
                        "  $0000000000001002\n"
                        "\n"));
  }
}

TEST(RunTimeErrorReportTest, UnhandledErrorBeforeTheHooksIsRunTimeError217) {
  EXPECT_EXIT(
      Unguarded([] {
        alarm(60);
        FreshStdErr();
        ErrorProc = nullptr;
        ExceptProc = nullptr;
        InstallUnhandledErrorHandler();
        RaiseError<EProcess>("not reported as such");
      }),
      testing::ExitedWithCode(217),
      "^Runtime error 217 at \\$[0-9A-F]{16}\n  \\$[0-9A-F]{16}\n(  \\$[0-9A-F]{16}\n)+\n$");
}

// The list of callers stops after 9 lines on a terminal, after 257 otherwise.
TEST(RunTimeErrorReportTest, CallerLinesAreLimitedToNineOnATerminal) {
  int master = -1;
  int terminal = -1;
  ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
  termios attributes{};
  ASSERT_EQ(tcgetattr(terminal, &attributes), 0);
  cfmakeraw(&attributes);  // line feeds stay line feeds
  ASSERT_EQ(tcsetattr(terminal, TCSANOW, &attributes), 0);
  const int file = memfd_create("stderr", 0);
  ASSERT_GE(file, 0);

  const auto expected = [](int lines) {
    std::string text = "Runtime error 203 at $000000000000C0DE\n  $000000000000C0DE\n";
    for (int i = 0; i < lines; ++i)
      text += "  $" + Hex(At(0x1000 + static_cast<unsigned>(i))) + "\n";
    return text + "\n";
  };
  for (const int target : {terminal, file}) {
    EXPECT_EXIT(Unguarded([target] {
                  alarm(60);
                  dup2(target, 2);
                  FreshStdErr();
                  ErrorProc = nullptr;
                  ExceptProc = nullptr;
                  InstallUnhandledErrorHandler();
                  FrameRecord chain[300];
                  LinkChain(chain, 300);
                  HandleRunError(203, At(0xC0DE), &chain[0]);
                }),
                testing::ExitedWithCode(203), "^$");
  }
  // The terminal passes the text on to its other side a moment later: read (boundedly) until
  // the whole report is there.
  const std::string from_terminal_expected = expected(9);
  std::string from_terminal;
  char block[4096];
  while (from_terminal.size() < from_terminal_expected.size()) {
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, 10000) != 1) break;
    const ssize_t got = read(master, block, sizeof block);
    if (got <= 0) break;
    from_terminal.append(block, static_cast<std::size_t>(got));
  }
  EXPECT_EQ(from_terminal, expected(9));
  EXPECT_EQ(ReadAll(file), expected(257));
  close(master);
  close(terminal);
  close(file);
}

// --- A standard error that cannot be written ----------------------------------------------------

// Descriptor 2 closed, or a pipe nobody reads with SIGPIPE ignored: the report stops at the first
// failed write, and the process still ends, with 217.
TEST_F(ReportTest, ReportOnAnUnwritableStandardErrorStillEndsWith217) {
  const struct {
    const char* name;
    void (*break_stderr)();
  } kCases[] = {
      {"closed", [] { close(2); }},
      {"pipe without reader",
       [] {
         int ends[2];
         if (pipe(ends) != 0) _exit(1);
         close(ends[0]);
         dup2(ends[1], 2);
         signal(SIGPIPE, SIG_IGN);
       }},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    const auto break_stderr = row.break_stderr;
    EXPECT_EXIT(Unguarded([break_stderr] {
                  alarm(60);
                  FreshStdErr();
                  break_stderr();
                  InstallUnhandledErrorHandler();
                  RaiseError<EProcess>("cannot be told");
                }),
                testing::ExitedWithCode(217), "^$");
  }
}

// A standard error that takes the first 100 bytes and then refuses (a file at its size limit):
// exactly those 100 bytes of the report arrive, nothing is written again, the process ends.
TEST_F(ReportTest, ReportStopsWhereStandardErrorFailsAndIsNotStartedAgain) {
  char path[] = "/tmp/report_test_XXXXXX";
  const int file = mkstemp(path);
  ASSERT_GE(file, 0);
  unlink(path);
  std::string full =
      "An unhandled exception occurred at $000000000000ABCD:\n"
      "EProcess: too long for the file\n"
      "  $000000000000ABCD\n";
  for (unsigned i = 0; i < kMaxBackTrace; ++i) full += "  $" + Hex(At(0x1000 + i)) + "\n";
  full += "\n";
  ASSERT_GT(full.size(), TextOutStream::kBufferSize);

  EXPECT_EXIT(Unguarded([file] {
                alarm(60);
                dup2(file, 2);
                FreshStdErr();
                const rlimit limit{100, 100};
                setrlimit(RLIMIT_FSIZE, &limit);
                signal(SIGXFSZ, SIG_IGN);
                InstallUnhandledErrorHandler();
                FrameRecord chain[20];
                LinkChain(chain, 20);
                Raise(std::make_exception_ptr(EProcess("too long for the file")),
                      {"EProcess", "too long for the file"}, At(0xABCD), &chain[0]);
              }),
              testing::ExitedWithCode(217), "^$");
  EXPECT_EQ(ReadAll(file), full.substr(0, 100));
  close(file);
}

// --- Shutdown -----------------------------------------------------------------------------------

// Shutdown hands over what the streams hold, standard output first, and ends with the exit
// status set before (0 after a normal run).
TEST(ShutdownTest, FlushesStandardOutputThenStandardErrorAndEnds) {
  EXPECT_EXIT(Unguarded([] {
                alarm(60);
                dup2(2, 1);
                FreshStdErr();
                StdOut().SetUp();
                StdErr().Write({"error text, written first; "});
                StdOut().Write({"output text, written second; "});
                Shutdown();
              }),
              testing::ExitedWithCode(0),
              Exactly("output text, written second; error text, written first; "));
}

}  // namespace
}  // namespace launcher

namespace launcher {
namespace {

// The allocation-free reading of class names that the report falls back on where the C++
// run-time gives no demangled name (the release launcher carries no full demangler).
TEST(DemangleClassNameTest, ReadsTheCommonFormsAndRefusesTheRest) {
  const struct {
    const char* mangled;
    const char* readable;  // nullptr: not read
  } kCases[] = {
      {typeid(int).name(), "int"},
      {typeid(unsigned long).name(), "unsigned long"},
      {typeid(std::runtime_error).name(), "std::runtime_error"},
      {typeid(std::bad_alloc).name(), "std::bad_alloc"},
      {"N5outer5InnerE", "outer::Inner"},
      {"NSt3__110error_codeE", "std::__1::error_code"},
      {"5Error", "Error"},
      {"PKc", nullptr},             // a pointer type
      {"N5outerE5extra", nullptr},  // text after the nested name
      {"N5outer", nullptr},         // no end
      {"9short", nullptr},          // a length beyond the text
      {"", nullptr},
      {"z", nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.mangled);
    char out[kReadableNameCapacity];
    const bool read = DemangleClassName(c.mangled, out);
    EXPECT_EQ(read, c.readable != nullptr);
    if (read && c.readable != nullptr) {
      EXPECT_STREQ(out, c.readable);
    }
  }
  char out[kReadableNameCapacity];
  const std::string huge = "N3xxx300" + std::string(300, 'y') + "E";
  EXPECT_FALSE(DemangleClassName(huge.c_str(), out)) << "longer than the buffer";
}

}  // namespace
}  // namespace launcher
