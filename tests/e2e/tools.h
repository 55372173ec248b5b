// Helpers of the end-to-end tests in this directory: reading which call of a traced system call
// is which, and running the launcher on a pseudo-terminal.
#pragma once

#include <string>

#include "tests/support/e2e.h"

namespace e2e {

// The 1-based number of the first call among the traced calls of `trace_path` (a trace written
// with "-e trace=NAME") whose line contains `needle`, or 0 when none does.
int CallNumberOf(const std::string& trace_path, const std::string& needle);

// Runs `program` with descriptors 0, 1 and 2 on a new pseudo-terminal, which becomes its
// controlling terminal in a session of its own; `out` receives all that arrived on the terminal,
// with the terminal's CR LF line ends turned back into LF. `options.cwd`, `env` and `argv` apply.
RunResult RunOnTerminal(const std::string& program, const RunOptions& options);

}  // namespace e2e
