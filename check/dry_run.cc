#include "check/dry_run.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <string>

#include "platform/child_failure.h"
#include "platform/descriptor.h"
#include "platform/syscall.h"

extern "C" char** environ;

namespace launcher::check {
namespace {

using Clock = std::chrono::steady_clock;

// The signals that end the check's dry run early, passed on to Java's process group.
constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};

// How long Java's group has to end after a stop signal was passed on, before it is killed.
constexpr std::chrono::milliseconds kGrace(1000);

// Without a process descriptor (a kernel before Linux 5.3), how often the child's end is looked
// for while its output is awaited.
constexpr std::chrono::milliseconds kSlice(100);

int MillisecondsUntil(Clock::time_point deadline, bool sliced) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() < 0) left = {};
  if (sliced) left = std::min(left, std::chrono::ceil<std::chrono::milliseconds>(kSlice));
  return static_cast<int>(left.count());
}

// A pipe whose two ends are close-on-exec and lie above the standard descriptors.
struct Pipe {
  Descriptor read;
  Descriptor write;
  int error = 0;
};

Pipe MakePipe() {
  Pipe pipe;
  int ends[2];
  const SysResult made = Sys([&] { return ::pipe2(ends, O_CLOEXEC); });
  if (!made.Ok()) {
    pipe.error = made.error;
    return pipe;
  }
  pipe.read = AboveStandard(Descriptor(ends[0]));
  pipe.write = AboveStandard(Descriptor(ends[1]));
  if (!pipe.read.valid() || !pipe.write.valid()) pipe.error = EMFILE;
  return pipe;
}

// The stop signals that were not ignored when the check started (an ignored one stays ignored,
// as it would for the launcher), blocked and read through a signal descriptor while Java runs.
// The previous mask is restored at the end; a signal read meanwhile has been consumed.
class StopSignals {
 public:
  StopSignals() {
    sigemptyset(&set_);
    for (const int signal : kStopSignals) {
      struct sigaction action {};
      if (Sys([&] { return ::sigaction(signal, nullptr, &action); }).Ok() &&
          action.sa_handler != SIG_IGN) {
        sigaddset(&set_, signal);
      }
    }
    Sys([&] { return ::sigprocmask(SIG_SETMASK, nullptr, &previous_); });
    // Without a signal descriptor (no descriptor left), the signals keep their default action:
    // they end the check at once, rather than wait unseen until Java has ended.
    const SysResult made = Sys([&] { return ::signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK); });
    if (!made.Ok()) return;
    descriptor_ = AboveStandard(Descriptor(static_cast<int>(made.value)));
    Sys([&] { return ::sigprocmask(SIG_BLOCK, &set_, nullptr); });
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  ~StopSignals() {
    Sys([&] { return ::sigprocmask(SIG_SETMASK, &previous_, nullptr); });
  }

  // The mask the check had before, which the child restores before it starts the program.
  const sigset_t& previous() const noexcept { return previous_; }
  int fd() const noexcept { return descriptor_.get(); }
  // A stop signal received, or 0.
  int Take() const noexcept {
    signalfd_siginfo info{};
    const SysResult read = Sys([&] { return ::read(descriptor_.get(), &info, sizeof info); });
    return read.Ok() && read.value == static_cast<long>(sizeof info)
               ? static_cast<int>(info.ssi_signo)
               : 0;
  }

 private:
  sigset_t set_{};
  sigset_t previous_{};
  Descriptor descriptor_;
};

// An ignored SIGCHLD would let the system collect the child unasked, and its exit status with it:
// while Java runs, SIGCHLD has its default action, and afterwards what it had before.
class ChildSignalDefault {
 public:
  ChildSignalDefault() {
    if (Sys([&] { return ::sigaction(SIGCHLD, nullptr, &previous_); }).Ok() &&
        previous_.sa_handler == SIG_IGN) {
      struct sigaction reset {};
      reset.sa_handler = SIG_DFL;
      changed_ = Sys([&] { return ::sigaction(SIGCHLD, &reset, nullptr); }).Ok();
    }
  }
  ChildSignalDefault(const ChildSignalDefault&) = delete;
  ChildSignalDefault& operator=(const ChildSignalDefault&) = delete;
  ~ChildSignalDefault() {
    if (changed_) Sys([&] { return ::sigaction(SIGCHLD, &previous_, nullptr); });
  }
  bool changed() const noexcept { return changed_; }

 private:
  struct sigaction previous_ {};
  bool changed_ = false;
};

// In the child, between fork and execve: a process group of its own, standard input from
// /dev/null, standard output and standard error into `output`, the check's signal mask and an
// ignored SIGCHLD as the check received them, then the program. When a step fails, the child
// reports it through `failure` and ends with 127. Only async-signal-safe calls.
[[noreturn]] void ExecuteInChild(const char* path, char* const* argv, int output,
                                 const ChildFailureChannel& failure, const sigset_t& mask,
                                 bool ignore_child_signal) {
  // The parent makes the group as well, whichever of the two runs first; a failure here means
  // that the parent's call has made it already.
  Sys([] { return ::setpgid(0, 0); });
  const SysResult null = Sys([&] { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); });
  if (!null.Ok()) failure.Fail(ChildStage::kRedirect, null.error);
  const int moves[][2] = {{static_cast<int>(null.value), 0}, {output, 1}, {output, 2}};
  for (const auto& [from, to] : moves) {
    // dup2 onto itself keeps the close-on-exec flag: /dev/null may have taken descriptor 0.
    const SysResult moved = from == to ? Sys([&] { return ::fcntl(to, F_SETFD, 0); })
                                       : Sys([&] { return ::dup2(from, to); });
    if (!moved.Ok()) failure.Fail(ChildStage::kRedirect, moved.error);
  }
  if (ignore_child_signal) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    Sys([&] { return ::sigaction(SIGCHLD, &ignore, nullptr); });
  }
  Sys([&] { return ::sigprocmask(SIG_SETMASK, &mask, nullptr); });
  failure.Fail(ChildStage::kExecute, Sys([&] { return ::execve(path, argv, environ); }).error);
}

// A child started, or why none is running: `error` is the system's reason when no child could be
// created, or, with `in_child`, when the program could not be started in it (the child is then
// collected).
struct Child {
  pid_t pid = -1;
  int error = 0;
  bool in_child = false;
};

// Starts the dry run's child (see ExecuteInChild) and learns whether the program started: fork,
// which a child-failure channel serves whether or not the child shares the check's memory (under
// an emulator such as qemu-user, vfork and posix_spawn run as fork as well).
//
// With a pipe, the answer is final when this returns. Without one (no descriptor left), the
// child's report arrives through memory that it shares with the check, complete once the child
// has ended: the caller asks `failure` again after collecting the child.
Child StartChild(const char* path, char* const* argv, int output, const sigset_t& mask,
                 bool ignore_child_signal, ChildFailureChannel& failure) {
  failure.Open();
  const SysResult forked = Sys([] { return ::fork(); });
  if (!forked.Ok()) return {-1, forked.error};
  const auto pid = static_cast<pid_t>(forked.value);
  if (pid == 0) ExecuteInChild(path, argv, output, failure, mask, ignore_child_signal);
  // The child's group is made here as well, so that it exists whichever of the two runs first.
  Sys([&] { return ::setpgid(pid, pid); });
  const ChildFailure reported = failure.Receive();
  if (reported.Failed()) {
    int status = 0;
    Sys([&] { return ::waitpid(pid, &status, 0); });
    return {-1, reported.error, true};
  }
  return {pid, 0, false};
}

// While Java runs, the check adopts the orphans of what Java starts (a child subreaper), so that a
// process that leaves Java's group, or outlives its parent, is still the check's to end and
// collect. Where the system does not allow it (an emulator such as qemu-user), orphans go to init,
// and only Java's group is ended.
class Adopter {
 public:
  Adopter() {
    adopting_ = Sys([] { return ::prctl(PR_SET_CHILD_SUBREAPER, 1); }).Ok();
  }
  Adopter(const Adopter&) = delete;
  Adopter& operator=(const Adopter&) = delete;
  ~Adopter() {
    if (adopting_) Sys([] { return ::prctl(PR_SET_CHILD_SUBREAPER, 0); });
  }
  bool adopting() const noexcept { return adopting_; }

 private:
  bool adopting_ = false;
};

// The check's children, from /proc (empty when it cannot be read).
std::vector<pid_t> Children() {
  std::vector<pid_t> children;
  const std::string path = "/proc/self/task/" + std::to_string(::getpid()) + "/children";
  const SysResult opened = Sys([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
  if (!opened.Ok()) return children;
  const Descriptor file(static_cast<int>(opened.value));
  char buffer[4096];
  std::string text;
  for (;;) {
    const SysResult read = Sys([&] { return ::read(file.get(), buffer, sizeof buffer); });
    if (!read.Ok() || read.value == 0) break;
    text.append(buffer, static_cast<std::size_t>(read.value));
  }
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    if (end > at) children.push_back(static_cast<pid_t>(std::stol(text.substr(at, end - at))));
    at = end + 1;
  }
  return children;
}

// Ends and collects every process the check adopted from Java: each is killed, and all are
// collected until none is left or `grace` has passed (a process that cannot die at once, in an
// uninterruptible wait, is left to init).
void EndAdopted(std::chrono::milliseconds grace) {
  const Clock::time_point deadline = Clock::now() + grace;
  for (;;) {
    for (const pid_t child : Children()) Sys([&] { return ::kill(child, SIGKILL); });
    int status = 0;
    const SysResult collected = Sys([&] { return ::waitpid(-1, &status, WNOHANG); });
    if (!collected.Ok()) return;  // ECHILD: nothing is left
    if (collected.value > 0) continue;
    if (Clock::now() >= deadline) return;
    pollfd none{-1, 0, 0};
    Sys([&] { return ::poll(&none, 0, 10); });
  }
}

// The running child and its process group.
class RunningChild {
 public:
  explicit RunningChild(pid_t pid) : pid_(pid) {
    // Through syscall: Debian 12's C library declares pidfd_open without C linkage for C++.
    const SysResult opened = Sys([&] { return ::syscall(SYS_pidfd_open, pid, 0); });
    if (opened.Ok()) descriptor_ = AboveStandard(Descriptor(static_cast<int>(opened.value)));
  }

  // The process descriptor, readable once the child has ended; -1 when there is none.
  int fd() const noexcept { return descriptor_.get(); }

  // Whether the child has ended; it stays uncollected, so its process group cannot be taken over
  // by another process before the group is killed.
  bool Ended() const noexcept {
    siginfo_t info{};
    const SysResult waited = Sys([&] {
      return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    });
    return waited.Ok() && info.si_pid == pid_;
  }

  // Sends `signal` to the whole group.
  void SignalGroup(int signal) const noexcept {
    Sys([&] { return ::kill(-pid_, signal); });
  }

  // Waits at most until `deadline` for the child's end. Returns whether it ended.
  bool AwaitEnd(Clock::time_point deadline) const noexcept {
    while (!Ended()) {
      if (Clock::now() >= deadline) return false;
      pollfd ready{fd(), POLLIN, 0};
      Sys([&] { return ::poll(&ready, fd() >= 0 ? 1 : 0, MillisecondsUntil(deadline, true)); });
    }
    return true;
  }

  // Kills what is left of the group and collects the child. Returns its wait status.
  int Collect() const noexcept {
    SignalGroup(SIGKILL);
    int status = 0;
    Sys([&] { return ::waitpid(pid_, &status, 0); });
    return status;
  }

 private:
  pid_t pid_;
  Descriptor descriptor_;
};

// Reads what the pipe holds now into `run`, until it is empty, at its end or after 64 reads (a
// writer that never stops must not hold the check: the caller looks at the child, the deadline
// and the signals in between). What comes after kOutputLimit bytes is read and dropped, so that
// the writer is never blocked on a full pipe. Returns false once the pipe has ended (every writer
// has closed it).
bool Drain(int fd, DryRun& run) {
  char buffer[4096];
  for (int reads = 0; reads < 64; ++reads) {
    const SysResult read = Sys([&] { return ::read(fd, buffer, sizeof buffer); });
    if (read.error == EAGAIN) return true;
    if (!read.Ok() || read.value == 0) return false;
    const auto size = static_cast<std::size_t>(read.value);
    const std::size_t room = kOutputLimit - run.output.size();
    run.output.append(buffer, std::min(size, room));
    if (size > room) run.output_cut = true;
  }
  return true;
}

void Decode(int status, DryRun& run) {
  if (WIFEXITED(status)) {
    run.end = DryRun::End::kExited;
    run.status = WEXITSTATUS(status);
  } else {
    run.end = DryRun::End::kSignalled;
    run.status = WTERMSIG(status);
  }
}

}  // namespace

DryRun RunDryRun(const char* path, const std::vector<const char*>& argv,
                 std::chrono::seconds timeout) {
  DryRun run;
  const ChildSignalDefault child_signal;
  const StopSignals stop_signals;
  Pipe output = MakePipe();
  if (output.error != 0) {
    run.error = output.error;
    return run;
  }
  std::vector<char*> vector;
  for (const char* argument : argv) vector.push_back(const_cast<char*>(argument));
  vector.push_back(nullptr);

  const Adopter adopter;
  const Clock::time_point start = Clock::now();
  ChildFailureChannel failure;
  const Child started = StartChild(path, vector.data(), output.write.get(), stop_signals.previous(),
                                   child_signal.changed(), failure);
  output.write.Close();
  if (started.pid < 0) {
    run.end = started.in_child ? DryRun::End::kNotStarted : DryRun::End::kNotAsked;
    run.error = started.error;
    return run;
  }

  const RunningChild child(started.pid);
  const int reader = output.read.get();
  Sys([&] { return ::fcntl(reader, F_SETFL, O_NONBLOCK); });
  const Clock::time_point deadline = start + timeout;
  bool pipe_open = true;
  for (;;) {
    std::array<pollfd, 3> ready = {pollfd{stop_signals.fd(), POLLIN, 0},
                                   pollfd{child.fd(), POLLIN, 0},
                                   pollfd{pipe_open ? reader : -1, POLLIN, 0}};
    Sys([&] {
      return ::poll(ready.data(), ready.size(), MillisecondsUntil(deadline, child.fd() < 0));
    });
    if (const int signal = stop_signals.Take(); signal != 0) {
      child.SignalGroup(signal);
      child.AwaitEnd(Clock::now() + kGrace);
      child.Collect();
      run.end = DryRun::End::kInterrupted;
      run.status = signal;
      break;
    }
    if (pipe_open) pipe_open = Drain(reader, run);
    if (child.Ended()) {
      const int status = child.Collect();
      if (pipe_open) Drain(reader, run);
      Decode(status, run);
      // Without a pipe, a failed start is known only now that the child has ended.
      if (const ChildFailure late = failure.Receive(); late.Failed()) {
        run.end = DryRun::End::kNotStarted;
        run.error = late.error;
      }
      break;
    }
    if (Clock::now() >= deadline) {
      child.Collect();
      run.end = DryRun::End::kTimedOut;
      break;
    }
  }
  run.elapsed = Clock::now() - start;
  if (adopter.adopting()) EndAdopted(kGrace);
  return run;
}

}  // namespace launcher::check
