// Helpers of the reliability tests: running the launcher under strace with address-space
// randomisation off (so two runs print the same addresses), reading which call of a traced
// system call is which, and finding processes the launcher left.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/e2e.h"

namespace reliability {

// The full path of an installed tool (looked up in /usr/bin and /bin), or empty.
std::string Tool(const std::string& name);

// Runs `program` (argv[0] = its path) under `strace -f --quiet=all -o trace_path ARGS`, itself
// under `setarch -R`. The trace goes to the file, so standard error carries only the program's.
e2e::RunResult RunTraced(const std::vector<std::string>& strace_args, const std::string& trace_path,
                         const std::string& program, e2e::RunOptions options);

// One traced call, as strace wrote it with -f: the process and the text from the call's name on.
struct TracedCall {
  pid_t pid = 0;
  std::string text;
};

// The calls of system call `name` in a trace written with -f, in order.
std::vector<TracedCall> CallsIn(const std::string& trace_path, const std::string& name);

// While it exists, the test process adopts the orphans of every program it starts, so that a
// process left behind by the launcher can be found once the launcher has ended.
class OrphanWatch {
 public:
  OrphanWatch();
  ~OrphanWatch();
  OrphanWatch(const OrphanWatch&) = delete;
  OrphanWatch& operator=(const OrphanWatch&) = delete;

  // The processes, running or ended, that are left to the test process; running ones are killed
  // and all are collected, so the next check starts clean.
  std::vector<pid_t> TakeLeftovers() const;
};

}  // namespace reliability
