// Errors: the error classes, raising with a raise record (address and back trace), numeric
// run-time errors and the two process-wide hooks that start-up sets.
//
// Every error is a C++ exception of a class derived from Exception. Raising goes through Raise,
// which records where the error was raised before the exception leaves; an error that no handler
// catches ends in std::terminate at the raise point (the stack is not unwound), where the
// unhandled-error hook reports it.
#pragma once

#include <cstdint>
#include <exception>
#include <utility>

#include "platform/byte_string.h"

namespace launcher {

#define LAUNCHER_NOINLINE __attribute__((noinline))

// An immutable text shared by the copies of one error object: raising copies the object, and a
// message that quotes a very long value is then never copied. The launcher is single-threaded.
class SharedText {
 public:
  explicit SharedText(ByteString text) : block_(new Block{1, std::move(text)}) {}
  SharedText(const SharedText& other) noexcept : block_(other.block_) { ++block_->references; }
  SharedText& operator=(const SharedText& other) noexcept {
    SharedText copy(other);
    std::swap(block_, copy.block_);
    return *this;
  }
  ~SharedText() {
    if (--block_->references == 0) delete block_;
  }
  const ByteString& Text() const noexcept { return block_->text; }

 private:
  struct Block {
    std::size_t references;
    ByteString text;
  };
  Block* block_;
};

class Exception {
 public:
  explicit Exception(ByteString message) : message_(std::move(message)) {}
  virtual ~Exception() = default;

  virtual const char* ClassName() const noexcept { return "Exception"; }
  const ByteString& Message() const noexcept { return message_.Text(); }

 private:
  SharedText message_;
};

// Declares an error class `Name` derived from `Base` that reports `Name` as its class name.
#define LAUNCHER_ERROR_CLASS(Name, Base)                              \
  class Name : public Base {                                          \
   public:                                                            \
    using Base::Base;                                                 \
    const char* ClassName() const noexcept override { return #Name; } \
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
  EInOutError(ByteString message, int error_code)
      : Exception(std::move(message)), error_code_(error_code) {}
  const char* ClassName() const noexcept override { return "EInOutError"; }
  int ErrorCode() const noexcept { return error_code_; }

 private:
  int error_code_;
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

using TExceptProc = void (*)(const std::exception_ptr& Obj, const void* Addr, int FrameCount,
                             const void* const* Frame);
using TErrorProc = void (*)(int ErrNo, const void* Address, const void* Frame);

// The file layer's pending error code: 0 when no failure is pending.
extern std::uint16_t InOutRes;

// The hooks; empty until start-up sets them, never changed afterwards.
extern TExceptProc ExceptProc;
extern TErrorProc ErrorProc;

// Raises `error` as though raised at code address `addr`, with the back trace starting at the
// stack frame `frame`. A raise that starts while another is still building its record ends the
// process with exit status 217 and no report.
[[noreturn]] void Raise(const std::exception_ptr& error, const void* addr, const void* frame);

// Raises a new error of class E, built from `args`, at the caller's return address.
template <typename E, typename... Args>
[[noreturn]] LAUNCHER_NOINLINE void RaiseError(Args&&... args) {
  Raise(std::make_exception_ptr(E(std::forward<Args>(args)...)), __builtin_return_address(0),
        *static_cast<void* const*>(__builtin_frame_address(0)));
}

// The single entry for every numeric run-time error (file layer, memory, processor faults).
// Calls the run-time error hook when it is set; before that, records the error and ends the
// process with the code as its exit status. Never returns.
[[noreturn]] void HandleRunError(int ErrNo, const void* Address, const void* Frame);

// Raises run-time error `code` at the caller's return address, from the caller's frame.
[[noreturn]] LAUNCHER_NOINLINE void RunError(int code);

// The run-time error hook: maps a code to an error object and raises it.
[[noreturn]] void ErrorCodeToException(int ErrNo, const void* Address, const void* Frame);

// Raises the EInOutError for a file-layer failure `code` (the file-error table's message).
[[noreturn]] void RaiseInOutError(int code, const void* Address, const void* Frame);

// Creates the two pre-created error objects and sets both hooks. Start-up calls it once.
void SetUpErrorHooks();

// Drops the pre-created error objects and the last raise record (part of shutdown).
void ReleaseErrorObjects() noexcept;

// The innermost raise record.
const RaiseRecord& CurrentRaise() noexcept;

// Collects at most `capacity` return addresses by following the chain of frame pointers from
// `frame` outward. Stops at a null return address or caller frame, and at a next frame that does
// not lie above the previous one or lies outside the stack. Returns the count.
int CaptureBackTrace(const void* frame, const void** out, int capacity) noexcept;

// Whether `frame` may be followed: inside the stack of this thread, between the caller's own
// frame and the top of the stack, and aligned.
bool FrameOnStack(const void* frame) noexcept;

// Installs the handler that std::terminate calls for an error that no handler catches.
void InstallUnhandledErrorHandler() noexcept;

}  // namespace launcher
