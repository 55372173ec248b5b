// Helpers of the reliability tests: running the launcher under strace with address-space
// randomisation off (so two runs print the same addresses), and reading which call of a traced
// system call is which.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/e2e.h"

namespace reliability {

// Runs `program` under `strace -f` with `strace_args`, itself under `setarch -R`, both looked up
// among the system's programs. The trace goes to `trace_path`, so standard error carries only the
// program's.
e2e::RunResult RunTraced(const std::vector<std::string>& strace_args, const std::string& trace_path,
                         const std::string& program, const e2e::RunOptions& options);

// One traced call, as strace wrote it with -f: the process and the text from the call's name on.
struct TracedCall {
  pid_t pid = 0;
  std::string text;
};

// The calls of system call `name` in a trace written with -f, in order.
std::vector<TracedCall> CallsIn(const std::string& trace_path, const std::string& name);

}  // namespace reliability
