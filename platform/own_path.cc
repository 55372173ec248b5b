#include "platform/own_path.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "platform/errors.h"
#include "platform/syscall.h"

namespace launcher {
namespace {

ByteString g_own_path;

struct FreeDeleter {
  void operator()(char* block) const noexcept { std::free(block); }
};

}  // namespace

void RecordOwnPath() {
  g_own_path.Clear();
  // readlink fills the buffer without telling whether the target was longer: a result that
  // fills it may be cut, so grow the buffer until the target fits with room to spare.
  for (std::size_t size = 256;; size *= 2) {
    std::unique_ptr<char, FreeDeleter> buffer(static_cast<char*>(std::malloc(size)));
    if (!buffer) RunError(kRunErrorOutOfMemory);
    const SysResult read = Sys([&] { return ::readlink("/proc/self/exe", buffer.get(), size); });
    if (!read.Ok() || read.value <= 0) return;
    const auto length = static_cast<std::size_t>(read.value);
    if (length < size) {
      if (buffer.get()[0] == '/') g_own_path = ByteString(buffer.get(), length);
      return;
    }
  }
}

ByteString OwnPath() { return g_own_path; }

ByteString DirectoryPart(const ByteString& path) {
  const std::size_t last = path.view().find_last_of("/\\");
  if (last == std::string_view::npos) return {};
  return ByteString(path.data(), last + 1);
}

}  // namespace launcher
