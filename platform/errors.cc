#include "platform/errors.h"

#include <unwind.h>

#include <algorithm>
#include <exception>
#include <limits>
#include <string_view>
#include <utility>

#include "platform/memory_reader.h"
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

// The error being built (see BuildingError). A fault handler reads it on the way to RaiseFault:
// the flags are volatile, so that they are set before and cleared after the work they cover.
struct ErrorBeingBuilt {
  // From the start of a raise's record to its end: what the raise was given.
  volatile bool raise = false;
  ErrorText text;
  const void* addr = nullptr;
  const void* frame = nullptr;
  // From the entry of a run-time error to the end of its raise record: what it was given.
  volatile bool run_error = false;
  int code = 0;
  const void* run_error_addr = nullptr;
  const void* run_error_frame = nullptr;
};
ErrorBeingBuilt g_building;

// While a raise walks the frames that the unwinder will pass.
volatile bool g_checking_way = false;

AbandonedRaise g_abandoned;
bool g_abandoned_set = false;
char g_abandoned_message[kUnknownMessageSize];

RunErrorRecord g_run_error;
bool g_run_error_recorded = false;

RaiseRecord& NextRecord() noexcept { return g_records[(g_newest + 1) % kKeptRaises]; }

// Gives up the raise whose record `record` holds, once it is built: its way out cannot be
// unwound.
[[noreturn]] void AbandonBuiltRaise(const RaiseRecord& record, ErrorText text) noexcept {
  g_abandoned.text = text;
  g_abandoned.addr = record.addr;
  g_abandoned.frame_count = record.frame_count;
  std::copy_n(record.frame, record.frame_count, g_abandoned.frames);
  g_abandoned_set = true;
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
  Raise(std::make_exception_ptr(E(message)), {E::kClassName, message}, address, frame);
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

// "Unknown Run-Time error : " and `code` in decimal, at least three digits, into `out`.
const char* UnknownErrorMessage(int code, char (&out)[kUnknownMessageSize]) noexcept {
  constexpr std::string_view kPrefix = "Unknown Run-Time error : ";
  std::size_t used = kPrefix.copy(out, kPrefix.size());
  unsigned magnitude = code < 0 ? 0U - static_cast<unsigned>(code) : static_cast<unsigned>(code);
  if (code < 0) out[used++] = '-';
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  while (count < 3) digits[count++] = '0';
  while (count > 0) out[used++] = digits[--count];
  out[used] = '\0';
  return out;
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

// The order of the frames of a walk of the unwinder's. The stack grows down, and every frame lies
// above the frames it called: the unwinder's canonical frame address (the stack pointer in the
// caller at the call) grows from frame to frame. It stays the same from one frame to the next only
// where the callee took no stack: arm64 calls without pushing, so a function that allocates none
// (a leaf, or one in its prologue or epilogue) has the address of the trampoline frame that a
// fault in it gets. A third frame at the same address, or one below the last, is a chain that
// turns in a circle or runs off the stack: the walk must stop there.
struct FrameOrder {
  _Unwind_Word last = 0;
  int at_last = 0;  // frames in a row at `last`

  // Whether the frame of `context` may follow the frames before it.
  bool Next(_Unwind_Context* context) noexcept {
    const _Unwind_Word address = _Unwind_GetCFA(context);
    if (address < last || (address == last && ++at_last > 2)) return false;
    if (address != last) at_last = 1;
    last = address;
    return true;
  }
};

// A walk that collects the frames after the one of `function` (the function's start), or when
// that is null, after the one that stands at `address`.
struct UnwindWalk {
  const void* function;
  const void* address;
  const void** out;
  int capacity;
  int count = 0;
  bool found = false;
  FrameOrder order;
};

_Unwind_Reason_Code CollectUnwoundFrame(_Unwind_Context* context, void* argument) {
  auto* walk = static_cast<UnwindWalk*>(argument);
  const auto ip = reinterpret_cast<const void*>(_Unwind_GetIP(context));
  if (ip == nullptr || !walk->order.Next(context)) return _URC_END_OF_STACK;
  if (!walk->found) {
    walk->found =
        walk->function != nullptr
            ? reinterpret_cast<const void*>(_Unwind_GetRegionStart(context)) == walk->function
            : StripReturnAddress(ip) == walk->address;
    return _URC_NO_REASON;
  }
  walk->out[walk->count++] = StripReturnAddress(ip);
  return walk->count < walk->capacity ? _URC_NO_REASON : _URC_END_OF_STACK;
}

// The walk of a raise over the frames that the unwinder will pass (see Raise).
struct WayOut {
  FrameOrder order;
  int frames = 0;
  bool ends = true;
};

_Unwind_Reason_Code CheckWayOut(_Unwind_Context* context, void* argument) {
  auto* way = static_cast<WayOut*>(argument);
  // The outermost frame gives the caller's address as 0 (arm64 reports it at the same frame
  // address as the frame before).
  if (_Unwind_GetIP(context) == 0) return _URC_END_OF_STACK;
  if (!way->order.Next(context) || ++way->frames > kLongestFrameChain) {
    way->ends = false;
    return _URC_END_OF_STACK;
  }
  return _URC_NO_REASON;
}

// Whether the frames outward from the caller form a chain that ends. A fault in the unwinder on
// the way (a frame record at an unmapped address) is one while an error is in flight.
LAUNCHER_NOINLINE bool WayOutEnds() noexcept {
  WayOut way;
  g_checking_way = true;
  _Unwind_Backtrace(CheckWayOut, &way);
  g_checking_way = false;
  return way.ends;
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
  MemoryReader reader;
  int count = 0;
  while (count < capacity) {
    const auto* at = static_cast<const char*>(frame);
    const void* slots[2];  // the caller's frame record, and the return address into the caller
    if (at + sizeof slots > static_cast<const char*>(__libc_stack_end) ||
        reinterpret_cast<std::uintptr_t>(frame) % alignof(void*) != 0 ||
        !reader.Read(frame, slots, sizeof slots) || slots[0] == nullptr || slots[1] == nullptr) {
      break;
    }
    out[count++] = StripReturnAddress(slots[1]);
    if (slots[0] <= frame) break;
    frame = slots[0];
  }
  return count;
}

int UnwindBackTrace(const void* function, const void** out, int capacity) noexcept {
  if (capacity <= 0) return 0;
  UnwindWalk walk{function, nullptr, out, capacity, 0, false, FrameOrder{}};
  _Unwind_Backtrace(CollectUnwoundFrame, &walk);
  return walk.count;
}

int UnwindBackTraceAt(const void* address, const void** out, int capacity) noexcept {
  if (capacity <= 0) return 0;
  UnwindWalk walk{nullptr, address, out, capacity, 0, false, FrameOrder{}};
  _Unwind_Backtrace(CollectUnwoundFrame, &walk);
  return walk.count;
}

void Raise(const std::exception_ptr& error, ErrorText text, const void* addr, const void* frame) {
  if (g_building.raise) AbandonRaise();
  g_building.text = text;
  g_building.addr = addr;
  g_building.frame = frame;
  g_building.raise = true;
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
  g_building.raise = false;
  g_building.run_error = false;
  if (!WayOutEnds()) AbandonBuiltRaise(record, text);
  RethrowWithoutCleanUp(error);
}

void HandleRunError(int ErrNo, const void* Address, const void* Frame) {
  g_building.code = ErrNo;
  g_building.run_error_addr = Address;
  g_building.run_error_frame = Frame;
  g_building.run_error = true;
  if (ErrorProc != nullptr) ErrorProc(ErrNo, Address, Frame);
  // Before start-up has set the hooks no handler of the launcher is active: the process ends
  // with the code, and the report of the fallback path.
  g_building.run_error = false;
  RecordRunError(ErrNo, Address, Frame);
  std::terminate();
}

bool BuildingError() noexcept { return g_building.raise || g_building.run_error; }

void AbandonRaise() noexcept {
  if (g_building.raise) {
    // The raise's own error: its back trace as far as the frame records can be read.
    g_abandoned.text = g_building.text;
    g_abandoned.addr = g_building.addr;
    g_abandoned.frame = g_building.frame;
    g_abandoned.frame_count = -1;
  } else {
    // A run-time error whose error object was being chosen or made; for a fault, with the back
    // trace the unwinder found for it.
    g_abandoned.text = RunErrorTextOf(g_building.code, g_abandoned_message);
    g_abandoned.addr = g_building.run_error_addr;
    g_abandoned.frame = g_building.run_error_frame;
    g_abandoned.frame_count = -1;
    if (g_given_back_trace.set && g_given_back_trace.addr == g_abandoned.addr) {
      g_abandoned.frame_count = g_given_back_trace.count;
      std::copy_n(g_given_back_trace.frames, g_given_back_trace.count, g_abandoned.frames);
    }
  }
  g_abandoned_set = true;
  std::terminate();
}

void RunError(int code) {
  HandleRunError(code, __builtin_return_address(0),
                 *static_cast<void* const*>(__builtin_frame_address(0)));
}

void ErrorCodeToException(int ErrNo, const void* Address, const void* Frame) {
  if (ErrNo == 1 || ErrNo == kRunErrorOutOfMemory) {
    Raise(g_out_of_memory, {EOutOfMemory::kClassName, kOutOfMemoryMessage}, Address, Frame);
  }
  if (ErrNo == kRunErrorInvalidPointer) {
    Raise(g_invalid_pointer, {EInvalidPointer::kClassName, kInvalidPointerMessage}, Address, Frame);
  }
  if (const ErrorKind* kind = FindErrorKind(ErrNo)) {
    kind->raise(kind->message, Address, Frame);
    __builtin_unreachable();
  }
  RaiseInOutError(ErrNo, Address, Frame);
}

ErrorText RunErrorTextOf(int code, char (&unknown)[kUnknownMessageSize]) noexcept {
  if (code == 1 || code == kRunErrorOutOfMemory) {
    return {EOutOfMemory::kClassName, kOutOfMemoryMessage};
  }
  if (code == kRunErrorInvalidPointer) return {EInvalidPointer::kClassName, kInvalidPointerMessage};
  if (const ErrorKind* kind = FindErrorKind(code)) return {kind->class_name, kind->message};
  const char* message = FileErrorMessage(code);
  return {EInOutError::kClassName,
          message != nullptr ? message : UnknownErrorMessage(code, unknown)};
}

void RaiseInOutError(int code, const void* Address, const void* Frame) {
  char unknown[kUnknownMessageSize];
  const char* message = FileErrorMessage(code);
  if (message == nullptr) message = UnknownErrorMessage(code, unknown);
  InOutRes = 0;
  // The new object goes straight into the next record, so that no temporary of this frame outlives
  // the statement: the raise then passes through here without a clean-up to run. A missing
  // init.ini raises this on every launch, and every clean-up costs the unwinder a fresh start. Its
  // text for the report is the message given here, which lives in this frame or the table: the
  // report of a raise that is given up is written before this frame is left.
  std::exception_ptr& object = NextRecord().object;
  object = std::make_exception_ptr(EInOutError(message, code));
  Raise(object, {EInOutError::kClassName, message}, Address, Frame);
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

bool ErrorInFlight() noexcept { return g_checking_way || std::uncaught_exceptions() > 0; }

void SetNextBackTrace(const void* addr, const void* const* frames, int count) noexcept {
  g_given_back_trace.set = true;
  g_given_back_trace.addr = addr;
  g_given_back_trace.count = count < kMaxBackTrace ? count : kMaxBackTrace;
  std::copy_n(frames, g_given_back_trace.count, g_given_back_trace.frames);
}

const AbandonedRaise* AbandonedRaiseRecord() noexcept {
  return g_abandoned_set ? &g_abandoned : nullptr;
}

const RunErrorRecord* RecordedRunError() noexcept {
  return g_run_error_recorded ? &g_run_error : nullptr;
}

void RecordRunError(int code, const void* address, const void* frame) noexcept {
  g_run_error = {static_cast<std::uint16_t>(code), address, frame};
  g_run_error_recorded = true;
}

}  // namespace launcher
