#include "tests/e2e/tools.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

#include "tests/support/helpers.h"

namespace e2e {

int CallNumberOf(const std::string& trace_path, const std::string& needle) {
  const std::vector<std::string> lines = SplitLines(ReadFile(trace_path));
  int number = 0;
  for (const std::string& line : lines) {
    // Signal and exit lines ("--- SIG", "+++ exited") are not calls.
    if (line.empty() || line.starts_with("---") || line.starts_with("+++")) continue;
    ++number;
    if (line.find(needle) != std::string::npos) return number;
  }
  return 0;
}

RunResult RunOnTerminal(const std::string& program, const RunOptions& options) {
  std::vector<std::string> argv_text =
      options.argv.empty() ? std::vector<std::string>{program} : options.argv;
  std::vector<std::string> env_text = options.env;
  std::vector<char*> argv = NullTerminated(argv_text);
  std::vector<char*> envp = NullTerminated(env_text);

  RunResult result;
  std::string raw;
  pid_t pid = -1;
  {
    Pty terminal;
    // Opened before the fork, so that the terminal has a holder from the start; not close-on-exec,
    // since it may itself be one of descriptors 0 to 2 when the test was started without them.
    const int slave = open(terminal.slave_path().c_str(), O_RDWR | O_NOCTTY);
    if (slave < 0) throw std::runtime_error("cannot open " + terminal.slave_path());
    pid = fork();
    if (pid == 0) {
      setsid();
      ioctl(slave, TIOCSCTTY, 0);
      for (int fd = 0; fd < 3; ++fd) dup2(slave, fd);
      if (slave > 2) close(slave);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
      if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(120);
      execve(program.c_str(), argv.data(), envp.data());
      _exit(121);
    }
    close(slave);
    raw = terminal.ReadUntilClosed(options.timeout_seconds, &result.timed_out);
    if (result.timed_out) kill(pid, SIGKILL);
  }  // the master end is closed before the wait, as before a hang-up
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exited = WIFEXITED(status);
  result.exit_code = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    result.out += raw[i];
  }
  return result;
}

}  // namespace e2e
