// Java's own verdict: the launcher's command with --dry-run, run as a child in a process group of
// its own, whose output is captured, for a bounded time. Nothing it starts is left running.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace launcher::check {

struct DryRun {
  enum class End {
    kNotAsked,     // the check could not run it: no pipe or no child process (`error` says why)
    kNotStarted,   // the program could not be started in the child (`error` says why)
    kExited,       // `status` is its exit status
    kSignalled,    // `status` is the signal that ended it
    kTimedOut,     // it was still running at the deadline, and its process group was killed
    kInterrupted,  // the check received signal `status` (SIGINT, SIGTERM or SIGHUP): the group
                   // was sent it, then killed, and the check is to end by that signal
  };
  End end = End::kNotAsked;
  int status = 0;
  int error = 0;
  std::string output;       // standard output and standard error, in the order written
  bool output_cut = false;  // more was written than `output` keeps
  std::chrono::steady_clock::duration elapsed{};  // from the start to the end of the child
};

inline constexpr std::size_t kOutputLimit = 64 * 1024;

// Runs the program `path` with the argument vector `argv` (argument 0 first) in the check's
// working directory and environment, in a new process group, standard input from /dev/null,
// standard output and standard error into one pipe, of which at most kOutputLimit bytes are
// kept. When the program has not ended after `timeout`, its whole process group is killed
// (SIGKILL) and the program collected. SIGINT, SIGTERM and SIGHUP that reach the check meanwhile
// (those not ignored when it started) are passed on to the group, which is killed after a short
// grace and collected; the run then ends as kInterrupted. When the program ends, whatever is left
// of its group is killed.
DryRun RunDryRun(const char* path, const std::vector<const char*>& argv,
                 std::chrono::seconds timeout);

// Ends the check by `signal` as though it had not been caught: standard output flushed, the
// default action restored and the signal raised (exit status 128 + `signal` should it not end
// the process).
[[noreturn]] void EndBySignal(int signal);

}  // namespace launcher::check
