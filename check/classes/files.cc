#include "check/classes/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "platform/descriptor.h"
#include "platform/syscall.h"

namespace launcher::check {

std::string Describe(int error) {
  char unknown[32];
  return ErrorDescription(error, unknown);
}

PathStatus StatusOf(const std::string& path, bool follow) {
  PathStatus status;
  struct stat looked {};
  const SysResult result =
      Sys([&] { return follow ? ::stat(path.c_str(), &looked) : ::lstat(path.c_str(), &looked); });
  if (!result.Ok()) {
    status.kind = result.error == ENOENT ? PathKind::kMissing : PathKind::kUnreadable;
    status.error = result.error == ENOENT ? 0 : result.error;
    return status;
  }
  status.kind = S_ISREG(looked.st_mode)   ? PathKind::kRegular
                : S_ISDIR(looked.st_mode) ? PathKind::kDirectory
                                          : PathKind::kOther;
  status.device = looked.st_dev;
  status.inode = looked.st_ino;
  return status;
}

bool Exists(const std::string& path) {
  const PathKind kind = StatusOf(path).kind;
  return kind != PathKind::kMissing && kind != PathKind::kUnreadable;
}

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t limit,
                                           std::string& error) {
  // O_NONBLOCK: opening a FIFO does not wait for a writer (it is then refused as not regular).
  const SysResult opened =
      Sys([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY); });
  if (!opened.Ok()) {
    error = Describe(opened.error);
    return std::nullopt;
  }
  const Descriptor file(static_cast<int>(opened.value));
  struct stat status {};
  const SysResult looked = Sys([&] { return ::fstat(file.get(), &status); });
  if (!looked.Ok()) {
    error = Describe(looked.error);
    return std::nullopt;
  }
  if (!S_ISREG(status.st_mode)) {
    error = "not a regular file";
    return std::nullopt;
  }
  if (static_cast<std::uint64_t>(status.st_size) > limit) {
    error = "larger than " + std::to_string(limit) + " bytes";
    return std::nullopt;
  }
  // Read to the end, however the size changes meanwhile, but never past the limit.
  std::string bytes(static_cast<std::size_t>(status.st_size) + 1, '\0');
  std::size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      if (bytes.size() > limit) {
        error = "larger than " + std::to_string(limit) + " bytes";
        return std::nullopt;
      }
      bytes.resize(std::min(limit + 1, bytes.size() * 2 + 4096));
    }
    const SysResult read =
        Sys([&] { return ::read(file.get(), bytes.data() + used, bytes.size() - used); });
    if (!read.Ok()) {
      error = Describe(read.error);
      return std::nullopt;
    }
    if (read.value == 0) break;
    used += static_cast<std::size_t>(read.value);
  }
  bytes.resize(used);
  return bytes;
}

std::optional<std::vector<std::string>> ListDirectory(const std::string& path, std::size_t limit,
                                                      bool& cut, int& error) {
  cut = false;
  const SysResult opened = Sys([&] {
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  });
  if (!opened.Ok()) {
    error = opened.error;
    return std::nullopt;
  }
  struct Closer {
    void operator()(DIR* dir) const { ::closedir(dir); }
  };
  // The directory stream owns the descriptor from here on.
  const std::unique_ptr<DIR, Closer> dir(::fdopendir(static_cast<int>(opened.value)));
  if (!dir) {
    error = errno;
    CloseDescriptor(static_cast<int>(opened.value));
    return std::nullopt;
  }
  std::vector<std::string> names;
  // readdir cannot be interrupted by a signal; it returns null with errno set on a failure and
  // with errno unchanged at the end.
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (!entry) {
      if (errno != 0) {
        error = errno;
        return std::nullopt;
      }
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (names.size() == limit) {
      cut = true;
      break;
    }
    names.emplace_back(name);
  }
  return names;
}

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string joined(directory);
  if (!joined.empty() && joined.back() != '/') joined += '/';
  joined += name;
  return joined;
}

std::string PackagePath(std::string_view name) {
  std::string path(name);
  std::replace(path.begin(), path.end(), '.', '/');
  return path;
}

std::string ClassFilePath(std::string_view directory, std::string_view class_name) {
  return JoinPath(directory, PackagePath(class_name) + ".class");
}

}  // namespace launcher::check
