// Helpers that several areas of end-to-end tests share: text, the launcher's failure report,
// installed tools, running a program under strace, pseudo-terminals, and watching for processes
// that the launcher leaves behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "tests/support/e2e.h"

namespace e2e {

// `text` with every occurrence of `from` replaced by `to`, scanning on after each replacement.
std::string Replace(std::string text, const std::string& from, const std::string& to);

// Whether `text` holds `piece`.
inline bool Contains(std::string_view text, std::string_view piece) {
  return text.find(piece) != std::string_view::npos;
}

// `text` split at line feeds; a final line feed gives a final empty entry.
std::vector<std::string> SplitLines(const std::string& text);

// Checks that `err` is exactly one unhandled-error report with `line2` as its second line:
// "An unhandled exception occurred at $ADDR:", line 2, "  $ADDR", at most 16 "  $RET" lines and
// an empty last line, each address 16 upper-case hexadecimal digits and $ADDR not zero.
void ExpectFailureReport(const std::string& err, const std::string& line2);

// The directories of the system's own programs, in the order FindTool looks through them.
inline constexpr char kSystemToolPath[] = "/usr/bin:/bin:/usr/sbin:/sbin";

// The full path of the executable `name` in the first directory of `search_path` (directories
// separated by colons) that has one, or empty when none has.
std::string FindTool(const std::string& name, std::string_view search_path);
// The same through the test's own PATH (/usr/bin:/bin when it is unset).
std::string FindTool(const std::string& name);

// How RunUnderStrace traces.
struct StraceMode {
  // Trace the children of the program too (-f); each trace line then starts with the process ID.
  bool follow_children = false;
  // When set, the path of setarch: strace runs under `setarch <machine> -R`, so that the program
  // runs without address-space randomisation and two runs print the same addresses.
  std::string setarch;
};

// Runs `program` under `strace` (which must exist) with its informational messages silenced and
// `strace_options` (such as "-e", "inject=..."); the program gets `options.argv` from argument 1
// on. The trace goes to `trace_path`, so standard error carries only what the program writes.
RunResult RunUnderStrace(const std::string& strace, const std::vector<std::string>& strace_options,
                         const std::string& trace_path, const std::string& program,
                         const RunOptions& options, const StraceMode& mode = {});

// A new pseudo-terminal. The test keeps the master end; programs open the slave end by its path.
class Pty {
 public:
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& slave_path() const { return slave_path_; }
  // Sends `keys` to the terminal as though they were typed.
  void Type(std::string_view keys) const;
  // Everything the terminal shows until no program holds the slave end any longer, or until the
  // deadline; the terminal's CR LF line ends are kept. `timed_out`, when given, tells whether the
  // deadline came first.
  std::string ReadUntilClosed(double timeout_seconds, bool* timed_out = nullptr) const;

 private:
  int master_ = -1;
  std::string slave_path_;
};

// While it exists, the test process adopts the orphans of every program it starts, so that a
// process left behind by the launcher can be found once the launcher has ended. The destructor
// kills and collects whatever is left.
class OrphanWatch {
 public:
  OrphanWatch();
  ~OrphanWatch();
  OrphanWatch(const OrphanWatch&) = delete;
  OrphanWatch& operator=(const OrphanWatch&) = delete;

  // Whether no process, running or ended, is left to the test process.
  bool NoneLeft() const;
  // The processes, running or ended, that are left to the test process; running ones are killed
  // and all are collected, so the next check starts clean.
  std::vector<pid_t> TakeLeftovers() const;
  // Whether orphans come to the test process at all. Only under emulation can they not: qemu-user
  // does not make a process a subreaper (tests/support/emulation.h), and orphans go to init.
  bool Adopting() const { return adopting_; }

 private:
  bool adopting_ = false;
};

}  // namespace e2e
