// Errors: the error classes, raising with a raise record (address and back trace), numeric
// run-time errors and the two process-wide hooks.
//
// This is the bottom of the launcher's error handling: it decides what is raised and records
// where, but never writes anything and never ends the process itself. Every error is a C++
// exception of a class derived from Exception. Raising goes through Raise, which records where
// the error was raised before the exception leaves. An error that no handler catches ends in
// std::terminate at the raise point (the stack is not unwound); so does an error whose raise has
// to be given up (see AbandonedRaiseRecord). The handler of std::terminate belongs to the layer
// above (report.h): it writes the report and ends the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string_view>

namespace launcher {

#define LAUNCHER_NOINLINE __attribute__((noinline))

// An immutable text shared by the copies of one error object: raising copies the object, and a
// message that quotes a very long value is never copied again. Built in one allocation from its
// pieces. The launcher is single-threaded.
class SharedText {
 public:
  explicit SharedText(std::initializer_list<std::string_view> pieces);
  SharedText(const SharedText& other) noexcept : block_(other.block_) { ++block_->references; }
  SharedText& operator=(const SharedText& other) noexcept;
  ~SharedText();

  std::string_view Text() const noexcept {
    return {reinterpret_cast<const char*>(block_ + 1), block_->size};
  }

 private:
  struct Block {
    std::size_t references;
    std::size_t size;
    // followed by `size` bytes of text
  };
  Block* block_;
};

class Exception {
 public:
  explicit Exception(std::string_view message) : message_({message}) {}
  // The message is the pieces one after another.
  explicit Exception(std::initializer_list<std::string_view> message) : message_(message) {}
  virtual ~Exception() = default;

  static constexpr char kClassName[] = "Exception";
  virtual const char* ClassName() const noexcept { return kClassName; }
  std::string_view Message() const noexcept { return message_.Text(); }

 private:
  SharedText message_;
};

// Declares an error class `Name` derived from `Base` that reports `Name` as its class name.
#define LAUNCHER_ERROR_CLASS(Name, Base)                                   \
  class Name : public Base {                                               \
   public:                                                                 \
    using Base::Base;                                                      \
    static constexpr char kClassName[] = #Name;                            \
    const char* ClassName() const noexcept override { return kClassName; } \
  }

LAUNCHER_ERROR_CLASS(EExternal, Exception);
LAUNCHER_ERROR_CLASS(EIntError, EExternal);
LAUNCHER_ERROR_CLASS(EDivByZero, EIntError);
LAUNCHER_ERROR_CLASS(EMathError, EExternal);
LAUNCHER_ERROR_CLASS(EInvalidOp, EMathError);
LAUNCHER_ERROR_CLASS(EZeroDivide, EMathError);
LAUNCHER_ERROR_CLASS(EOverflow, EMathError);
LAUNCHER_ERROR_CLASS(EUnderflow, EMathError);
LAUNCHER_ERROR_CLASS(EAccessViolation, EExternal);
LAUNCHER_ERROR_CLASS(EPrivilege, EExternal);
LAUNCHER_ERROR_CLASS(EControlC, EExternal);
LAUNCHER_ERROR_CLASS(EHeapMemoryError, Exception);
LAUNCHER_ERROR_CLASS(EOutOfMemory, EHeapMemoryError);
LAUNCHER_ERROR_CLASS(EInvalidPointer, EHeapMemoryError);

// A failed file operation; carries the numeric code of the failure.
class EInOutError : public Exception {
 public:
  EInOutError(std::string_view message, int error_code)
      : Exception(message), error_code_(error_code) {}
  static constexpr char kClassName[] = "EInOutError";
  const char* ClassName() const noexcept override { return kClassName; }
  int ErrorCode() const noexcept { return error_code_; }

 private:
  int error_code_;
};

// What line 2 of the report says of an error: its class name and its message.
struct ErrorText {
  const char* class_name = nullptr;
  std::string_view message;
};

// Run-time error codes that the launcher itself produces.
inline constexpr int kRunErrorOutOfMemory = 203;
inline constexpr int kRunErrorInvalidPointer = 204;
inline constexpr int kRunErrorAccessViolation = 216;
inline constexpr int kRunErrorUnhandled = 217;

inline constexpr int kMaxBackTrace = 16;

// The record of the innermost raise: what was raised, where, and the return addresses outward
// from there, innermost first.
struct RaiseRecord {
  std::exception_ptr object;
  const void* addr = nullptr;
  int frame_count = 0;
  const void* frame[kMaxBackTrace] = {};
};

// The run-time error record of the fallback path: a run-time error that arrives before start-up
// has set the run-time error hook is recorded here and ends the process with its code.
struct RunErrorRecord {
  std::uint16_t code = 0;
  const void* address = nullptr;
  const void* frame = nullptr;
};

using TExceptProc = void (*)(const std::exception_ptr& Obj, const void* Addr, int FrameCount,
                             const void* const* Frame);
using TErrorProc = void (*)(int ErrNo, const void* Address, const void* Frame);

// The file layer's pending error code: 0 when no failure is pending.
extern std::uint16_t InOutRes;

// The hooks; empty until start-up sets them, never changed afterwards.
extern TExceptProc ExceptProc;
extern TErrorProc ErrorProc;

// Raises `error`, whose report would say `text`, as though raised at code address `addr`, with
// the back trace starting at the stack frame `frame`. `text` must stay valid while the error
// lives (the error's own class name and message do).
//
// Before the error leaves, the raise walks the frames that the unwinder will pass, as the unwinder
// finds them: no caller's frame may lie below its callee's (nor more than two in a row at the same
// place, see FrameOrder in errors.cc), and the chain must end within kLongestFrameChain frames.
// A chain that turns in a circle (a stray write made a saved frame pointer point at its own frame
// record, say) would keep the unwinder searching for a handler without end, and no fault would
// stop it: such a raise is given up (see AbandonedRaiseRecord). So is a raise that starts while
// another is still building its record.
[[noreturn]] void Raise(const std::exception_ptr& error, ErrorText text, const void* addr,
                        const void* frame);

// More frames than any real chain of the launcher's holds by far: a chain that goes on past this
// runs through memory that holds no stack.
inline constexpr int kLongestFrameChain = 1 << 16;

// Raises a new error of class E with `message` at the caller's return address. The message may
// be given in pieces, which are joined into the error's one text.
template <typename E>
[[noreturn]] LAUNCHER_NOINLINE void RaiseError(std::initializer_list<std::string_view> message) {
  const E error(message);
  Raise(std::make_exception_ptr(error), {E::kClassName, error.Message()},
        __builtin_return_address(0), *static_cast<void* const*>(__builtin_frame_address(0)));
}
template <typename E>
[[noreturn]] LAUNCHER_NOINLINE void RaiseError(std::string_view message) {
  const E error(message);
  Raise(std::make_exception_ptr(error), {E::kClassName, error.Message()},
        __builtin_return_address(0), *static_cast<void* const*>(__builtin_frame_address(0)));
}

// The single entry for every numeric run-time error (file layer, memory, processor faults).
// Calls the run-time error hook, which raises the error for the code. Before start-up has set
// the hook, no handler of the launcher can be active: the error is recorded (RecordedRunError)
// and the process ends with the code as its exit status, through std::terminate. Never returns.
[[noreturn]] void HandleRunError(int ErrNo, const void* Address, const void* Frame);

// Whether an error is being built: from the entry of a run-time error (HandleRunError) or of a
// raise to the end of its raise record, while its error object is chosen or made and its back
// trace gathered. A fault then cannot become an error of its own: building that would meet the
// same damage (a corrupted heap, a damaged stack) and fault again, without end.
bool BuildingError() noexcept;

// Gives up the error being built (see BuildingError): records it as the abandoned raise, with
// what is known of it (its class and message, the address it was raised at, and the frame its
// back trace starts at, or the back trace handed to it for a fault), and ends in std::terminate,
// whose handler writes its report without allocating anything or unwinding (report.h).
// Signal-safe up to std::terminate.
[[noreturn]] void AbandonRaise() noexcept;

// Raises run-time error `code` at the caller's return address, from the caller's frame.
[[noreturn]] LAUNCHER_NOINLINE void RunError(int code);

// The run-time error hook: maps a code to an error object and raises it.
[[noreturn]] void ErrorCodeToException(int ErrNo, const void* Address, const void* Frame);

// The class name and message of the error that ErrorCodeToException raises for `code`, for a
// report that must be written without raising anything. The message of an EInOutError whose code
// has no entry in the file-error table ("Unknown Run-Time error : NNN") is written into `unknown`.
// Signal-safe.
inline constexpr std::size_t kUnknownMessageSize = 40;
ErrorText RunErrorTextOf(int code, char (&unknown)[kUnknownMessageSize]) noexcept;

// Raises the EInOutError for a file-layer failure `code` (the file-error table's message).
[[noreturn]] void RaiseInOutError(int code, const void* Address, const void* Frame);

// Creates the two pre-created error objects (out of memory, invalid pointer).
void CreateErrorObjects();

// Drops the pre-created error objects and the raise records (part of shutdown).
void ReleaseErrorObjects() noexcept;

// The innermost raise record.
const RaiseRecord& CurrentRaise() noexcept;

// The raise record of the error `object`, among the latest raises; null when it was not raised
// through Raise (a C++ exception thrown by `throw`, say).
const RaiseRecord* RecordOf(const std::exception_ptr& object) noexcept;

// Whether an error is on its way from its raise to a handler: while its raise walks the frames the
// unwinder will pass, and raised and not yet caught, while the unwinder looks for a handler and
// while the clean-ups (destructors) of the frames it leaves run. A fault then cannot become an
// error of its own.
bool ErrorInFlight() noexcept;

// Hands the next raise at code address `addr` a back trace gathered elsewhere (by the unwinder,
// for a fault): that raise takes `frames[0..count)` instead of following frame records. Every
// raise forgets it, whatever its address.
void SetNextBackTrace(const void* addr, const void* const* frames, int count) noexcept;

// A raise that had to be given up: a fault arrived while its error was being built, another raise
// started while it was building its record, or the frames it would unwind do not form a chain
// that ends. Its report is written from this record alone.
struct AbandonedRaise {
  ErrorText text;
  const void* addr = nullptr;
  // The back trace: `frame_count` return addresses in `frames` when it is known already (0 or
  // more); otherwise (-1) the frame records from `frame` outward, as far as they can be read.
  const void* frame = nullptr;
  int frame_count = -1;
  const void* frames[kMaxBackTrace] = {};
};

// The raise that had to be given up, or null.
const AbandonedRaise* AbandonedRaiseRecord() noexcept;

// The run-time error recorded by the fallback path, or null.
const RunErrorRecord* RecordedRunError() noexcept;
// Records run-time error `code` at `address` with the back trace from `frame`.
void RecordRunError(int code, const void* address, const void* frame) noexcept;

// Collects at most `capacity` return addresses by following the chain of frame pointers from
// `frame` outward. Stops at a null return address or caller frame, and at a next frame that does
// not lie above the previous one or lies outside the stack. Returns the count.
int CaptureBackTrace(const void* frame, const void** out, int capacity) noexcept;

// Whether `frame` may be followed: inside the stack of this thread, between the caller's own
// frame and the top of the stack, and aligned.
bool FrameOnStack(const void* frame) noexcept;

// CaptureBackTrace for a stack that may be damaged or that the caller is not running on (a
// signal handler on its alternate stack): a frame record is read only when it lies below the top
// of the stack and the system says it can be read, which it answers without a signal (see
// MemoryReader). Signal-safe; allocates nothing.
int CaptureBackTraceChecked(const void* frame, const void** out, int capacity) noexcept;

// The code addresses of the frames outward from the innermost active frame of the function that
// begins at `function`, as the unwinder finds them through the call-frame information: first the
// address at which that frame's caller stands (for a call, the return address), then that of
// each caller in turn. At most `capacity`; returns the count, 0 when no such frame is active. The
// walk stops before a frame out of order (see Raise).
int UnwindBackTrace(const void* function, const void** out, int capacity) noexcept;

// The same for the active frame that stands at code address `address` exactly (the instruction
// that a signal interrupted, found through the signal's frame): the code addresses of its callers
// outward.
int UnwindBackTraceAt(const void* address, const void** out, int capacity) noexcept;

}  // namespace launcher
