#include "check/scan.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "check/descriptor.h"
#include "platform/syscall.h"

namespace launcher::check {
namespace {

FileKind KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return FileKind::kDirectory;
  if (S_ISFIFO(mode)) return FileKind::kFifo;
  if (S_ISCHR(mode)) return FileKind::kCharDevice;
  if (S_ISBLK(mode)) return FileKind::kBlockDevice;
  if (S_ISSOCK(mode)) return FileKind::kSocket;
  return FileKind::kRegular;
}

// Reads at most `limit` + 1 bytes of `fd` into `text` without waiting: a device with nothing to
// give at the moment counts as ended. Returns whether the end of the file was reached.
bool ReadPrefix(int fd, std::size_t limit, std::string& text, int& error) {
  constexpr std::size_t kChunk = 64 * 1024;
  while (text.size() <= limit) {
    const std::size_t used = text.size();
    const std::size_t want = std::min(kChunk, limit + 1 - used);
    text.resize(used + want);
    const SysResult read = Sys([&] { return ::read(fd, text.data() + used, want); });
    text.resize(used + (read.Ok() ? static_cast<std::size_t>(read.value) : 0));
    if (read.error == EAGAIN) return true;
    if (!read.Ok()) {
      error = read.error;
      return false;
    }
    if (read.value == 0) return true;
  }
  return false;
}

}  // namespace

void SplitSettings(std::string_view text, bool complete, SettingsScan& scan) {
  std::size_t at = 0;
  for (std::size_t line = 0; line < 4; ++line) {
    if (at == text.size() && complete) return;  // this line and the ones after it are absent
    const std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string_view::npos) {
      scan.lines[line] = std::string(text.substr(at));
      if (complete) {
        scan.ends[line] = LineEnd::kEndOfFile;
      } else {
        scan.unfinished_line = static_cast<int>(line) + 1;
      }
      return;
    }
    scan.lines[line] = std::string(text.substr(at, end - at));
    if (text[end] == '\n') {
      scan.ends[line] = LineEnd::kLf;
      at = end + 1;
    } else if (end + 1 < text.size() && text[end + 1] == '\n') {
      scan.ends[line] = LineEnd::kCrLf;
      at = end + 2;
    } else {
      scan.ends[line] = LineEnd::kCr;
      at = end + 1;
    }
  }
  // Lines after line 4: every line end, and a last line without one.
  for (; at < text.size(); ++scan.lines_after) {
    const std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string_view::npos) {
      at = text.size();
    } else {
      at = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
  }
}

SettingsScan ScanSettings(const char* name, std::size_t limit) {
  SettingsScan scan;
  struct stat status {};
  const SysResult looked = Sys([&] { return ::lstat(name, &status); });
  if (!looked.Ok()) {
    scan.kind = looked.error == ENOENT ? FileKind::kMissing : FileKind::kUnreadable;
    scan.error = looked.error == ENOENT ? 0 : looked.error;
    return scan;
  }
  if (S_ISLNK(status.st_mode)) {
    char target[PATH_MAX];
    const SysResult link = Sys([&] { return ::readlink(name, target, sizeof target); });
    if (link.Ok()) scan.link_target.assign(target, static_cast<std::size_t>(link.value));
    const SysResult followed = Sys([&] { return ::stat(name, &status); });
    if (!followed.Ok()) {
      scan.kind = followed.error == ENOENT ? FileKind::kDanglingLink : FileKind::kUnreadable;
      scan.error = followed.error == ENOENT ? 0 : followed.error;
      return scan;
    }
  }
  scan.kind = KindOf(status.st_mode);
  // A directory gives the launcher nothing to read; a FIFO is not even opened, since opening it
  // waits for a writer; a socket cannot be opened.
  if (scan.kind == FileKind::kDirectory || scan.kind == FileKind::kFifo ||
      scan.kind == FileKind::kSocket) {
    return scan;
  }
  const SysResult opened =
      Sys([&] { return ::open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); });
  if (!opened.Ok()) {
    scan.kind = FileKind::kUnreadable;
    scan.error = opened.error;
    return scan;
  }
  const Descriptor file(static_cast<int>(opened.value));
  std::string text;
  bool complete = ReadPrefix(file.get(), limit, text, scan.error);
  if (text.size() > limit) {
    text.resize(limit);
    scan.cut = true;
    complete = false;
  }
  SplitSettings(text, complete, scan);
  return scan;
}

}  // namespace launcher::check
