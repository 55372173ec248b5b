// Helpers of the end-to-end tests in this directory: running the launcher under strace with a
// failure injected, on a pseudo-terminal, checking the failure report, and watching for children
// that the launcher leaves behind.
#pragma once

#include <string>
#include <vector>

#include "tests/support/e2e.h"

namespace e2e {

// The full path of `name` found through the test's own PATH, or empty when it is not installed.
std::string FindTool(const std::string& name);

// `text` split at line feeds; a final line feed gives a final empty entry.
std::vector<std::string> SplitLines(const std::string& text);

// Checks that `err` is exactly one unhandled-error report with `line2` as its second line:
// "An unhandled exception occurred at $ADDR:", line 2, "  $ADDR", at most 16 "  $RET" lines and
// an empty last line, each address 16 upper-case hexadecimal digits.
void ExpectFailureReport(const std::string& err, const std::string& line2);

// Runs `program` under `strace` (which must exist), tracing the program alone, not its children,
// with `strace_options` (such as "-e", "inject=..."); the trace goes to `trace_path`, so standard
// error carries only what the program writes.
RunResult RunUnderStrace(const std::string& strace, const std::vector<std::string>& strace_options,
                         const std::string& trace_path, const std::string& program,
                         const RunOptions& options);

// The 1-based number of the first call among the traced calls of `trace_path` (a trace written
// with "-e trace=NAME") whose line contains `needle`, or 0 when none does.
int CallNumberOf(const std::string& trace_path, const std::string& needle);

// Runs `program` with descriptors 0, 1 and 2 on a new pseudo-terminal, which becomes its
// controlling terminal in a session of its own; `out` receives all that arrived on the terminal,
// with the terminal's CR LF line ends turned back into LF. `options.cwd`, `env` and `argv` apply.
RunResult RunOnTerminal(const std::string& program, const RunOptions& options);

// While it exists, the test process adopts the orphans of the programs it starts, so that a child
// that the launcher left behind can be found after the launcher has ended.
class OrphanWatch {
 public:
  OrphanWatch();
  ~OrphanWatch();
  OrphanWatch(const OrphanWatch&) = delete;
  OrphanWatch& operator=(const OrphanWatch&) = delete;

  // Whether no process, running or ended, is left to the test process.
  bool NoneLeft() const;
  // Whether orphans come to the test process at all. Only under emulation can they not: qemu-user
  // does not make a process a subreaper (tests/support/emulation.h), and orphans go to init.
  bool Adopting() const { return adopting_; }

 private:
  bool adopting_ = false;
};

}  // namespace e2e
