// Helpers of the system tests, which watch the launcher while it runs: a program started in the
// background (optionally leading a session of its own on a pseudo-terminal), waits with deadlines
// for its end, its stop, a file's content or the end of a process that is not the test's child,
// and the process ID that the stand-in java writes into its record.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace e2e {

struct StartOptions {
  std::vector<std::string> argv;  // argument 0 first; the program path when empty
  std::string cwd;                // the caller's when empty
  std::vector<std::string> env;   // the exact environment
  // When set, the program leads a new session whose controlling terminal is this pseudo-terminal
  // (slave path), its process group is the terminal's foreground group, and the terminal is its
  // standard input, output and error unless one is given below.
  std::string terminal;
  int stdin_fd = -1;        // a descriptor of the test used as standard input
  std::string stdout_path;  // created or truncated
  std::string stderr_path;  // created or truncated (a terminal's path is opened as it is)
  // Streams given neither here nor by `terminal` are /dev/null.
  std::vector<int> ignored_signals;  // every other signal starts at its default action
  std::vector<int> blocked_signals;  // the rest are unblocked
};

// A program running in the background as the test's child. While a Background exists the test
// process adopts orphans, so a Java left behind by the launcher becomes the test's to collect.
// The destructor kills the program if it is still running and collects it.
class Background {
 public:
  Background(const std::string& program, const StartOptions& options);
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  pid_t pid() const { return pid_; }
  // The wait status once the program has ended, or nothing if it is still running at the
  // deadline.
  std::optional<int> WaitForEnd(double timeout_seconds);
  // Whether the program has been stopped by the deadline.
  bool WaitForStop(double timeout_seconds);

 private:
  pid_t pid_ = -1;
  int pidfd_ = -1;
  bool collected_ = false;
};

// A process that is not necessarily the test's child (the Java that the launcher started),
// watched through a process file descriptor. The destructor kills it if it still runs.
class Watched {
 public:
  explicit Watched(pid_t pid);
  ~Watched();
  Watched(const Watched&) = delete;
  Watched& operator=(const Watched&) = delete;

  bool Running() const;
  bool WaitForEnd(double timeout_seconds) const;
  void Signal(int sig) const;

 private:
  pid_t pid_;
  int pidfd_;
};

// Waits until the file at `path` exists (with `content`, when given).
bool WaitForFile(const std::string& path, double timeout_seconds,
                 const std::optional<std::string>& content = std::nullopt);

// The process ID on the "pid" line of the stand-in java's record; -1 when there is none.
pid_t JavaPidFromRecord(const std::string& record_path);

// The signal numbers set in a hexadecimal mask of /proc/PID/status ("SigIgn", "SigCgt",
// "SigBlk") of process `pid`.
std::vector<int> SignalsOfStatus(pid_t pid, const std::string& field);

}  // namespace e2e
