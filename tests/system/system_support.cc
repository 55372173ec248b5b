#include "tests/system/system_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tests/support/e2e.h"
#include "tests/support/emulation.h"

namespace e2e {
namespace {

// A short pause between two looks at a condition that no descriptor announces.
void Pause() {
  timespec step{0, 2'000'000};
  nanosleep(&step, nullptr);
}

int PidFdOpen(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

// Whether the process behind `pidfd` has ended by the deadline (0 seconds: right now).
bool PidFdEnded(int pidfd, double timeout_seconds) {
  const double deadline = Now() + timeout_seconds;
  for (;;) {
    pollfd ready{pidfd, POLLIN, 0};
    const int n = poll(&ready, 1, MillisecondsUntil(deadline));
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) throw std::runtime_error("poll on a process failed");
  }
}

}  // namespace

Background::Background(const std::string& program, const StartOptions& options) {
  // Adopting only keeps a Java left behind from going to init, so that it is collected here; under
  // emulation, where qemu-user cannot make a process a subreaper, init collects it.
  if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0 && !kUnderEmulation) {
    throw std::runtime_error("cannot adopt orphans");
  }
  // Everything the child needs is prepared before fork.
  std::vector<std::string> argv_text =
      options.argv.empty() ? std::vector<std::string>{program} : options.argv;
  std::vector<std::string> env_text = options.env;
  std::vector<char*> argv = NullTerminated(argv_text);
  std::vector<char*> envp = NullTerminated(env_text);
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int sig : options.blocked_signals) sigaddset(&blocked, sig);

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // Opened close-on-exec: the program gets them only as its standard descriptors.
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    int in = null, out = null, err = null;
    if (!options.terminal.empty()) {
      // As a shell with job control does: a session of its own, the terminal as its controlling
      // terminal, its process group in the foreground.
      const int terminal = open(options.terminal.c_str(), O_RDWR | O_CLOEXEC);
      if (setsid() < 0 || terminal < 0 || ioctl(terminal, TIOCSCTTY, 0) != 0 ||
          tcsetpgrp(terminal, getpid()) != 0) {
        _exit(124);
      }
      in = out = err = terminal;
    }
    if (options.stdin_fd >= 0) in = options.stdin_fd;
    if (!options.stdout_path.empty()) {
      out = open(options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    if (!options.stderr_path.empty()) {
      err = open(options.stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC,
                 0644);
    }
    // Moved above 2 first, so that placing one cannot overwrite another (the test itself may
    // have been started without standard input).
    in = fcntl(in, F_DUPFD_CLOEXEC, 3);
    out = fcntl(out, F_DUPFD_CLOEXEC, 3);
    err = fcntl(err, F_DUPFD_CLOEXEC, 3);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
      _exit(122);
    }
    // No core files from signals such as SIGQUIT.
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
    for (int sig : options.ignored_signals) signal(sig, SIG_IGN);
    sigprocmask(SIG_SETMASK, &blocked, nullptr);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(120);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(121);
  }
  pidfd_ = PidFdOpen(pid_);
  if (pidfd_ < 0) throw std::runtime_error("pidfd_open failed");
}

Background::~Background() {
  if (!collected_) {
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  close(pidfd_);
}

std::optional<int> Background::WaitForEnd(double timeout_seconds) {
  if (collected_) throw std::logic_error("collected already");
  if (!PidFdEnded(pidfd_, timeout_seconds)) return std::nullopt;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  collected_ = true;
  return status;
}

bool Background::WaitForStop(double timeout_seconds) {
  const double deadline = Now() + timeout_seconds;
  for (;;) {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid_), &info, WSTOPPED | WNOHANG) == 0 &&
        info.si_pid == pid_) {
      return true;
    }
    if (Now() >= deadline) return false;
    Pause();
  }
}

Watched::Watched(pid_t pid) : pid_(pid), pidfd_(PidFdOpen(pid)) {
  if (pidfd_ < 0) throw std::runtime_error("pidfd_open failed for " + std::to_string(pid));
}

Watched::~Watched() {
  if (Running()) {
    Signal(SIGKILL);
    WaitForEnd(10);
  }
  // Collect it when it is the test's, as an orphan or a child; otherwise its parent does.
  waitpid(pid_, nullptr, WNOHANG);
  close(pidfd_);
}

bool Watched::Running() const { return !PidFdEnded(pidfd_, 0); }

bool Watched::WaitForEnd(double timeout_seconds) const {
  return PidFdEnded(pidfd_, timeout_seconds);
}

void Watched::Signal(int sig) const {
  if (syscall(SYS_pidfd_send_signal, pidfd_, sig, nullptr, 0) != 0 && errno != ESRCH) {
    throw std::runtime_error("pidfd_send_signal failed");
  }
}

bool WaitForFile(const std::string& path, double timeout_seconds,
                 const std::optional<std::string>& content) {
  const double deadline = Now() + timeout_seconds;
  for (;;) {
    if (access(path.c_str(), F_OK) == 0 && (!content || ReadFile(path) == *content)) return true;
    if (Now() >= deadline) return false;
    Pause();
  }
}

pid_t JavaPidFromRecord(const std::string& record_path) {
  const std::string record = ReadFile(record_path);
  const std::size_t at = record.find("\npid\t");
  return at == std::string::npos ? -1 : static_cast<pid_t>(std::stol(record.substr(at + 5)));
}

std::vector<int> SignalsOfStatus(pid_t pid, const std::string& field) {
  const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
  const std::size_t at = status.find("\n" + field + ":\t");
  if (at == std::string::npos) throw std::runtime_error("no " + field + " in the status");
  const unsigned long long mask = std::stoull(status.substr(at + field.size() + 3), nullptr, 16);
  std::vector<int> signals;
  for (int sig = 1; sig <= 64; ++sig) {
    if (mask & (1ULL << (sig - 1))) signals.push_back(sig);
  }
  return signals;
}

}  // namespace e2e
