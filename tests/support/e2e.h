// Helpers for end-to-end tests: temporary application directories, running a real program with
// a chosen working directory, environment and arguments, and reading what the stand-in java
// recorded.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace e2e {

// Paths of the binaries under test (set by the build).
std::string LauncherBinary();
std::string FakeJavaBinary();

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // `relative` below this directory.
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// Seconds on the monotonic clock, and the milliseconds from now until `deadline` on it (at least
// 1 while any time is left, 0 once it has passed), as poll takes them.
double Now();
int MillisecondsUntil(double deadline);

// Pointers to the texts followed by a null pointer, as execve takes an argument vector or an
// environment; valid while `texts` is unchanged.
std::vector<char*> NullTerminated(std::vector<std::string>& texts);

void WriteFile(const std::string& path, const std::string& content, int mode = 0644);
std::string ReadFile(const std::string& path);
void MakeDirs(const std::string& path);
// Copies `from` to `to`, keeping the mode bits.
void CopyFile(const std::string& from, const std::string& to);

// A directory holding a copy of the launcher ("<dir>/launcher") and a Java home whose bin/java
// is the stand-in ("<dir>/jdk/bin/java").
struct App {
  TempDir dir;
  std::string launcher;  // the launcher's path
  std::string java_home;
  std::string record;  // where the stand-in java writes its record
  App();
  // Writes init.ini into `directory` (the app directory when empty).
  void WriteSettings(const std::string& content, const std::string& directory = "") const;
  // The four-line init.ini of the worked example (this app's Java home, /opt/modules,
  // mod.a,mod.b, app.Main), and the argument vector Java receives for it.
  void WriteExampleSettings() const;
  std::vector<std::string> ExampleJavaArgs() const;
};

struct RunOptions {
  std::vector<std::string> argv;  // argument 0 first; the program path when empty
  std::string cwd;                // the caller's when empty
  std::vector<std::string> env;   // the exact environment
  std::string input;              // written to standard input (a pipe)
  std::vector<int> closed_fds;    // descriptors among 0, 1, 2 to start the program without
  std::vector<int> ignored_signals;
  double timeout_seconds = 60;
  // When set, standard output or standard error goes to this file (created or truncated) instead
  // of a pipe, and the matching text of the result stays empty.
  std::string stdout_path;
  std::string stderr_path;
  // Descriptors of the caller handed to the program: {caller's descriptor, number in the
  // program}, without close-on-exec.
  std::vector<std::pair<int, int>> inherited_fds;
  // Closes every descriptor above 2 that is not one of `inherited_fds`, so the program starts
  // with exactly its standard descriptors and those.
  bool close_other_fds = false;
  // Lets the program write a core dump of any size (its soft limit raised to the hard one), so
  // that a core dump it fails to rule out shows.
  bool allow_core_dump = false;
};

struct RunResult {
  bool exited = false;  // ended by exit (else by a signal)
  int exit_code = -1;
  int signal = 0;
  bool core_dumped = false;  // ended by a signal, with a core dump
  bool timed_out = false;
  std::string out;
  std::string err;
};

RunResult RunProgram(const std::string& program, const RunOptions& options);

// The environment of a launch: PATH as given, plus FAKE_JAVA_RECORD and `extra`.
std::vector<std::string> LaunchEnv(const std::string& path_variable, const std::string& record,
                                   const std::vector<std::string>& extra = {});

// What the stand-in java recorded (values unescaped to their bytes).
struct JavaRecord {
  bool present = false;
  std::vector<std::string> args;
  std::string cwd;
  std::vector<std::string> env;
  std::vector<std::string> fds;      // "<number> <target>"
  std::vector<std::string> signals;  // "<number> ignore|handler"
  std::vector<std::string> blocked;
  std::string pgrp;
  std::string altstack;  // "disabled" or "enabled"
  std::string exe;  // the program file that ran ("/proc/self/exe")
};
JavaRecord ReadJavaRecord(const std::string& path);

}  // namespace e2e
