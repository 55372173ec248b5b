// init.ini as the launcher reads it from the working directory: what kind of file it is, the four
// values as the launcher's own reader (launcher/settings) stores them, how each line ends and how
// many lines follow. The check never waits and never reads without end: where the launcher's
// reader would wait (a FIFO, a terminal) or read a line without end (an endless device, a line
// longer than the check reads), the file is not handed to that reader, and what the launcher
// would do is recorded instead.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "platform/byte_string.h"

namespace launcher::check {

enum class FileKind {
  kMissing,       // no such file
  kDanglingLink,  // a symbolic link to nothing
  kUnreachable,   // cannot be looked at (`error` says why: a directory on its way cannot be
                  // entered, a loop of links, ...)
  kRegular,
  kDirectory,
  kFifo,
  kTerminal,  // a character device that is a terminal (/dev/tty, say)
  kCharDevice,
  kBlockDevice,
  kSocket,
};

enum class LineEnd {
  kAbsent,     // the file ended before this line
  kEndOfFile,  // the line ends the file, without a line end
  kLf,
  kCrLf,
  kCr,
};

// How much of init.ini the check reads at most.
inline constexpr std::size_t kReadLimit = 1 << 20;

struct SettingsFile {
  FileKind kind = FileKind::kMissing;
  std::string link_target;  // what init.ini links to, when it is a symbolic link
  // The system error of the look, open or read that failed, as the launcher's reader meets it;
  // 0 when none failed.
  int error = 0;
  // Whether the launcher's reader read the file (and `values` are what it stored). It does not
  // for a FIFO, a terminal or a device, nor beyond a line that does not end within kReadLimit
  // bytes.
  bool read = false;
  // Lines 1 to 4 as the launcher stores them; the line whose read failed holds the bytes read
  // before the failure, and the lines after it are empty. An unfinished line holds the bytes the
  // check read of it.
  std::array<ByteString, 4> values;
  std::array<LineEnd, 4> ends = {LineEnd::kAbsent, LineEnd::kAbsent, LineEnd::kAbsent,
                                 LineEnd::kAbsent};
  // The line (1 to 4) whose read failed, 0 when none did.
  int failed_line = 0;
  // The line (1 to 4) that does not end within kReadLimit bytes, which the launcher would read to
  // its end (for an endless device: until its memory runs out); 0 when the four lines end.
  int unfinished_line = 0;
  // Lines after line 4 (a last one without line end counts), within the bytes the check read.
  std::size_t lines_after = 0;
  // Whether the file goes on past the bytes the check read.
  bool cut = false;
};

// Reads init.ini of the working directory, at most `limit` bytes of it, as the launcher would.
SettingsFile ReadSettingsFile(std::size_t limit = kReadLimit);

// Whether the launcher reads init.ini to an end, so that it goes on to start Java: false for a
// FIFO and a terminal (it waits for their lines) and for an unfinished line.
bool SettingsReadToAnEnd(const SettingsFile& file);

}  // namespace launcher::check
