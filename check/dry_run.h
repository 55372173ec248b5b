// Java's own verdict: the launcher's command with --dry-run, run as a child whose output is
// captured, for a bounded time.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace launcher::check {

struct DryRun {
  enum class End {
    kNotStarted,  // the program could not be started (`error` says why)
    kExited,      // `status` is its exit status
    kSignalled,   // `status` is the signal that ended it
    kTimedOut,    // it was still running at the deadline, and was killed
  };
  End end = End::kNotStarted;
  int status = 0;
  int error = 0;
  std::string output;  // standard output and standard error, in the order written
  bool output_cut = false;  // more was written than `output` keeps
};

inline constexpr std::size_t kOutputLimit = 64 * 1024;

// Runs the program `path` with the argument vector `argv` (argument 0 first) in the check's
// working directory and environment, standard input from /dev/null, standard output and standard
// error into one pipe, of which at most kOutputLimit bytes are kept. When the program has not
// ended after `timeout_seconds`, it is killed (SIGKILL) and collected; whatever it started in turn
// is not waited for.
DryRun RunDryRun(const char* path, const std::vector<const char*>& argv, int timeout_seconds);

}  // namespace launcher::check
