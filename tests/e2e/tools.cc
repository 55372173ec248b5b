#include "tests/e2e/tools.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "tests/support/emulation.h"

namespace e2e {
namespace {

double Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::string FindTool(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream elements(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string directory; std::getline(elements, directory, ':');) {
    if (directory.empty()) continue;
    const std::string candidate = directory + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

void ExpectFailureReport(const std::string& err, const std::string& line2) {
  static const std::regex first("An unhandled exception occurred at \\$([0-9A-F]{16}):");
  static const std::regex frame("  \\$[0-9A-F]{16}");
  // The text ends with the empty line: "...\n\n", so the split gives two final empty entries.
  std::vector<std::string> lines = SplitLines(err);
  ASSERT_GE(lines.size(), 5U) << err;
  ASSERT_EQ(lines.back(), "") << "the report must end with a line feed";
  lines.pop_back();
  std::smatch address;
  ASSERT_TRUE(std::regex_match(lines[0], address, first)) << lines[0];
  EXPECT_NE(address[1].str(), std::string(16, '0'));
  EXPECT_EQ(lines[1], line2);
  EXPECT_EQ(lines[2], "  $" + address[1].str());
  EXPECT_EQ(lines.back(), "") << "the report must end with an empty line";
  const std::size_t frames = lines.size() - 4;
  EXPECT_LE(frames, 16U);
  for (std::size_t i = 3; i < 3 + frames; ++i) {
    EXPECT_TRUE(std::regex_match(lines[i], frame)) << "line " << i + 1 << ": " << lines[i];
  }
}

RunResult RunUnderStrace(const std::string& strace, const std::vector<std::string>& strace_options,
                         const std::string& trace_path, const std::string& program,
                         const RunOptions& options) {
  RunOptions traced = options;
  traced.argv = {strace, "-qq", "-o", trace_path};
  traced.argv.insert(traced.argv.end(), strace_options.begin(), strace_options.end());
  traced.argv.push_back("--");
  traced.argv.push_back(program);
  if (options.argv.size() > 1) {
    traced.argv.insert(traced.argv.end(), options.argv.begin() + 1, options.argv.end());
  }
  return RunProgram(strace, traced);
}

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
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  fcntl(master, F_SETFD, FD_CLOEXEC);
  std::vector<std::string> argv_text =
      options.argv.empty() ? std::vector<std::string>{program} : options.argv;
  std::vector<std::string> env_text = options.env;
  std::vector<char*> argv = Pointers(argv_text);
  std::vector<char*> envp = Pointers(env_text);

  const pid_t pid = fork();
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

  RunResult result;
  const double deadline = Now() + options.timeout_seconds;
  std::string raw;
  for (;;) {
    const int wait_ms = static_cast<int>((deadline - Now()) * 1000);
    if (wait_ms <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, wait_ms) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    char buffer[4096];
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n > 0) {
      raw.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;  // EIO: every holder of the terminal's other side has closed it
    }
  }
  close(master);
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

OrphanWatch::OrphanWatch() {
  adopting_ = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
  if (!adopting_ && !kUnderEmulation) throw std::runtime_error("PR_SET_CHILD_SUBREAPER");
}

OrphanWatch::~OrphanWatch() {
  if (adopting_) prctl(PR_SET_CHILD_SUBREAPER, 0);
  // Collect whatever was left, so that it does not disturb later tests.
  for (int status = 0; waitpid(-1, &status, WNOHANG) > 0;) {
  }
}

bool OrphanWatch::NoneLeft() const {
  int status = 0;
  return waitpid(-1, &status, WNOHANG | __WALL) < 0 && errno == ECHILD;
}

}  // namespace e2e
