#include "platform/process.h"

#include <limits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "platform/syscall.h"

extern "C" char** environ;

namespace launcher {
namespace {

// What went wrong in the child before the program started; written by the child into the
// launcher's memory, which it shares until it has started the program or ended.
enum class ChildStage : int { kNone, kChangeDirectory, kExecute };

struct ChildFailure {
  ChildStage stage = ChildStage::kNone;
  int error = 0;
};

// Creates the child with vfork: the launcher is suspended until the child has started the
// program or ended, and the child shares its memory until then, so it reports a failure by
// storing it in `failure` and touches nothing else. Only async-signal-safe calls, no allocation.
// Returns the child's process ID, or -1 when no child could be created.
LAUNCHER_NOINLINE pid_t StartChild(const char* path, char* const* argv, char* const* envp,
                                   const char* directory, volatile ChildFailure* failure) noexcept {
  // vfork is called in this frame, not through a helper that returns: the child runs on this
  // frame until it has started the program or ended.
  const pid_t pid = ::vfork();
  if (pid == 0) {
    if (directory != nullptr) {
      const SysResult changed = Sys([&] { return ::chdir(directory); });
      if (!changed.Ok()) {
        failure->error = changed.error;
        failure->stage = ChildStage::kChangeDirectory;
        ::_exit(127);
      }
    }
    const SysResult executed = Sys([&] { return ::execve(path, argv, envp); });
    failure->error = executed.error;
    failure->stage = ChildStage::kExecute;
    ::_exit(127);
  }
  return pid;
}

// A null-terminated vector of the entries' zero-terminated texts (each cut at its first NUL).
// The texts stay owned by the entries.
std::vector<char*> TextVector(const ByteString* first, const std::vector<ByteString>& rest) {
  std::vector<char*> vector;
  vector.reserve(rest.size() + 2);
  if (first != nullptr) vector.push_back(const_cast<char*>(first->c_str()));
  for (const ByteString& entry : rest) vector.push_back(const_cast<char*>(entry.c_str()));
  vector.push_back(nullptr);
  return vector;
}

const char* FindVariable(const char* const* environment, std::string_view name) noexcept {
  for (; environment != nullptr && *environment != nullptr; ++environment) {
    const std::string_view entry(*environment);
    if (entry.size() > name.size() && entry.substr(0, name.size()) == name &&
        entry[name.size()] == '=') {
      return *environment + name.size() + 1;
    }
  }
  return nullptr;
}

int DecodeWaitStatus(int status) noexcept {
  if ((status & 0x7F) == 0) return (status >> 8) & 0xFF;
  return -status;
}

}  // namespace

void TProcess::SetOptions(TProcessOptions options) noexcept {
  if (options.Contains(poNewConsole)) options = options - poNoConsole;
  if (options.Contains(poRunSuspended)) options = options - poWaitOnExit;
  options_ = options;
}

bool ProgramExists(const char* name) noexcept {
  // A name that reaches PATH_MAX cannot be opened; the system would say ENAMETOOLONG.
  if (std::strlen(name) >= PATH_MAX) return false;
  if (!Sys([&] { return ::access(name, F_OK); }).Ok()) return false;
  struct stat status {};
  const SysResult queried = Sys([&] { return ::stat(name, &status); });
  return !queried.Ok() || !S_ISDIR(status.st_mode);
}

bool FindProgram(const char* name, ByteString& path) {
  if (ProgramExists(name)) {
    path = ByteString(name);
    return true;
  }
  const char* search = FindVariable(environ, "PATH");
  const std::string_view name_view(name);
  ByteString candidate;
  for (std::string_view rest = search != nullptr ? search : ""; !rest.empty();) {
    const std::size_t colon = rest.find(':');
    const std::string_view element = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (element.empty()) continue;
    candidate.Clear();
    for (char byte : element) candidate.Append(byte == '\\' ? '/' : byte);
    if (candidate.back() != '/') candidate.Append('/');
    if (candidate.size() + name_view.size() >= PATH_MAX) continue;  // see ProgramExists
    candidate.Append(name_view);
    if (ProgramExists(candidate.c_str())) {
      path = std::move(candidate);
      return true;
    }
  }
  return false;
}

void TProcess::Execute() {
  std::vector<char*> environment;
  if (!environment_.empty()) environment = TextVector(nullptr, environment_);
  if (executable_.empty()) RaiseError<EProcess>("Cannot execute empty command-line");
  const std::vector<char*> arguments = TextVector(&executable_, parameters_);
  const char* const name = arguments[0];
  char* const* const envp = environment.empty() ? environ : environment.data();

  ByteString path;
  if (!FindProgram(name, path)) {
    RaiseError<EProcess>(ByteString("Executable not found: \"") + name + "\"");
  }

  volatile ChildFailure failure;
  const pid_t pid =
      StartChild(path.c_str(), arguments.data(), envp,
                 current_directory_.empty() ? nullptr : current_directory_.c_str(), &failure);
  if (pid < 0) RaiseError<EProcess>("Failed to Fork process");
  if (failure.stage != ChildStage::kNone) {
    // The child has ended without starting the program: collect it, then report.
    int status = 0;
    Sys([&] { return ::wait4(pid, &status, 0, nullptr); });
    const bool in_directory = failure.stage == ChildStage::kChangeDirectory;
    RaiseError<EProcess>(
        ByteString(in_directory ? "Failed to change directory to \"" : "Failed to execute \"") +
        (in_directory ? current_directory_.c_str() : path.c_str()) +
        "\": " + std::strerror(failure.error));
  }
  process_id_ = pid;
  running_ = true;
  if (options_.Contains(poWaitOnExit) && !options_.Contains(poRunSuspended)) WaitOnExit();
}

bool TProcess::WaitOnExit() {
  if (running_) {
    int status = 0;
    const SysResult waited = Sys([&] { return ::wait4(process_id_, &status, 0, nullptr); });
    exit_status_ = waited.Ok() ? DecodeWaitStatus(status) : -1;
  }
  running_ = false;
  return true;
}

}  // namespace launcher
