#include "platform/errors.h"

#include <unwind.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <limits>
#include <utility>

#include "platform/return_address.h"
#include "platform/syscall.h"

extern "C" void* __libc_stack_end;  // glibc: the top of the main thread's stack

namespace launcher {

TExceptProc ExceptProc = nullptr;
TErrorProc ErrorProc = nullptr;
std::uint16_t InOutRes = 0;

SharedText::SharedText(std::initializer_list<std::string_view> pieces) {
  std::size_t size = 0;
  for (std::string_view piece : pieces) {
    if (piece.size() > std::numeric_limits<std::size_t>::max() - sizeof(Block) - size) {
      RunError(kRunErrorOutOfMemory);
    }
    size += piece.size();
  }
  block_ = static_cast<Block*>(::operator new(sizeof(Block) + size));
  block_->references = 1;
  block_->size = size;
  char* text = reinterpret_cast<char*>(block_ + 1);
  for (std::string_view piece : pieces) text += piece.copy(text, piece.size());
}

SharedText& SharedText::operator=(const SharedText& other) noexcept {
  SharedText copy(other);
  std::swap(block_, copy.block_);
  return *this;
}

SharedText::~SharedText() {
  if (--block_->references == 0) ::operator delete(block_);
}

namespace {

// The records of the latest raises, the newest at g_newest. An error that passes on is found by
// its object: a clean-up that caught it and dealt with errors of its own before passing it on
// has left newer records behind, and the error keeps the address and back trace of its own raise.
constexpr int kKeptRaises = 8;
RaiseRecord g_records[kKeptRaises];
int g_newest = 0;

// From the start of a raise's record to its end.
bool g_building_record = false;
// From the entry of a run-time error to the end of its raise record: while its error object is
// being chosen or made.
volatile bool g_building_run_error = false;
bool g_abandoned = false;

RunErrorRecord g_run_error;
bool g_run_error_recorded = false;

RaiseRecord& NextRecord() noexcept { return g_records[(g_newest + 1) % kKeptRaises]; }

[[noreturn]] void AbandonRaise() noexcept {
  g_abandoned = true;
  std::terminate();
}

// The argument of the rethrow in flight (see RethrowWithoutCleanUp); kept until the next raise.
std::exception_ptr g_rethrown;

// std::rethrow_exception(error), without a clean-up in the calling frame.
//
// std::rethrow_exception takes its argument by value. Under the Itanium C++ ABI such an argument
// of a class with a non-trivial copy constructor is a copy that the caller makes and owns and
// passes by its address; its destructor is then a clean-up of the caller's frame, and the
// unwinder must stop there on the way out and start afresh (_Unwind_Resume): as many
// instructions as the rest of the raise, paid on every launch without init.ini. Here the copy is
// a static object instead, passed by its address the same way, and released by the next raise or
// by shutdown: the call is the one the compiler would make, with no clean-up left behind it.
[[noreturn]] void RethrowWithoutCleanUp(const std::exception_ptr& error) {
  g_rethrown = error;
  using RethrowByAddress = void (*)(std::exception_ptr*);
  const auto rethrow =
      reinterpret_cast<RethrowByAddress>(reinterpret_cast<void (*)()>(&std::rethrow_exception));
  rethrow(&g_rethrown);
  __builtin_unreachable();  // std::rethrow_exception does not return
}

// Raised again on every out-of-memory and invalid-pointer error: raising them needs nothing new.
std::exception_ptr g_out_of_memory;
std::exception_ptr g_invalid_pointer;

template <typename E>
[[noreturn]] void RaiseNew(const char* message, const void* address, const void* frame) {
  Raise(std::make_exception_ptr(E(message)), address, frame);
}

constexpr char kOutOfMemoryMessage[] = "Out of memory";
constexpr char kInvalidPointerMessage[] = "Invalid pointer operation";

// The table of error kinds: the codes that become a new error object of their own class.
struct ErrorKind {
  int code;
  const char* class_name;
  const char* message;
  void (*raise)(const char* message, const void* address, const void* frame);
};

template <typename E>
constexpr ErrorKind Kind(int code, const char* message) {
  return {code, E::kClassName, message, &RaiseNew<E>};
}

constexpr ErrorKind kErrorKinds[] = {
    Kind<EDivByZero>(200, "Division by zero"),
    Kind<EOverflow>(205, "Floating point overflow"),
    Kind<EUnderflow>(206, "Floating point underflow"),
    Kind<EInvalidOp>(207, "Invalid floating point operation"),
    Kind<EZeroDivide>(208, "Floating point division by zero"),
    Kind<EAccessViolation>(kRunErrorAccessViolation, "Access violation"),
    Kind<EControlC>(217, "Control-C hit"),
    Kind<EPrivilege>(218, "Privileged instruction"),
};

const ErrorKind* FindErrorKind(int code) noexcept {
  for (const ErrorKind& kind : kErrorKinds) {
    if (kind.code == code) return &kind;
  }
  return nullptr;
}

// The messages of EInOutError by code.
constexpr struct {
  int code;
  const char* message;
} kFileErrors[] = {
    {2, "File not found"},
    {3, "Invalid filename"},
    {4, "Too many open files"},
    {5, "Access denied"},
    {6, "Invalid file handle"},
    {15, "Invalid drive specified"},
    {100, "Read past end of file"},
    {101, "Disk Full"},
    {102, "File not assigned"},
    {103, "File not open"},
    {104, "File not open for input"},
    {105, "File not open for output"},
    {106, "Invalid input"},
};

const char* FileErrorMessage(int code) noexcept {
  for (const auto& entry : kFileErrors) {
    if (entry.code == code) return entry.message;
  }
  return nullptr;
}

// The back trace that SetNextBackTrace hands to the next raise.
struct GivenBackTrace {
  bool set = false;
  const void* addr = nullptr;
  int count = 0;
  const void* frames[kMaxBackTrace] = {};
};
GivenBackTrace g_given_back_trace;

// Follows frame records from `frame` outward while `usable` accepts the next record.
template <typename Usable>
int WalkFrameRecords(const void* frame, const void** out, int capacity, Usable usable) noexcept {
  int count = 0;
  while (count < capacity && usable(frame)) {
    const auto* slots = static_cast<const void* const*>(frame);
    const void* caller = slots[0];
    const void* return_address = slots[1];
    if (caller == nullptr || return_address == nullptr) break;
    out[count++] = StripReturnAddress(return_address);
    if (caller <= frame) break;
    frame = caller;
  }
  return count;
}

struct UnwindWalk {
  const void* function;
  const void** out;
  int capacity;
  int count = 0;
  bool found = false;
};

_Unwind_Reason_Code CollectUnwoundFrame(_Unwind_Context* context, void* argument) {
  auto* walk = static_cast<UnwindWalk*>(argument);
  const auto ip = reinterpret_cast<const void*>(_Unwind_GetIP(context));
  if (ip == nullptr) return _URC_END_OF_STACK;
  if (!walk->found) {
    walk->found = reinterpret_cast<const void*>(_Unwind_GetRegionStart(context)) == walk->function;
    return _URC_NO_REASON;
  }
  walk->out[walk->count++] = StripReturnAddress(ip);
  return walk->count < walk->capacity ? _URC_NO_REASON : _URC_END_OF_STACK;
}

}  // namespace

bool FrameOnStack(const void* frame) noexcept {
  const char marker = 0;
  const auto* low = &marker;
  const auto* high = static_cast<const char*>(__libc_stack_end);
  const auto* at = static_cast<const char*>(frame);
  return at > low && at + 2 * sizeof(void*) <= high &&
         reinterpret_cast<std::uintptr_t>(frame) % alignof(void*) == 0;
}

int CaptureBackTrace(const void* frame, const void** out, int capacity) noexcept {
  return WalkFrameRecords(frame, out, capacity, FrameOnStack);
}

int CaptureBackTraceChecked(const void* frame, const void** out, int capacity) noexcept {
  return WalkFrameRecords(frame, out, capacity, [](const void* record) {
    const auto* at = static_cast<const char*>(record);
    return at + 2 * sizeof(void*) <= static_cast<const char*>(__libc_stack_end) &&
           reinterpret_cast<std::uintptr_t>(record) % alignof(void*) == 0 &&
           MemoryMapped(record, 2 * sizeof(void*));
  });
}

int UnwindBackTrace(const void* function, const void** out, int capacity) noexcept {
  if (capacity <= 0) return 0;
  UnwindWalk walk{function, out, capacity};
  _Unwind_Backtrace(CollectUnwoundFrame, &walk);
  return walk.count;
}

void Raise(const std::exception_ptr& error, const void* addr, const void* frame) {
  if (g_building_record) AbandonRaise();
  g_building_record = true;
  RaiseRecord& record = NextRecord();
  record.object = error;  // may be the object already there (see RaiseInOutError)
  record.addr = addr;
  if (g_given_back_trace.set && g_given_back_trace.addr == addr) {
    record.frame_count = g_given_back_trace.count;
    std::copy_n(g_given_back_trace.frames, record.frame_count, record.frame);
  } else {
    record.frame_count = CaptureBackTrace(frame, record.frame, kMaxBackTrace);
  }
  g_given_back_trace.set = false;
  g_newest = (g_newest + 1) % kKeptRaises;
  g_building_record = false;
  g_building_run_error = false;
  RethrowWithoutCleanUp(error);
}

void HandleRunError(int ErrNo, const void* Address, const void* Frame) {
  g_building_run_error = true;
  if (ErrorProc != nullptr) ErrorProc(ErrNo, Address, Frame);
  // Before start-up has set the hooks no handler of the launcher is active: the process ends
  // with the code, and the report of the fallback path.
  g_building_run_error = false;
  RecordRunError(ErrNo, Address, Frame);
  std::terminate();
}

void HandleFault(int ErrNo, const void* Address, const void* Frame) {
  if (g_building_run_error) AbandonRaise();
  HandleRunError(ErrNo, Address, Frame);
}

void RunError(int code) {
  HandleRunError(code, __builtin_return_address(0),
                 *static_cast<void* const*>(__builtin_frame_address(0)));
}

void ErrorCodeToException(int ErrNo, const void* Address, const void* Frame) {
  if (ErrNo == 1 || ErrNo == kRunErrorOutOfMemory) Raise(g_out_of_memory, Address, Frame);
  if (ErrNo == kRunErrorInvalidPointer) Raise(g_invalid_pointer, Address, Frame);
  if (const ErrorKind* kind = FindErrorKind(ErrNo)) {
    kind->raise(kind->message, Address, Frame);
    __builtin_unreachable();
  }
  RaiseInOutError(ErrNo, Address, Frame);
}

RunErrorText RunErrorTextOf(int code) noexcept {
  if (code == 1 || code == kRunErrorOutOfMemory) {
    return {EOutOfMemory::kClassName, kOutOfMemoryMessage};
  }
  if (code == kRunErrorInvalidPointer) return {EInvalidPointer::kClassName, kInvalidPointerMessage};
  if (const ErrorKind* kind = FindErrorKind(code)) return {kind->class_name, kind->message};
  return {EInOutError::kClassName, FileErrorMessage(code)};
}

void RaiseInOutError(int code, const void* Address, const void* Frame) {
  char unknown[40];
  const char* message = FileErrorMessage(code);
  if (message == nullptr) {
    std::snprintf(unknown, sizeof unknown, "Unknown Run-Time error : %3.3d", code);
    message = unknown;
  }
  InOutRes = 0;
  // The new object goes straight into the next record, so that no temporary of this frame outlives
  // the statement: the raise then passes through here without a clean-up to run. A missing
  // init.ini raises this on every launch, and every clean-up costs the unwinder a fresh start.
  std::exception_ptr& object = NextRecord().object;
  object = std::make_exception_ptr(EInOutError(message, code));
  Raise(object, Address, Frame);
}

void CreateErrorObjects() {
  g_out_of_memory = std::make_exception_ptr(EOutOfMemory(kOutOfMemoryMessage));
  g_invalid_pointer = std::make_exception_ptr(EInvalidPointer(kInvalidPointerMessage));
}

void ReleaseErrorObjects() noexcept {
  for (RaiseRecord& record : g_records) record.object = nullptr;
  g_rethrown = nullptr;
  g_out_of_memory = nullptr;
  g_invalid_pointer = nullptr;
}

const RaiseRecord& CurrentRaise() noexcept { return g_records[g_newest]; }

const RaiseRecord* RecordOf(const std::exception_ptr& object) noexcept {
  if (!object) return nullptr;
  for (int age = 0; age < kKeptRaises; ++age) {
    const RaiseRecord& record = g_records[(g_newest + kKeptRaises - age) % kKeptRaises];
    if (record.object == object) return &record;
  }
  return nullptr;
}

bool ErrorInFlight() noexcept { return std::uncaught_exceptions() > 0; }

void SetNextBackTrace(const void* addr, const void* const* frames, int count) noexcept {
  g_given_back_trace.set = true;
  g_given_back_trace.addr = addr;
  g_given_back_trace.count = count < kMaxBackTrace ? count : kMaxBackTrace;
  std::copy_n(frames, g_given_back_trace.count, g_given_back_trace.frames);
}

bool RaiseAbandoned() noexcept { return g_abandoned; }

const RunErrorRecord* RecordedRunError() noexcept {
  return g_run_error_recorded ? &g_run_error : nullptr;
}

void RecordRunError(int code, const void* address, const void* frame) noexcept {
  g_run_error = {static_cast<std::uint16_t>(code), address, frame};
  g_run_error_recorded = true;
}

}  // namespace launcher
