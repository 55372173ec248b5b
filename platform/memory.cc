// Memory for the C++ parts of the launcher. Every form of `operator new` is replaced, so that no
// allocation can end in the C++ run-time's std::bad_alloc, which is no error of the launcher's:
// - the plain, array and aligned forms raise a failure as run-time error 203, the pre-created
//   out-of-memory error, like a failed growth of a byte string, at the address of their caller;
// - the nothrow forms give a null pointer instead, as the language promises for them, and raise
//   nothing.
// Every block comes from the C library's allocator, aligned ones too, so every form of `delete`
// gives it back with free.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "platform/errors.h"

namespace {

// A block of `size` bytes (at least one) aligned to `alignment`, or null when there is no memory
// for it (or `alignment` is no power of two).
void* Allocate(std::size_t size, std::size_t alignment) noexcept {
  if (size == 0) size = 1;
  if (alignment <= alignof(std::max_align_t)) return std::malloc(size);
  void* block = nullptr;
  return posix_memalign(&block, std::max(alignment, sizeof(void*)), size) == 0 ? block : nullptr;
}

// Raises the out-of-memory error at `caller`, the return address of the `new` that failed. `frame`
// is that `new`'s own frame, whose record links to its caller's, where the back trace starts.
[[noreturn]] void OutOfMemory(const void* caller, const void* frame) {
  launcher::HandleRunError(launcher::kRunErrorOutOfMemory, caller,
                           *static_cast<const void* const*>(frame));
}

constexpr std::size_t kNoAlignment = 0;

}  // namespace

// Each throwing form takes its own return address and frame, so that the error names the code
// that asked for the memory, not another form of `new`.
#define LAUNCHER_ALLOCATE_OR_RAISE(size, alignment)          \
  if (void* block = Allocate(size, alignment)) return block; \
  OutOfMemory(__builtin_return_address(0), __builtin_frame_address(0))

void* operator new(std::size_t size) { LAUNCHER_ALLOCATE_OR_RAISE(size, kNoAlignment); }
void* operator new[](std::size_t size) { LAUNCHER_ALLOCATE_OR_RAISE(size, kNoAlignment); }
void* operator new(std::size_t size, std::align_val_t alignment) {
  LAUNCHER_ALLOCATE_OR_RAISE(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  LAUNCHER_ALLOCATE_OR_RAISE(size, static_cast<std::size_t>(alignment));
}

#undef LAUNCHER_ALLOCATE_OR_RAISE

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, kNoAlignment);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size, kNoAlignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return Allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return Allocate(size, static_cast<std::size_t>(alignment));
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(block);
}
