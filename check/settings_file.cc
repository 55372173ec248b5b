#include "check/settings_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

#include "check/descriptor.h"
#include "launcher/settings.h"
#include "platform/errors.h"
#include "platform/syscall.h"

namespace launcher::check {
namespace {

constexpr char kName[] = "init.ini";

FileKind KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return FileKind::kDirectory;
  if (S_ISFIFO(mode)) return FileKind::kFifo;
  if (S_ISCHR(mode)) return FileKind::kCharDevice;
  if (S_ISBLK(mode)) return FileKind::kBlockDevice;
  if (S_ISSOCK(mode)) return FileKind::kSocket;
  return FileKind::kRegular;
}

// What the check reads of the file itself, without waiting: at most `limit` + 1 bytes.
struct Prefix {
  std::string bytes;
  bool ended = false;    // the file ended, or a read failed, within the bytes read
  bool waiting = false;  // a device that had nothing to give at the moment
  int open_error = 0;
  int read_error = 0;  // the read that failed after `bytes`
};

Prefix ReadPrefix(std::size_t limit) {
  Prefix prefix;
  const SysResult opened =
      Sys([] { return ::open(kName, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); });
  if (!opened.Ok()) {
    prefix.open_error = opened.error;
    prefix.ended = true;
    return prefix;
  }
  const Descriptor file(static_cast<int>(opened.value));
  constexpr std::size_t kChunk = 64 * 1024;
  while (prefix.bytes.size() <= limit) {
    const std::size_t used = prefix.bytes.size();
    const std::size_t want = std::min(kChunk, limit + 1 - used);
    prefix.bytes.resize(used + want);
    const SysResult read =
        Sys([&] { return ::read(file.get(), prefix.bytes.data() + used, want); });
    prefix.bytes.resize(used + (read.Ok() ? static_cast<std::size_t>(read.value) : 0));
    if (read.error == EAGAIN) {
      prefix.waiting = true;
      return prefix;
    }
    if (!read.Ok() || read.value == 0) {
      prefix.read_error = read.error;
      prefix.ended = true;
      return prefix;
    }
  }
  return prefix;
}

// Whether init.ini, opened without waiting, is a terminal, whose lines the launcher would wait
// for (and which the check must not read: from a background process group that would stop it).
bool IsTerminal() {
  const SysResult opened =
      Sys([] { return ::open(kName, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); });
  if (!opened.Ok()) return false;
  const Descriptor file(static_cast<int>(opened.value));
  return ::isatty(file.get()) == 1;
}

// The length of the line end at the start of `bytes` (LF, CR LF or a lone CR), 0 when there is
// none.
std::size_t LineEndLength(std::string_view bytes) {
  if (bytes.empty() || (bytes[0] != '\n' && bytes[0] != '\r')) return 0;
  return bytes[0] == '\r' && bytes.size() > 1 && bytes[1] == '\n' ? 2 : 1;
}

// How many of the first four lines end within `bytes`.
int LinesEnding(std::string_view bytes) {
  int count = 0;
  for (std::size_t at = 0; count < 4;) {
    const std::size_t end = bytes.find_first_of("\r\n", at);
    if (end == std::string_view::npos) break;
    ++count;
    at = end + LineEndLength(bytes.substr(end));
  }
  return count;
}

// The launcher's own reading: ReadSettings, whose first failure leaves the values stored until
// then, the failing line holding the bytes read before it.
void ReadAsTheLauncher(SettingsFile& file) {
  try {
    ReadSettings(file.values[0], file.values[1], file.values[2], file.values[3]);
  } catch (const EInOutError&) {
    // As in the launcher: what was read stays, the rest is empty.
  }
  file.read = true;
}

// The launcher's reader over the first `lines` lines only, each of which ends within the bytes
// the check read; nothing of the file layer stays pending afterwards.
void ReadFirstLines(SettingsFile& file, int lines) {
  {
    TextLineReader reader;
    reader.Open(kName);
    for (int line = 0; line < lines && InOutRes == 0; ++line) {
      reader.ReadLine(file.values[static_cast<std::size_t>(line)]);
    }
  }
  InOutRes = 0;
  file.read = true;
}

// Walks the lines as the launcher's reader stored them through `prefix`, the bytes after each
// value being the line end it consumed: sets each line's end, the line whose read failed and the
// lines after line 4. Returns where the walk stopped: the start of the first line not stored.
std::size_t FindLineEnds(std::string_view prefix, const Prefix& read, SettingsFile& file) {
  std::size_t at = 0;
  for (std::size_t line = 0; line < 4; ++line) {
    if (file.unfinished_line == static_cast<int>(line) + 1) return at;
    const std::size_t end = at + file.values[line].size();
    const std::size_t ending = end < prefix.size() ? LineEndLength(prefix.substr(end)) : 0;
    if (ending == 0) {
      // The value reaches the end of what was read: the end of the file, or a failed read.
      if (read.read_error != 0) {
        file.failed_line = static_cast<int>(line) + 1;
      } else if (!file.values[line].empty()) {
        file.ends[line] = LineEnd::kEndOfFile;
      }
      return prefix.size();
    }
    file.ends[line] = prefix[end] == '\n' ? LineEnd::kLf
                      : ending == 2       ? LineEnd::kCrLf
                                          : LineEnd::kCr;
    at = end + ending;
  }
  const std::size_t after_four = at;
  while (at < prefix.size()) {
    ++file.lines_after;
    const std::size_t end = prefix.find_first_of("\r\n", at);
    at = end == std::string_view::npos ? prefix.size() : end + LineEndLength(prefix.substr(end));
  }
  return after_four;
}

// What a file that can be opened gives: the values from the launcher's reader wherever it reads
// to an end, what the check read of an unfinished line, the line ends and the lines after.
void ReadContent(SettingsFile& file, std::size_t limit, bool device) {
  Prefix prefix = ReadPrefix(limit);
  file.error = prefix.open_error != 0 ? prefix.open_error : prefix.read_error;
  if (prefix.bytes.size() > limit) {
    prefix.bytes.resize(limit);
    file.cut = true;
  }
  const int ending = LinesEnding(prefix.bytes);
  if (prefix.ended || (ending == 4 && !device)) {
    ReadAsTheLauncher(file);
  } else if (device) {
    // A device that goes on giving bytes, or has none at the moment: its lines are whatever it
    // gives when the launcher reads it. Only a line that does not end within the limit is
    // certain, since no device gives the same bytes twice.
    if (ending < 4 && !prefix.waiting) file.unfinished_line = ending + 1;
    return;
  } else {
    file.unfinished_line = ending + 1;
    ReadFirstLines(file, ending);
  }
  if (prefix.open_error != 0) return;
  const std::size_t unfinished_start = FindLineEnds(prefix.bytes, prefix, file);
  if (file.unfinished_line != 0) {
    file.values[static_cast<std::size_t>(file.unfinished_line - 1)] =
        ByteString(std::string_view(prefix.bytes).substr(unfinished_start));
  }
}

}  // namespace

SettingsFile ReadSettingsFile(std::size_t limit) {
  SettingsFile file;
  struct stat status {};
  const SysResult looked = Sys([&] { return ::lstat(kName, &status); });
  if (!looked.Ok()) {
    file.kind = looked.error == ENOENT ? FileKind::kMissing : FileKind::kUnreachable;
    file.error = looked.error == ENOENT ? 0 : looked.error;
    return file;
  }
  if (S_ISLNK(status.st_mode)) {
    char target[PATH_MAX];
    const SysResult link = Sys([&] { return ::readlink(kName, target, sizeof target); });
    if (link.Ok()) file.link_target.assign(target, static_cast<std::size_t>(link.value));
    const SysResult followed = Sys([&] { return ::stat(kName, &status); });
    if (!followed.Ok()) {
      file.kind = followed.error == ENOENT ? FileKind::kDanglingLink : FileKind::kUnreachable;
      file.error = followed.error == ENOENT ? 0 : followed.error;
      return file;
    }
  }
  file.kind = KindOf(status.st_mode);
  switch (file.kind) {
    case FileKind::kFifo:
      // Opening a FIFO waits for a writer: neither the check nor the reader opens it.
      return file;
    case FileKind::kDirectory:
    case FileKind::kSocket:
      // The launcher's reader meets its failure at once: a directory cannot be read, a socket
      // cannot be opened.
      ReadContent(file, limit, false);
      return file;
    case FileKind::kCharDevice:
      if (IsTerminal()) {
        file.kind = FileKind::kTerminal;
        return file;
      }
      ReadContent(file, limit, true);
      return file;
    case FileKind::kBlockDevice:
      ReadContent(file, limit, true);
      return file;
    default:
      ReadContent(file, limit, false);
      return file;
  }
}

bool SettingsReadToAnEnd(const SettingsFile& file) {
  return file.kind != FileKind::kFifo && file.kind != FileKind::kTerminal &&
         file.unfinished_line == 0 &&
         (file.read || file.kind == FileKind::kMissing || file.kind == FileKind::kDanglingLink ||
          file.kind == FileKind::kUnreachable);
}

}  // namespace launcher::check
