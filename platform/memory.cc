// Memory for the C++ parts of the launcher: a failed `new` is run-time error 203, raised as the
// pre-created out-of-memory error, like a failed growth of a byte string.
#include <cstdlib>
#include <new>

#include "platform/errors.h"

void* operator new(std::size_t size) {
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  launcher::HandleRunError(launcher::kRunErrorOutOfMemory, __builtin_return_address(0),
                           *static_cast<void* const*>(__builtin_frame_address(0)));
}

void* operator new[](std::size_t size) { return ::operator new(size); }

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
