// The child process runner: starts one program as a child that shares the launcher's standard
// streams, descriptors, environment, working directory, process group and terminal, and waits
// for its end.
#pragma once

#include <sys/types.h>

#include <string_view>
#include <vector>

#include "platform/byte_string.h"
#include "platform/errors.h"

namespace launcher {

LAUNCHER_ERROR_CLASS(EProcess, Exception);

// The message of an EProcess, which the failure report's second line gives after "EProcess: ", in
// the pieces it is joined from: a fixed text, the program's or directory's name as it was given
// (any bytes), what follows the name, and the system's description of the error. The launcher
// raises these messages and launcher-check predicts them, both from the builders below.
struct ProcessFailureText {
  std::string_view before;
  std::string_view name;
  std::string_view after;
  std::string_view reason;
};

// "Cannot execute empty command-line": the program to start is empty.
constexpr ProcessFailureText EmptyCommandText() noexcept {
  return {"Cannot execute empty command-line", "", "", ""};
}
// "Executable not found: "NAME"": neither `name` nor any candidate through PATH exists.
constexpr ProcessFailureText NotFoundText(std::string_view name) noexcept {
  return {"Executable not found: \"", name, "\"", ""};
}
// "Failed to Fork process": no child could be created.
constexpr ProcessFailureText ForkFailedText() noexcept {
  return {"Failed to Fork process", "", "", ""};
}
// "Failed to execute "PATH": REASON": the program found at `path` could not be started.
constexpr ProcessFailureText ExecuteFailedText(std::string_view path,
                                               std::string_view reason) noexcept {
  return {"Failed to execute \"", path, "\": ", reason};
}
// "Failed to wait for "PATH": REASON": the wait for the program started from `path` failed, so
// that its end is not known.
constexpr ProcessFailureText WaitFailedText(std::string_view path,
                                            std::string_view reason) noexcept {
  return {"Failed to wait for \"", path, "\": ", reason};
}
// "Failed to change directory to "DIRECTORY": REASON": the child could not enter `directory`.
constexpr ProcessFailureText ChangeDirectoryFailedText(std::string_view directory,
                                                       std::string_view reason) noexcept {
  return {"Failed to change directory to \"", directory, "\": ", reason};
}

enum TProcessOption : unsigned {
  poRunSuspended,
  poWaitOnExit,
  poUsePipes,
  poStderrToOutPut,
  poNoConsole,
  poNewConsole,
  poDefaultErrorMode,
  poNewProcessGroup,
  poDebugProcess,
  poDebugOnlyThisProcess,
  poDetached,
  poPassInput,
  poRunIdle,
};

// A set of TProcessOption values.
class TProcessOptions {
 public:
  constexpr TProcessOptions() noexcept = default;
  constexpr TProcessOptions(std::initializer_list<TProcessOption> options) noexcept {
    for (TProcessOption option : options) bits_ |= Bit(option);
  }
  constexpr bool Contains(TProcessOption option) const noexcept { return bits_ & Bit(option); }
  constexpr TProcessOptions operator+(TProcessOption option) const noexcept {
    return FromBits(bits_ | Bit(option));
  }
  constexpr TProcessOptions operator-(TProcessOption option) const noexcept {
    return FromBits(bits_ & ~Bit(option));
  }
  constexpr bool operator==(const TProcessOptions&) const noexcept = default;

 private:
  static constexpr unsigned Bit(TProcessOption option) noexcept { return 1U << option; }
  static constexpr TProcessOptions FromBits(unsigned bits) noexcept {
    TProcessOptions options;
    options.bits_ = bits;
    return options;
  }
  unsigned bits_ = 0;
};

class TProcess {
 public:
  TProcess() = default;
  TProcess(const TProcess&) = delete;
  TProcess& operator=(const TProcess&) = delete;
  // Releases the lists. Does not wait for a child, signal it or close anything.
  ~TProcess() = default;

  // The program to start; also the child's first argument, exactly as set.
  const ByteString& Executable() const noexcept { return executable_; }
  void SetExecutable(ByteString executable) noexcept { executable_ = std::move(executable); }

  // The child's further arguments, in order. An empty entry reaches the child as an empty
  // argument in its place.
  std::vector<ByteString>& Parameters() noexcept { return parameters_; }

  TProcessOptions Options() const noexcept { return options_; }
  // Stores `options`; poNewConsole removes poNoConsole, and poRunSuspended removes poWaitOnExit.
  void SetOptions(TProcessOptions options) noexcept;

  // NAME=value entries; when empty, the child gets the launcher's own environment.
  std::vector<ByteString>& Environment() noexcept { return environment_; }

  // When not empty, the child changes to this directory before the program starts.
  const ByteString& CurrentDirectory() const noexcept { return current_directory_; }
  void SetCurrentDirectory(ByteString directory) noexcept {
    current_directory_ = std::move(directory);
  }

  // Finds the program (the name itself, then the directories of PATH), starts it as a child and,
  // with poWaitOnExit and without poRunSuspended, waits for its end. Raises EProcess when the
  // command is empty, the program is not found, the child cannot be created, or the program
  // cannot be started in it (the child is then collected before the error is raised), and when
  // the wait for the child fails: its exit status would then be unknown.
  //
  // The child's exit status is collected by the launcher alone: a SIGCHLD that the launcher
  // inherited as ignored, which would let the system collect the child unasked and lose its
  // status, takes its default action (which ignores the signal all the same) from here on, and the
  // child puts the ignore back just before the program starts, which so inherits it unchanged.
  void Execute();

  // Waits for a started child and stores its exit status: the exit code 0..255, or minus the
  // whole status word for a child ended by a signal, or -1 when the wait fails (WaitError then
  // tells why). Always true.
  bool WaitOnExit();

  bool Running() const noexcept { return running_; }
  pid_t ProcessID() const noexcept { return process_id_; }
  int ExitStatus() const noexcept { return exit_status_; }
  // The error number of the last wait that failed; 0 when it succeeded.
  int WaitError() const noexcept { return wait_error_; }

 private:
  ByteString executable_;
  std::vector<ByteString> parameters_;
  TProcessOptions options_;
  std::vector<ByteString> environment_;
  ByteString current_directory_;
  bool running_ = false;
  pid_t process_id_ = 0;
  int exit_status_ = 0;
  int wait_error_ = 0;
};

// The existence test of the program lookup: `name` exists (links followed) and is not a
// directory.
bool ProgramExists(const char* name) noexcept;

// The program lookup: `name` itself when it passes the existence test, otherwise the first
// candidate built from the launcher's PATH that does. Returns false when nothing is found, and
// always for a name that holds a NUL byte: the system would read such a name only up to the NUL
// and so start another program than the one named.
bool FindProgram(std::string_view name, ByteString& path);

}  // namespace launcher
