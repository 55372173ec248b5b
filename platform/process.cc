#include "platform/process.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "platform/syscall.h"

extern "C" char** environ;

namespace launcher {
namespace {

// What went wrong in the child before the program started.
enum class ChildStage : int { kNone, kChangeDirectory, kExecute };

struct ChildFailure {
  ChildStage stage = ChildStage::kNone;
  int error = 0;
};

// The way the child's failure reaches the launcher whether or not the child shares its memory:
// vfork lets it share, but where vfork behaves as fork (an emulator such as qemu-user, some
// sandboxes) a record left in memory is lost. Both ends are close-on-exec, so the start of the
// program closes the child's copy and the launcher reads the end of the pipe: the program started.
// The program inherits no end of it. When no pipe can be made (the descriptor limit), the shared
// record alone carries the failure, as vfork allows.
class ChildFailurePipe {
 public:
  ChildFailurePipe() noexcept {
    int ends[2];
    if (Sys([&] { return ::pipe2(ends, O_CLOEXEC); }).Ok()) {
      read_end_ = ends[0];
      write_end_ = ends[1];
    }
  }
  ChildFailurePipe(const ChildFailurePipe&) = delete;
  ChildFailurePipe& operator=(const ChildFailurePipe&) = delete;
  ~ChildFailurePipe() { Close(); }

  // The child's end, or -1 when there is no pipe.
  int write_end() const noexcept { return write_end_; }

  // In the launcher, after the child was created (or could not be): closes the launcher's copy of
  // the write end, so the read ends once the child has started the program or ended, reads what
  // the child reported, and closes the pipe. Nothing is reported when there is no pipe, the
  // program started, or the read failed.
  ChildFailure Receive() noexcept {
    ChildFailure failure;
    if (read_end_ < 0) return failure;
    CloseDescriptor(write_end_);
    write_end_ = -1;
    // The child writes the record with one write, which a pipe keeps whole (it is below PIPE_BUF).
    const SysResult got = Sys([&] { return ::read(read_end_, &failure, sizeof failure); });
    Close();
    if (got.value != static_cast<long>(sizeof failure)) return ChildFailure{};
    return failure;
  }

 private:
  void Close() noexcept {
    if (read_end_ >= 0) CloseDescriptor(read_end_);
    if (write_end_ >= 0) CloseDescriptor(write_end_);
    read_end_ = -1;
    write_end_ = -1;
  }

  int read_end_ = -1;
  int write_end_ = -1;
};

// In the child, before the program starts: every signal that has a handler in the launcher gets
// its default action back. The child may share the launcher's memory until the program has
// started, so a handler of the launcher's that ran there (a fault handler, say) would raise,
// report and end on the launcher's own state. Ignored signals stay ignored, as execve keeps them.
void ResetCaughtSignals() noexcept {
  struct sigaction action {};
  for (int signal = 1; signal < NSIG; ++signal) {
    // Fails for SIGKILL, SIGSTOP and the C library's own signals, which are never caught here.
    if (!Sys([&] { return ::sigaction(signal, nullptr, &action); }).Ok()) continue;
    if (action.sa_handler == SIG_DFL || action.sa_handler == SIG_IGN) continue;
    struct sigaction reset {};
    reset.sa_handler = SIG_DFL;
    Sys([&] { return ::sigaction(signal, &reset, nullptr); });
  }
}

// Gives SIGCHLD its default action when the launcher inherited it as ignored, and returns whether
// it did. An ignored SIGCHLD makes the system collect every child as it ends, and its exit status
// with it, so that the wait for it fails; the default action ignores the signal as well, but
// leaves the child to be collected.
bool CollectChildrenOurselves() noexcept {
  struct sigaction action {};
  if (!Sys([&] { return ::sigaction(SIGCHLD, nullptr, &action); }).Ok() ||
      action.sa_handler != SIG_IGN) {
    return false;
  }
  struct sigaction reset {};
  reset.sa_handler = SIG_DFL;
  return Sys([&] { return ::sigaction(SIGCHLD, &reset, nullptr); }).Ok();
}

// In the child: reports why the program was not started, into the launcher's memory (shared
// under vfork) and through the pipe when there is one (`failure_pipe` is its write end, or -1),
// and ends the child with 127. Async-signal-safe.
[[noreturn]] void FailInChild(ChildStage stage, int error, volatile ChildFailure* shared,
                              int failure_pipe) noexcept {
  shared->error = error;
  shared->stage = stage;
  if (failure_pipe >= 0) {
    const ChildFailure failure{stage, error};
    Sys([&] { return ::write(failure_pipe, &failure, sizeof failure); });
  }
  ::_exit(127);
}

// Creates the child with vfork: the launcher is suspended until the child has started the
// program or ended, and the child may share its memory until then, so it touches nothing but
// the record of its failure (`failure`, and the pipe `failure_pipe` when not -1). Only
// async-signal-safe calls, no allocation.
//
// Every signal is blocked from before the child's creation until the launcher goes on, so no
// handler of the launcher's can run in the child; the child sets the caught signals back to their
// default and restores the launcher's mask only just before execve. A signal that reaches the
// child in that last moment finds the default action: it ends the child, never the launcher.
// Returns the child's process ID, or -1 when no child could be created.
//
// With `ignore_sigchld`, the child ignores SIGCHLD again before execve, as the launcher did when
// it started (see CollectChildrenOurselves).
LAUNCHER_NOINLINE pid_t StartChild(const char* path, char* const* argv, char* const* envp,
                                   const char* directory, volatile ChildFailure* failure,
                                   int failure_pipe, bool ignore_sigchld) noexcept {
  sigset_t all;
  sigset_t launcher_mask;
  sigfillset(&all);
  Sys([&] { return ::sigprocmask(SIG_SETMASK, &all, &launcher_mask); });
  // vfork is called in this frame, not through a helper that returns: the child runs on this
  // frame until it has started the program or ended.
  const pid_t pid = ::vfork();
  if (pid == 0) {
    ResetCaughtSignals();
    if (ignore_sigchld) {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      Sys([&] { return ::sigaction(SIGCHLD, &ignore, nullptr); });
    }
    if (directory != nullptr) {
      const SysResult changed = Sys([&] { return ::chdir(directory); });
      if (!changed.Ok()) {
        FailInChild(ChildStage::kChangeDirectory, changed.error, failure, failure_pipe);
      }
    }
    Sys([&] { return ::sigprocmask(SIG_SETMASK, &launcher_mask, nullptr); });
    const SysResult executed = Sys([&] { return ::execve(path, argv, envp); });
    FailInChild(ChildStage::kExecute, executed.error, failure, failure_pipe);
  }
  Sys([&] { return ::sigprocmask(SIG_SETMASK, &launcher_mask, nullptr); });
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

bool FindProgram(std::string_view name, ByteString& path) {
  // A name with a NUL byte would reach the system cut at the NUL: that is another program.
  if (name.find('\0') != std::string_view::npos) return false;
  // Such a name cannot be opened, alone or at the end of a candidate (see ProgramExists); leaving
  // at once spares a copy of a name that may be as long as memory allows.
  if (name.size() >= PATH_MAX) return false;
  ByteString candidate(name);
  if (ProgramExists(candidate.c_str())) {
    path = std::move(candidate);
    return true;
  }
  const char* search = FindVariable(environ, "PATH");
  for (std::string_view rest = search != nullptr ? search : ""; !rest.empty();) {
    const std::size_t colon = rest.find(':');
    const std::string_view element = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (element.empty()) continue;
    candidate.Clear();
    for (char byte : element) candidate.Append(byte == '\\' ? '/' : byte);
    if (candidate.back() != '/') candidate.Append('/');
    if (candidate.size() + name.size() >= PATH_MAX) continue;  // see ProgramExists
    candidate.Append(name);
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
  if (executable_.empty()) {
    constexpr ProcessFailureText text = EmptyCommandText();
    RaiseError<EProcess>({text.before, text.name, text.after, text.reason});
  }
  const std::vector<char*> arguments = TextVector(&executable_, parameters_);
  char* const* const envp = environment.empty() ? environ : environment.data();

  ByteString path;
  if (!FindProgram(executable_.view(), path)) {
    const ProcessFailureText text = NotFoundText(executable_.view());
    RaiseError<EProcess>({text.before, text.name, text.after, text.reason});
  }

  const bool ignore_sigchld = CollectChildrenOurselves();
  volatile ChildFailure shared;
  ChildFailurePipe pipe;
  const pid_t pid = StartChild(path.c_str(), arguments.data(), envp,
                               current_directory_.empty() ? nullptr : current_directory_.c_str(),
                               &shared, pipe.write_end(), ignore_sigchld);
  // The pipe is closed before anything is raised: a launcher started with descriptor 2 closed may
  // hold an end of it there, where the failure report goes.
  ChildFailure failure = pipe.Receive();
  if (failure.stage == ChildStage::kNone) failure = {shared.stage, shared.error};
  if (pid < 0) {
    constexpr ProcessFailureText text = ForkFailedText();
    RaiseError<EProcess>({text.before, text.name, text.after, text.reason});
  }
  if (failure.stage != ChildStage::kNone) {
    // The child has ended without starting the program: collect it, then report.
    int status = 0;
    Sys([&] { return ::wait4(pid, &status, 0, nullptr); });
    char unknown[32];
    const char* reason = ErrorDescription(failure.error, unknown);
    const ProcessFailureText text =
        failure.stage == ChildStage::kChangeDirectory
            ? ChangeDirectoryFailedText(current_directory_.c_str(), reason)
            : ExecuteFailedText(path.c_str(), reason);
    RaiseError<EProcess>({text.before, text.name, text.after, text.reason});
  }
  process_id_ = pid;
  running_ = true;
  if (options_.Contains(poWaitOnExit) && !options_.Contains(poRunSuspended)) {
    WaitOnExit();
    if (wait_error_ != 0) {
      char unknown[32];
      const ProcessFailureText text =
          WaitFailedText(path.view(), ErrorDescription(wait_error_, unknown));
      RaiseError<EProcess>({text.before, text.name, text.after, text.reason});
    }
  }
}

bool TProcess::WaitOnExit() {
  if (running_) {
    int status = 0;
    const SysResult waited = Sys([&] { return ::wait4(process_id_, &status, 0, nullptr); });
    exit_status_ = waited.Ok() ? DecodeWaitStatus(status) : -1;
    wait_error_ = waited.error;
  }
  running_ = false;
  return true;
}

}  // namespace launcher
