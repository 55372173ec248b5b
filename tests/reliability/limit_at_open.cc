// limit_at_open LIMIT NAME PROGRAM [ARG...]
//
// Runs PROGRAM and lowers its descriptor limit (the soft RLIMIT_NOFILE) to LIMIT exactly while it
// runs the openat call whose path is NAME, so that the open meets the real limit of the kernel.
// Before that call the program runs unhindered (a dynamically linked program needs descriptors to
// load its libraries) and afterwards the old limit is back (what it starts inherits the usual one).
// The program is followed with ptrace until that call has returned, then released. Ends as the
// program ends: with its exit status, or by its signal.
#include <elf.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void Fail(const char* what) {
  std::perror(what);
  std::exit(125);
}

pid_t Wait(pid_t pid, int* status) {
  for (;;) {
    const pid_t got = waitpid(pid, status, __WALL);
    if (got >= 0 || errno != EINTR) return got;
  }
}

// The zero-terminated text at `address` in the traced process.
std::string ReadText(pid_t pid, unsigned long long address) {
  const std::string memory = "/proc/" + std::to_string(pid) + "/mem";
  const int fd = open(memory.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char text[4096] = {};
  const ssize_t n = pread(fd, text, sizeof text - 1, static_cast<off_t>(address));
  close(fd);
  return n > 0 ? std::string(text, strnlen(text, static_cast<std::size_t>(n))) : std::string();
}

[[noreturn]] void EndAs(int status) {
  if (WIFEXITED(status)) std::exit(WEXITSTATUS(status));
  signal(WTERMSIG(status), SIG_DFL);
  kill(getpid(), WTERMSIG(status));
  std::exit(126);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s LIMIT NAME PROGRAM [ARG...]\n", argv[0]);
    return 125;
  }
  const rlim_t limit = std::strtoul(argv[1], nullptr, 10);
  const std::string name = argv[2];

  const pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(125);
    raise(SIGSTOP);
    execv(argv[3], argv + 3);
    _exit(127);
  }
  int status = 0;
  if (Wait(pid, &status) != pid || !WIFSTOPPED(status)) Fail("waiting for the program to stop");
  if (ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL) != 0) {
    Fail("PTRACE_SETOPTIONS");
  }

  bool entering = true;  // the next system-call stop is an entry
  bool limited = false;
  rlimit saved{};
  int deliver = 0;
  for (;;) {
    if (ptrace(PTRACE_SYSCALL, pid, nullptr, deliver) != 0) Fail("PTRACE_SYSCALL");
    deliver = 0;
    if (Wait(pid, &status) != pid) Fail("waitpid");
    if (WIFEXITED(status) || WIFSIGNALED(status)) EndAs(status);
    const int stop = WSTOPSIG(status);
    if (stop != (SIGTRAP | 0x80)) {
      // The stop after execve and the first SIGSTOP are not signals for the program.
      if (stop != SIGTRAP && stop != SIGSTOP) deliver = stop;
      continue;
    }
    // The number of the call and its second argument, the path.
    user_regs_struct registers{};
#if defined(__aarch64__)
    iovec register_set{&registers, sizeof registers};
    if (ptrace(PTRACE_GETREGSET, pid, NT_PRSTATUS, &register_set) != 0) Fail("PTRACE_GETREGSET");
    const unsigned long long number = registers.regs[8];
    const unsigned long long path = registers.regs[1];
#else
    if (ptrace(PTRACE_GETREGS, pid, nullptr, &registers) != 0) Fail("PTRACE_GETREGS");
    const unsigned long long number = registers.orig_rax;
    const unsigned long long path = registers.rsi;
#endif
    if (entering && number == SYS_openat && ReadText(pid, path) == name) {
      // Only the soft limit: raising it back needs no privilege.
      if (prlimit(pid, RLIMIT_NOFILE, nullptr, &saved) != 0) Fail("prlimit");
      const rlimit lowered{limit, saved.rlim_max};
      if (prlimit(pid, RLIMIT_NOFILE, &lowered, nullptr) != 0) Fail("prlimit");
      limited = true;
    } else if (!entering && limited) {
      if (prlimit(pid, RLIMIT_NOFILE, &saved, nullptr) != 0) Fail("prlimit");
      if (ptrace(PTRACE_DETACH, pid, nullptr, nullptr) != 0) Fail("PTRACE_DETACH");
      break;
    }
    entering = !entering;
  }
  if (Wait(pid, &status) != pid) Fail("waitpid");
  EndAs(status);
}
