#include "check/dry_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

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

  int ends[2];
  const SysResult piped = Sys([&] { return ::pipe2(ends, O_CLOEXEC); });
  if (!piped.Ok()) {
    run.error = piped.error;
    return run;
  }
  const Descriptor reader(ends[0]);
  Descriptor writer(ends[1]);
  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(actions.get(), writer.get(), 1);
  posix_spawn_file_actions_adddup2(actions.get(), writer.get(), 2);
  std::vector<char*> vector;
  for (const char* argument : argv) vector.push_back(const_cast<char*>(argument));
  vector.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, path, actions.get(), nullptr, vector.data(), environ);
  if (spawned != 0) {
    run.error = spawned;
    return run;
  }
  writer.Close();
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
