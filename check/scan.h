// A first look at init.ini that cannot hang or run out of memory: what kind of file it is, and
// for a file that can be read, how its first four lines end and how many lines follow them. It
// reads at most a bounded prefix and never waits: a FIFO is not opened, a device is read without
// blocking. The values themselves are taken from the launcher's own reader, once this look has
// shown that it reads them safely.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace launcher::check {

enum class FileKind {
  kMissing,      // no such file
  kDanglingLink, // a symbolic link to nothing
  kUnreadable,   // cannot be looked at or opened (`error` says why)
  kRegular,
  kDirectory,
  kFifo,
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

struct SettingsScan {
  FileKind kind = FileKind::kMissing;
  int error = 0;              // the system error of an open or read that failed
  std::string link_target;    // what init.ini links to, when it is a symbolic link
  // Lines 1 to 4 as read (a line that did not end within the limit holds what was read of it).
  std::array<std::string, 4> lines;
  std::array<LineEnd, 4> ends = {LineEnd::kAbsent, LineEnd::kAbsent, LineEnd::kAbsent,
                                 LineEnd::kAbsent};
  // The line, 1 to 4, that did not end within the limit; 0 when all four lines were read.
  int unfinished_line = 0;
  // Lines after line 4 (a last one without line end counts), within the limit.
  std::size_t lines_after = 0;
  // Whether the file went on past the limit.
  bool cut = false;
};

inline constexpr std::size_t kScanLimit = 1 << 20;

// Looks at the file `name`, reading at most `limit` bytes of it.
SettingsScan ScanSettings(const char* name, std::size_t limit = kScanLimit);

// Splits `text` into lines as the launcher's reader does, filling `lines`, `ends`,
// `unfinished_line` (when `complete` is false, the text stops inside the file) and
// `lines_after`.
void SplitSettings(std::string_view text, bool complete, SettingsScan& scan);

}  // namespace launcher::check
