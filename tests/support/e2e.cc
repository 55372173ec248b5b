#include "tests/support/e2e.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace e2e {
namespace {

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() + 0 && text[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

double Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

int MillisecondsUntil(double deadline) {
  const double left = deadline - Now();
  return left <= 0 ? 0 : static_cast<int>(left * 1000) + 1;
}

std::vector<char*> NullTerminated(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::string LauncherBinary() { return LAUNCHER_BINARY; }
std::string FakeJavaBinary() { return FAKE_JAVA_BINARY; }

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/launcher-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Restore permissions that a test took away, so that everything can be removed.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& content, int mode) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(content.data(), static_cast<std::streamsize>(content.size()));
  file.close();
  if (!file || chmod(path.c_str(), static_cast<mode_t>(mode)) != 0) {
    throw std::runtime_error("cannot write " + path);
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

void MakeDirs(const std::string& path) { std::filesystem::create_directories(path); }

void CopyFile(const std::string& from, const std::string& to) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

App::App() {
  launcher = dir / "launcher";
  CopyFile(LauncherBinary(), launcher);
  java_home = dir / "jdk";
  MakeDirs(java_home + "/bin");
  CopyFile(FakeJavaBinary(), java_home + "/bin/java");
  record = dir / "java-record.txt";
}

void App::WriteSettings(const std::string& content, const std::string& directory) const {
  WriteFile((directory.empty() ? dir.path() : directory) + "/init.ini", content);
}

void App::WriteExampleSettings() const {
  WriteSettings(java_home + "\n/opt/modules\nmod.a,mod.b\napp.Main\n");
}

std::vector<std::string> App::ExampleJavaArgs() const {
  return {java_home + "/bin/java", "--module-path", "/opt/modules",    "--add-modules",
          "mod.a,mod.b",           "-classpath",    dir.path() + "//", "app.Main"};
}

std::vector<std::string> LaunchEnv(const std::string& path_variable, const std::string& record,
                                   const std::vector<std::string>& extra) {
  std::vector<std::string> env = {"PATH=" + path_variable, "FAKE_JAVA_RECORD=" + record};
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

RunResult RunProgram(const std::string& program, const RunOptions& options) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> argv_text =
      options.argv.empty() ? std::vector<std::string>{program} : options.argv;
  std::vector<std::string> env_text = options.env;
  std::vector<char*> argv = NullTerminated(argv_text);
  std::vector<char*> envp = NullTerminated(env_text);

  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    auto redirect = [](const std::string& path, int target) {
      if (path.empty()) return;
      const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0 || dup2(fd, target) < 0) _exit(122);
    };
    redirect(options.stdout_path, 1);
    redirect(options.stderr_path, 2);
    if (options.close_other_fds && close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
      for (int fd = 3; fd < sysconf(_SC_OPEN_MAX); ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    for (const auto& [from, to] : options.inherited_fds) {
      if (from == to ? fcntl(to, F_SETFD, 0) != 0 : dup2(from, to) < 0) _exit(123);
    }
    for (int fd : options.closed_fds) close(fd);
    if (options.allow_core_dump) {
      rlimit core{};
      if (getrlimit(RLIMIT_CORE, &core) != 0) _exit(124);
      core.rlim_cur = core.rlim_max;
      if (setrlimit(RLIMIT_CORE, &core) != 0) _exit(124);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
    for (int sig : options.ignored_signals) signal(sig, SIG_IGN);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(120);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(121);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (!options.input.empty()) {
    if (write(in[1], options.input.data(), options.input.size()) < 0) {
      // The program may not read its input; that is not a failure of the harness.
    }
  }
  close(in[1]);

  RunResult result;
  const double deadline = Now() + options.timeout_seconds;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_streams = 2;
  while (open_streams > 0) {
    const int wait_ms = static_cast<int>((deadline - Now()) * 1000);
    if (wait_ms <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, wait_ms) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_streams;
      }
    }
  }
  for (auto& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exited = WIFEXITED(status);
  result.exit_code = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.core_dumped = WIFSIGNALED(status) && WCOREDUMP(status);
  return result;
}

JavaRecord ReadJavaRecord(const std::string& path) {
  JavaRecord record;
  std::ifstream file(path, std::ios::binary);
  if (!file) return record;
  record.present = true;
  std::string line;
  while (std::getline(file, line)) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string key = line.substr(0, tab);
    const std::string value = Unescape(line.substr(tab + 1));
    if (key == "arg")
      record.args.push_back(value);
    else if (key == "cwd")
      record.cwd = value;
    else if (key == "env")
      record.env.push_back(value);
    else if (key == "fd")
      record.fds.push_back(value);
    else if (key == "sig")
      record.signals.push_back(value);
    else if (key == "blocked")
      record.blocked.push_back(value);
    else if (key == "pgrp")
      record.pgrp = value;
    else if (key == "altstack")
      record.altstack = value;
    else if (key == "exe")
      record.exe = value;
  }
  return record;
}

}  // namespace e2e
