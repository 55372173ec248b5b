#include "platform/report.h"

#include <cxxabi.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/errors.h"
#include "platform/return_address.h"
#include "platform/streams.h"
#include "platform/syscall.h"

namespace launcher {

int ExitCode = 0;
int ExitSignal = 0;

namespace {

struct FreeDeleter {
  void operator()(char* text) const noexcept { std::free(text); }
};

// The readable name of the class of the exception being handled, for errors that are not of
// class Exception: the C++ run-time's demangled name where it gives one, else the name read by
// DemangleClassName, else the raw name.
template <typename Write>
bool WriteForeignClassName(Write&& write) {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type == nullptr) return write("?");
  int status = 0;
  std::unique_ptr<char, FreeDeleter> readable(
      abi::__cxa_demangle(type->name(), nullptr, nullptr, &status));
  if (status == 0 && readable) return write(readable.get());
  char simple[kReadableNameCapacity];
  return write(DemangleClassName(type->name(), simple) ? simple : type->name());
}

void WriteRunErrorReport(const RunErrorRecord& run_error) noexcept {
  TextOutStream& err = StdErr();
  char address[16];
  char code[8];
  const char* code_end = std::to_chars(code, code + sizeof code, run_error.code).ptr;
  FormatAddress(run_error.address, address);
  const std::string_view address_text(address, sizeof address);
  if (!err.WriteLine({"Runtime error ",
                      {code, static_cast<std::size_t>(code_end - code)},
                      " at $",
                      address_text}) ||
      !err.WriteLine({"  $", address_text})) {
    return;
  }
  // One line per caller: at most 9 on a terminal, at most 257 otherwise.
  const void* previous = nullptr;
  const void* frame = run_error.frame;
  for (int lines = 0; frame > previous && FrameOnStack(frame);) {
    const auto* slots = static_cast<const void* const*>(frame);
    const void* caller = slots[0];
    const void* return_address = StripReturnAddress(slots[1]);
    if (return_address == nullptr) break;
    FormatAddress(return_address, address);
    if (!err.WriteLine({"  $", address_text})) return;
    ++lines;
    if (caller == nullptr) break;
    if ((lines > 8 && err.IsTerminal()) || lines > 256) break;
    previous = frame;
    frame = caller;
  }
  err.WriteLine({});
}

// For an error that did not come through Raise (a C++ exception of another kind, thrown by
// `throw`): the raise address is the return address into the code that called __cxa_throw, and
// the back trace the frames outward from there, as the unwinder sees them.
RaiseRecord ForeignRaiseRecord() noexcept {
  const void* trace[kMaxBackTrace + 1];
  const int count = UnwindBackTrace(reinterpret_cast<const void*>(&__cxxabiv1::__cxa_throw), trace,
                                    kMaxBackTrace + 1);
  RaiseRecord record;
  if (count == 0) return record;
  record.addr = trace[0];
  record.frame_count = count - 1;
  std::copy_n(trace + 1, record.frame_count, record.frame);
  return record;
}

// Whether the default action of `signal` writes a core dump where the system lets it (signal(7)).
bool DumpsCore(int signal) noexcept {
  switch (signal) {
    case SIGQUIT:
    case SIGILL:
    case SIGTRAP:
    case SIGABRT:
    case SIGBUS:
    case SIGFPE:
    case SIGSEGV:
    case SIGXCPU:
    case SIGXFSZ:
    case SIGSYS:
      return true;
    default:
      return false;
  }
}

// Set once the process has begun to end on a failure path: the unhandled-error report, or the
// end after a fault that cannot become an error. Every later way out (a fault while the report is
// written, say) goes at once through EndNow: the report never starts over.
bool g_ending = false;

// Ends the process with `status` at once, after handing to the system whatever the launcher has
// written into the standard streams' buffers, on a terminal, file or pipe alike. The flush is
// tried once: a failure inside it ends without a second try.
[[noreturn]] void EndNow(int status) noexcept {
  static bool flushed = false;
  if (!flushed) {
    flushed = true;
    StdOut().Flush();
    StdErr().Flush();
  }
  ::_exit(status);  // exit_group: no exit handlers, nothing else runs
}

// The unhandled-error report's first lines: the address, line 2, which `write_line2` writes (and
// returns whether it could), and the address again as the back trace's first line. Whether all
// were written.
template <typename WriteLine2>
bool WriteReportHead(const void* Addr, WriteLine2&& write_line2) noexcept {
  TextOutStream& err = StdErr();
  char address[16];
  FormatAddress(Addr, address);
  const std::string_view address_text(address, sizeof address);
  return err.WriteLine({"An unhandled exception occurred at $", address_text, ":"}) &&
         write_line2(err) && err.WriteLine({"  $", address_text});
}

// The rest of the back trace after the report's first lines, and the blank line that ends it.
// Stops at the first write that fails.
void WriteReportFrames(int FrameCount, const void* const* Frame) noexcept {
  TextOutStream& err = StdErr();
  char address[16];
  const std::string_view address_text(address, sizeof address);
  for (int i = 0; i < FrameCount; ++i) {
    FormatAddress(Frame[i], address);
    if (!err.WriteLine({"  $", address_text})) return;
  }
  err.WriteLine({});
}

// The whole unhandled-error report. Stops at the first write that fails.
template <typename WriteLine2>
void WriteReport(const void* Addr, int FrameCount, const void* const* Frame,
                 WriteLine2&& write_line2) noexcept {
  if (WriteReportHead(Addr, write_line2)) WriteReportFrames(FrameCount, Frame);
}

// EndWithReport once the process is known not to be ending already.
[[noreturn]] void WriteReportAndEnd(ErrorText text, const void* address, const void* frame,
                                    const void* const* frames, int frame_count) noexcept {
  g_ending = true;
  ExitCode = kRunErrorUnhandled;
  // The first lines go out before the frames are read: a walk that fails leaves them written.
  const bool written = WriteReportHead(address, [&](TextOutStream& err) {
    return err.WriteLine(
        {text.class_name != nullptr ? text.class_name : "Exception", ": ", text.message});
  });
  if (written && StdErr().Flush()) {
    const void* read[kMaxBackTrace];
    if (frame_count < 0) {
      frame_count = CaptureBackTraceChecked(frame, read, kMaxBackTrace);
      frames = read;
    }
    WriteReportFrames(frame_count, frames);
  }
  EndNow(kRunErrorUnhandled);
}

// std::terminate's handler: the error was not caught anywhere, or could not be raised. The stack
// still stands as it was at the raise, since nothing has been unwound.
[[noreturn]] void OnUnhandledError() noexcept {
  // An error raised while an unhandled error is being reported or the process is ending (a fault
  // while the report is written, say) ends the process at once with 217. Nothing more is
  // written: the report never starts over.
  if (g_ending) EndNow(kRunErrorUnhandled);
  if (const AbandonedRaise* abandoned = AbandonedRaiseRecord()) {
    WriteReportAndEnd(abandoned->text, abandoned->addr, abandoned->frame, abandoned->frames,
                      abandoned->frame_count);
  }
  g_ending = true;
  const std::exception_ptr current = std::current_exception();
  const RunErrorRecord* run_error = RecordedRunError();
  if (ExceptProc != nullptr) {
    if (const RaiseRecord* record = RecordOf(current)) {
      ExceptProc(current, record->addr, record->frame_count, record->frame);
    } else if (!current && run_error != nullptr) {
      // A run-time error raised without an object (the run-time error hook was not set).
      RaiseRecord raise;
      raise.frame_count = CaptureBackTrace(run_error->frame, raise.frame, kMaxBackTrace);
      ExceptProc(current, run_error->address, raise.frame_count, raise.frame);
    } else {
      const RaiseRecord foreign = ForeignRaiseRecord();
      ExceptProc(current, foreign.addr, foreign.frame_count, foreign.frame);
    }
    Halt(kRunErrorUnhandled);
  }
  if (run_error == nullptr) {
    RecordRunError(kRunErrorUnhandled, __builtin_return_address(0), __builtin_frame_address(0));
    run_error = RecordedRunError();
  }
  Halt(run_error->code);
}

}  // namespace

bool DemangleClassName(const char* mangled, char (&out)[kReadableNameCapacity]) noexcept {
  static constexpr struct {
    char code;
    const char* name;
  } kBuiltins[] = {{'v', "void"},
                   {'b', "bool"},
                   {'c', "char"},
                   {'a', "signed char"},
                   {'h', "unsigned char"},
                   {'s', "short"},
                   {'t', "unsigned short"},
                   {'i', "int"},
                   {'j', "unsigned int"},
                   {'l', "long"},
                   {'m', "unsigned long"},
                   {'x', "long long"},
                   {'y', "unsigned long long"},
                   {'f', "float"},
                   {'d', "double"},
                   {'e', "long double"}};
  std::string_view rest(mangled);
  std::size_t used = 0;
  const auto put = [&](std::string_view text) {
    if (text.size() >= kReadableNameCapacity - used) return false;
    for (char byte : text) out[used++] = byte;
    out[used] = '\0';
    return true;
  };
  if (rest.size() == 1) {
    for (const auto& builtin : kBuiltins) {
      if (builtin.code == rest[0]) return put(builtin.name);
    }
    return false;
  }
  // A nested name N...E, or a single name; each part is <length><identifier>, "St" is std::.
  const bool nested = !rest.empty() && rest.front() == 'N';
  if (nested) rest.remove_prefix(1);
  bool first = true;
  while (!rest.empty() && !(nested && rest == "E")) {
    std::string_view part;
    if (rest.substr(0, 2) == "St") {
      part = "std";
      rest.remove_prefix(2);
    } else {
      std::size_t length = 0;
      std::size_t digits = 0;
      while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9' && length < 1000) {
        length = length * 10 + static_cast<std::size_t>(rest[digits++] - '0');
      }
      if (digits == 0 || length == 0 || length > rest.size() - digits) return false;
      part = rest.substr(digits, length);
      rest.remove_prefix(digits + length);
    }
    if ((!first && !put("::")) || !put(part)) return false;
    first = false;
  }
  return !first && (nested ? rest == "E" : rest.empty());
}

void ReportUnhandledError(const std::exception_ptr& Obj, const void* Addr, int FrameCount,
                          const void* const* Frame) {
  WriteReport(Addr, FrameCount, Frame, [&](TextOutStream& err) {
    if (!Obj) return err.WriteLine({"Exception object is not a valid class."});
    try {
      std::rethrow_exception(Obj);
    } catch (const Exception& error) {
      return err.WriteLine({error.ClassName(), ": ", error.Message()});
    } catch (...) {
      return WriteForeignClassName([&](const char* name) {
        return err.WriteLine({"Exception object ", name, " is not of class Exception."});
      });
    }
  });
}

void SetUpErrorHooks() {
  CreateErrorObjects();
  ErrorProc = ErrorCodeToException;
  ExceptProc = ReportUnhandledError;
}

void InstallUnhandledErrorHandler() noexcept { std::set_terminate(OnUnhandledError); }

void Shutdown() noexcept {
  static bool shutting_down = false;
  if (shutting_down) EndNow(ExitCode);
  shutting_down = true;
  if (const RunErrorRecord* run_error = RecordedRunError()) WriteRunErrorReport(*run_error);
  StdOut().Flush();
  StdErr().Flush();
  ReleaseErrorObjects();
  if (ExitSignal != 0) EndBySignal(ExitSignal);
  ::_exit(ExitCode);  // exit_group: no exit handlers, nothing else runs
}

void EndBySignal(int signal) noexcept {
  // No core dump of the launcher's own: the one that matters is the killed program's. A process
  // that is not dumpable is never dumped, whatever the core pattern (a file or a program); the
  // core size limit stops what the kernel does not decide itself (an emulator that writes the
  // emulated program's core). Lowering the soft limit is always allowed.
  const bool undumpable = Sys([] { return ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0); }).Ok();
  rlimit core{};
  if (Sys([&] { return ::getrlimit(RLIMIT_CORE, &core); }).Ok()) {
    core.rlim_cur = 0;
    Sys([&] { return ::setrlimit(RLIMIT_CORE, &core); });
  }
  if (undumpable || !DumpsCore(signal)) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    Sys([&] { return ::sigaction(signal, &action, nullptr); });
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    Sys([&] { return ::sigprocmask(SIG_UNBLOCK, &only, nullptr); });
    // A signal that a process sends itself, unblocked, is delivered before the call returns.
    Sys([&] { return ::kill(::getpid(), signal); });
  }
  // The signal did not end the process: its default action does not end one, or it is one of the
  // C library's own, whose action and mask the library keeps.
  ::_exit(128 + signal);
}

void EndWithReport(ErrorText text, const void* address, const void* frame,
                   const void* const* frames, int frame_count) noexcept {
  if (g_ending) EndNow(kRunErrorUnhandled);
  WriteReportAndEnd(text, address, frame, frames, frame_count);
}

void EndWithFaultReport(int code, const void* address, const void* frame) noexcept {
  char unknown[kUnknownMessageSize];
  EndWithReport(RunErrorTextOf(code, unknown), address, frame, nullptr, -1);
}

void Halt(int status) noexcept {
  ExitCode = status > 255 ? 255 : status;
  ExitSignal = 0;
  Shutdown();
}

}  // namespace launcher
