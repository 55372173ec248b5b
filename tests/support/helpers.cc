#include "tests/support/helpers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "tests/support/emulation.h"

namespace e2e {

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
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
  // Line 1, line 2, line 3, 0 to 16 return addresses and the empty line; the text ends with the
  // empty line, "...\n\n", so the split gives two final empty entries.
  std::vector<std::string> lines = SplitLines(err);
  ASSERT_GE(lines.size(), 5U) << err;
  ASSERT_LE(lines.size(), 21U) << err;
  ASSERT_EQ(lines.back(), "") << "the report must end with a line feed\n" << err;
  lines.pop_back();
  std::smatch address;
  ASSERT_TRUE(std::regex_match(lines[0], address, first)) << err;
  EXPECT_NE(address[1].str(), std::string(16, '0')) << err;
  EXPECT_EQ(lines[1], line2) << err;
  EXPECT_EQ(lines[2], "  $" + address[1].str()) << err;
  EXPECT_EQ(lines.back(), "") << "the report must end with an empty line\n" << err;
  const std::size_t frames = lines.size() - 4;
  EXPECT_LE(frames, 16U);
  for (std::size_t i = 3; i < 3 + frames; ++i) {
    EXPECT_TRUE(std::regex_match(lines[i], frame)) << "line " << i + 1 << ": " << lines[i];
  }
}

std::string FindTool(const std::string& name, std::string_view search_path) {
  std::stringstream elements{std::string(search_path)};
  for (std::string directory; std::getline(elements, directory, ':');) {
    if (directory.empty()) continue;
    const std::string candidate = directory + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

std::string FindTool(const std::string& name) {
  const char* path = std::getenv("PATH");
  return FindTool(name, path != nullptr ? path : "/usr/bin:/bin");
}

RunResult RunUnderStrace(const std::string& strace, const std::vector<std::string>& strace_options,
                         const std::string& trace_path, const std::string& program,
                         const RunOptions& options, const StraceMode& mode) {
  RunOptions traced = options;
  traced.argv.clear();
  if (!mode.setarch.empty()) {
    utsname system{};
    if (uname(&system) != 0) throw std::runtime_error("uname failed");
    traced.argv = {mode.setarch, system.machine, "-R"};
  }
  traced.argv.insert(traced.argv.end(), {strace, "--quiet=all", "-o", trace_path});
  if (mode.follow_children) traced.argv.push_back("-f");
  traced.argv.insert(traced.argv.end(), strace_options.begin(), strace_options.end());
  traced.argv.push_back("--");
  traced.argv.push_back(program);
  if (options.argv.size() > 1) {
    traced.argv.insert(traced.argv.end(), options.argv.begin() + 1, options.argv.end());
  }
  return RunProgram(traced.argv.front(), traced);
}

Pty::Pty() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128] = {};
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, name, sizeof name) != 0) {
    throw std::runtime_error("cannot open a pseudo-terminal");
  }
  slave_path_ = name;
}

Pty::~Pty() { close(master_); }

void Pty::Type(std::string_view keys) const {
  if (write(master_, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) {
    throw std::runtime_error("cannot type on the pseudo-terminal");
  }
}

std::string Pty::ReadUntilClosed(double timeout_seconds, bool* timed_out) const {
  std::string shown;
  if (timed_out != nullptr) *timed_out = false;
  const double deadline = Now() + timeout_seconds;
  for (;;) {
    pollfd ready{master_, POLLIN, 0};
    const int n = poll(&ready, 1, MillisecondsUntil(deadline));
    if (n == 0) {
      if (timed_out != nullptr) *timed_out = true;
      return shown;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return shown;
    }
    char buffer[4096];
    const ssize_t got = read(master_, buffer, sizeof buffer);
    if (got > 0) {
      shown.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      return shown;  // EIO: every slave end is closed
    }
  }
}

OrphanWatch::OrphanWatch() {
  adopting_ = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
  if (!adopting_ && !kUnderEmulation) throw std::runtime_error("PR_SET_CHILD_SUBREAPER");
}

OrphanWatch::~OrphanWatch() {
  TakeLeftovers();
  if (adopting_) prctl(PR_SET_CHILD_SUBREAPER, 0);
  // Collect whatever else has ended, so that it does not disturb later tests.
  for (int status = 0; waitpid(-1, &status, WNOHANG) > 0;) {
  }
}

bool OrphanWatch::NoneLeft() const {
  int status = 0;
  return waitpid(-1, &status, WNOHANG | __WALL) < 0 && errno == ECHILD;
}

std::vector<pid_t> OrphanWatch::TakeLeftovers() const {
  std::vector<pid_t> leftovers;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat_file(entry.path() / "stat");
    std::string stat;
    std::getline(stat_file, stat);
    const auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 2));
    char state = 0;
    pid_t parent = 0;
    fields >> state >> parent;
    if (parent == getpid()) leftovers.push_back(static_cast<pid_t>(std::stol(name)));
  }
  for (pid_t pid : leftovers) {
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  return leftovers;
}

}  // namespace e2e
