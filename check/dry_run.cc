#include "check/dry_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "check/descriptor.h"
#include "platform/syscall.h"

extern "C" char** environ;

namespace launcher::check {
namespace {

// How often the child's end is looked for while its output is awaited.
constexpr int kSliceMilliseconds = 100;

double Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

int MillisecondsUntil(double deadline) {
  const double left = (deadline - Now()) * 1000;
  if (left <= 0) return 0;
  return left < kSliceMilliseconds ? static_cast<int>(left) + 1 : kSliceMilliseconds;
}

// A pipe whose two ends are close-on-exec and lie above the standard descriptors, so that the
// child's moves onto 0, 1 and 2 never land on one of them (the check may have been started with a
// standard descriptor closed, and the pipe then takes its number). Ends that cannot be had stay
// invalid.
struct Pipe {
  Descriptor read;
  Descriptor write;
  int error = 0;
};

Descriptor AboveStandard(int fd) {
  if (fd > 2) return Descriptor(fd);
  const Descriptor low(fd);
  const SysResult moved = Sys([&] { return ::fcntl(fd, F_DUPFD_CLOEXEC, 3); });
  return moved.Ok() ? Descriptor(static_cast<int>(moved.value)) : Descriptor();
}

Pipe MakePipe() {
  Pipe pipe;
  int ends[2];
  const SysResult made = Sys([&] { return ::pipe2(ends, O_CLOEXEC); });
  if (!made.Ok()) {
    pipe.error = made.error;
    return pipe;
  }
  pipe.read = AboveStandard(ends[0]);
  pipe.write = AboveStandard(ends[1]);
  if (!pipe.read.valid() || !pipe.write.valid()) pipe.error = EMFILE;
  return pipe;
}

// In the child, between fork and execve: standard input from /dev/null, standard output and
// standard error into `output`, then the program. When it cannot be started, the reason goes into
// `failure` (close-on-exec: it ends unwritten when the program starts) and the child ends with
// 127. Only async-signal-safe calls.
[[noreturn]] void StartInChild(const char* path, char* const* argv, int output, int failure) {
  int error = 0;
  const SysResult null = Sys([&] { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); });
  if (!null.Ok()) error = null.error;
  const int moves[][2] = {{static_cast<int>(null.value), 0}, {output, 1}, {output, 2}};
  for (const auto& [from, to] : moves) {
    if (error != 0) break;
    // dup2 onto itself keeps the close-on-exec flag: /dev/null may have taken descriptor 0.
    const SysResult moved = from == to ? Sys([&] { return ::fcntl(to, F_SETFD, 0); })
                                       : Sys([&] { return ::dup2(from, to); });
    error = moved.error;
  }
  if (error == 0) error = Sys([&] { return ::execve(path, argv, environ); }).error;
  Sys([&] { return ::write(failure, &error, sizeof error); });
  ::_exit(127);
}

// Reads what the pipe holds now into `run`, until it is empty, at its end or past `deadline`.
// Returns false once the pipe has ended (every writer has closed it).
bool Drain(int fd, DryRun& run, double deadline) {
  char buffer[4096];
  for (;;) {
    const SysResult read = Sys([&] { return ::read(fd, buffer, sizeof buffer); });
    if (read.error == EAGAIN) return true;
    if (!read.Ok() || read.value == 0) return false;
    const auto size = static_cast<std::size_t>(read.value);
    const std::size_t room = kOutputLimit - run.output.size();
    run.output.append(buffer, size < room ? size : room);
    if (size > room) run.output_cut = true;
    if (Now() >= deadline) return true;
  }
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

DryRun RunDryRun(const char* path, const std::vector<const char*>& argv, int timeout_seconds) {
  DryRun run;
  // An ignored SIGCHLD would let the system collect the child unasked, and its exit status with
  // it: the check collects its child itself.
  struct sigaction child_action {};
  if (Sys([&] { return ::sigaction(SIGCHLD, nullptr, &child_action); }).Ok() &&
      child_action.sa_handler == SIG_IGN) {
    struct sigaction reset {};
    reset.sa_handler = SIG_DFL;
    Sys([&] { return ::sigaction(SIGCHLD, &reset, nullptr); });
  }

  Pipe output = MakePipe();
  Pipe failure = MakePipe();
  if (output.error != 0 || failure.error != 0) {
    run.error = output.error != 0 ? output.error : failure.error;
    return run;
  }
  std::vector<char*> vector;
  for (const char* argument : argv) vector.push_back(const_cast<char*>(argument));
  vector.push_back(nullptr);

  // fork, not vfork or posix_spawn: the child reports a program that cannot be started through a
  // pipe, which works whether or not the child shares the check's memory (under an emulator such
  // as qemu-user, vfork and posix_spawn run as fork, and a report left in shared memory is lost).
  const SysResult forked = Sys([] { return ::fork(); });
  if (!forked.Ok()) {
    run.error = forked.error;
    return run;
  }
  const auto pid = static_cast<pid_t>(forked.value);
  if (pid == 0) StartInChild(path, vector.data(), output.write.get(), failure.write.get());
  output.write.Close();
  failure.write.Close();
  int start_error = 0;
  const SysResult reported =
      Sys([&] { return ::read(failure.read.get(), &start_error, sizeof start_error); });
  if (reported.Ok() && reported.value == static_cast<long>(sizeof start_error)) {
    int status = 0;
    Sys([&] { return ::waitpid(pid, &status, 0); });
    run.error = start_error;
    return run;
  }
  const Descriptor& reader = output.read;
  Sys([&] { return ::fcntl(reader.get(), F_SETFL, O_NONBLOCK); });

  const double deadline = Now() + timeout_seconds;
  bool pipe_open = true;
  for (;;) {
    pollfd ready{reader.get(), POLLIN, 0};
    Sys([&] { return ::poll(&ready, pipe_open ? 1 : 0, MillisecondsUntil(deadline)); });
    if (pipe_open) pipe_open = Drain(reader.get(), run, deadline);
    int status = 0;
    const SysResult waited = Sys([&] { return ::waitpid(pid, &status, WNOHANG); });
    if (waited.Ok() && waited.value == pid) {
      if (pipe_open) Drain(reader.get(), run, deadline);
      Decode(status, run);
      return run;
    }
    if (Now() >= deadline) {
      Sys([&] { return ::kill(pid, SIGKILL); });
      Sys([&] { return ::waitpid(pid, &status, 0); });
      run.end = DryRun::End::kTimedOut;
      return run;
    }
  }
}

}  // namespace launcher::check
