#include "platform/report.h"

#include <cxxabi.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/errors.h"
#include "platform/streams.h"

namespace launcher {

int ExitCode = 0;

namespace {

struct RunErrorRecord {
  std::uint16_t code = 0;
  const void* address = nullptr;
  const void* frame = nullptr;
  bool recorded = false;
};
RunErrorRecord g_run_error;

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

void WriteRunErrorReport() noexcept {
  TextOutStream& err = StdErr();
  char address[16];
  char code[8];
  const char* code_end = std::to_chars(code, code + sizeof code, g_run_error.code).ptr;
  FormatAddress(g_run_error.address, address);
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
  const void* frame = g_run_error.frame;
  for (int lines = 0; frame > previous && FrameOnStack(frame);) {
    const auto* slots = static_cast<const void* const*>(frame);
    const void* caller = slots[0];
    const void* return_address = slots[1];
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
  TextOutStream& err = StdErr();
  char address[16];
  FormatAddress(Addr, address);
  const std::string_view address_text(address, sizeof address);
  if (!err.WriteLine({"An unhandled exception occurred at $", address_text, ":"})) return;

  bool written = false;
  if (!Obj) {
    written = err.WriteLine({"Exception object is not a valid class."});
  } else {
    try {
      std::rethrow_exception(Obj);
    } catch (const Exception& error) {
      written = err.WriteLine({error.ClassName(), ": ", error.Message().view()});
    } catch (...) {
      written = WriteForeignClassName([&](const char* name) {
        return err.WriteLine({"Exception object ", name, " is not of class Exception."});
      });
    }
  }
  if (!written || !err.WriteLine({"  $", address_text})) return;
  for (int i = 0; i < FrameCount; ++i) {
    FormatAddress(Frame[i], address);
    if (!err.WriteLine({"  $", address_text})) return;
  }
  err.WriteLine({});
}

void RecordRunError(int code, const void* address, const void* frame) noexcept {
  g_run_error = {static_cast<std::uint16_t>(code), address, frame, true};
}

bool RunErrorRecorded() noexcept { return g_run_error.recorded; }

int RecordedRunErrorCode() noexcept { return g_run_error.code; }

void Shutdown() noexcept {
  if (g_run_error.recorded) WriteRunErrorReport();
  StdOut().Flush();
  StdErr().Flush();
  ReleaseErrorObjects();
  ::_exit(ExitCode);  // exit_group: no exit handlers, nothing else runs
}

void Halt(int status) noexcept {
  ExitCode = status > 255 ? 255 : status;
  Shutdown();
}

}  // namespace launcher
