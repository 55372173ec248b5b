// Every system call the launcher makes, failed on purpose in the real binary with strace.
//
// Each row names one call and the error it is made to fail with. The launcher is first run under
// the same tracing without any fault: that run is the reference (Java's arguments and
// descriptors, or the failure report byte for byte, since address randomisation is off) and the
// trace tells which invocation of the system call in which process is the launcher's own (the
// dynamic loader and the sanitizer runtime make calls of the same kind). The second run fails
// exactly that invocation. EINTR, on the calls the launcher repeats, must change nothing at all;
// a real failure must give what the launcher promises for it. No row may leave a process behind
// or write to standard output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tests/reliability/harness.h"
#include "tests/support/e2e.h"
#include "tests/support/emulation.h"
#include "tests/support/helpers.h"

namespace reliability {
namespace {

enum class Scenario {
  kLaunch,           // a four-line init.ini that names the stand-in Java home
  kLongModulePath,   // the same, with a 400-byte module path that spans the first two blocks
  kJavaMissing,      // a Java home without bin/java: the launcher reports "Executable not found"
  kJavaIsDirectory,  // the same, with bin/java a directory (only the stat call tells)
};

enum class Outcome {
  kAsWithout,           // the same as the run without the fault: Java's arguments and
                        // descriptors, exit 3 (Java's), nothing printed (kJavaMissing: the same
                        // report)
  kArgumentsAsWithout,  // the same arguments, exit 3, nothing printed; an injected failure of
                        // close skips the call, so the file stays open as the kernel never leaves
                        // it, and descriptors are not compared
  kEmptySettings,       // init.ini unread: "java" from PATH with empty values
  kNoOwnDirectory,      // own path unknown: the class path is "/"
  kPartialModulePath,   // read failed in line 2: line 1 whole, line 2 as far as it arrived
  kReport,              // the failure report with line 2 `line2`, exit 217, no Java
  kReportCut,           // exit 217 and only the first `kept` bytes of the report
  kWaitFails,           // the wait fails: Java did run, but its end is unknown; the report with
                        // `line2` and exit 217 at once
  kChildKilled,         // the child ends by a signal before Java starts: the launcher waits for
                        // it, writes nothing on its behalf and ends by the same signal, as after
                        // a Java killed by it
};

constexpr int kEveryTime = 0;

struct Fault {
  const char* name;
  const char* call;    // the system call
  const char* path;    // strace -P filter: "" none, "init.ini", or "%J" (the Java program)
  const char* match;   // the traced call's text starts with this
  int occurrence;      // the n-th such call of the process that makes the first; 0: the last
  const char* inject;  // strace's inject action
  Scenario scenario;
  Outcome outcome;
  const char* line2 = "";  // kReport (%J: the Java program)
  std::size_t kept = 0;    // kReportCut
  int times = 1;           // consecutive invocations that fail (kEveryTime: all from then on)
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

const Fault kFaults[] = {
    // The launcher's own path: repeated on EINTR; when it cannot be read the class path is "/".
    {"ReadlinkInterrupted", "readlink", "", "readlink(\"/proc/self/exe\"", 0, "error=EINTR",
     Scenario::kLaunch, Outcome::kAsWithout},
    {"ReadlinkNoProc", "readlink", "", "readlink(\"/proc/self/exe\"", 0, "error=ENOENT",
     Scenario::kLaunch, Outcome::kNoOwnDirectory},
    {"ReadlinkDenied", "readlink", "", "readlink(\"/proc/self/exe\"", 0, "error=EACCES",
     Scenario::kLaunch, Outcome::kNoOwnDirectory},
    {"ReadlinkOutOfMemory", "readlink", "", "readlink(\"/proc/self/exe\"", 0, "error=ENOMEM",
     Scenario::kLaunch, Outcome::kNoOwnDirectory},
    {"ReadlinkEmptyTarget", "readlink", "", "readlink(\"/proc/self/exe\"", 0, "retval=0",
     Scenario::kLaunch, Outcome::kNoOwnDirectory},

    // Opening init.ini: repeated on EINTR without limit; any failure is a missing file.
    {"OpenInterrupted", "openat", "init.ini", "openat(", 1, "error=EINTR", Scenario::kLaunch,
     Outcome::kAsWithout},
    {"OpenInterrupted100Times", "openat", "init.ini", "openat(", 1, "error=EINTR",
     Scenario::kLaunch, Outcome::kAsWithout, "", 0, 100},
    {"OpenTooManyFiles", "openat", "init.ini", "openat(", 1, "error=EMFILE", Scenario::kLaunch,
     Outcome::kEmptySettings},
    {"OpenTooManyFilesInSystem", "openat", "init.ini", "openat(", 1, "error=ENFILE",
     Scenario::kLaunch, Outcome::kEmptySettings},
    {"OpenLinkLoop", "openat", "init.ini", "openat(", 1, "error=ELOOP", Scenario::kLaunch,
     Outcome::kEmptySettings},
    {"OpenInvalidArgument", "openat", "init.ini", "openat(", 1, "error=EINVAL", Scenario::kLaunch,
     Outcome::kEmptySettings},
    {"OpenBadAddress", "openat", "init.ini", "openat(", 1, "error=EFAULT", Scenario::kLaunch,
     Outcome::kEmptySettings},

    // Reading init.ini: repeated on EINTR and EAGAIN; a failure keeps what arrived before it.
    {"ReadInterrupted", "read", "init.ini", "read(", 1, "error=EINTR", Scenario::kLaunch,
     Outcome::kAsWithout},
    {"ReadWouldBlock", "read", "init.ini", "read(", 1, "error=EAGAIN", Scenario::kLaunch,
     Outcome::kAsWithout},
    {"ReadInterrupted100Times", "read", "init.ini", "read(", 1, "error=EINTR", Scenario::kLaunch,
     Outcome::kAsWithout, "", 0, 100},
    {"SecondReadInterrupted", "read", "init.ini", "read(", 2, "error=EINTR",
     Scenario::kLongModulePath, Outcome::kAsWithout},
    {"FirstReadBadAddress", "read", "init.ini", "read(", 1, "error=EFAULT", Scenario::kLaunch,
     Outcome::kEmptySettings},
    {"SecondReadInvalid", "read", "init.ini", "read(", 2, "error=EINVAL", Scenario::kLongModulePath,
     Outcome::kPartialModulePath},
    {"SecondReadOutOfMemory", "read", "init.ini", "read(", 2, "error=ENOMEM",
     Scenario::kLongModulePath, Outcome::kPartialModulePath},

    // Closing init.ini: repeated on EINTR; a failure comes after every value has been read.
    {"CloseInterrupted", "close", "init.ini", "close(", 1, "error=EINTR", Scenario::kLaunch,
     Outcome::kAsWithout},
    {"CloseInterrupted100Times", "close", "init.ini", "close(", 1, "error=EINTR", Scenario::kLaunch,
     Outcome::kAsWithout, "", 0, 100},
    {"CloseInputOutputError", "close", "init.ini", "close(", 1, "error=EIO", Scenario::kLaunch,
     Outcome::kArgumentsAsWithout},
    {"CloseBadDescriptor", "close", "init.ini", "close(", 1, "error=EBADF", Scenario::kLaunch,
     Outcome::kArgumentsAsWithout},

    // The lookup: access decides existence (repeated on EINTR); a failed stat still passes.
    {"AccessInterrupted", "access", "%J", "access(", 1, "error=EINTR", Scenario::kLaunch,
     Outcome::kAsWithout},
    {"AccessNotFound", "access", "%J", "access(", 1, "error=ENOENT", Scenario::kLaunch,
     Outcome::kReport, "EProcess: Executable not found: \"%J\""},
    {"AccessDenied", "access", "%J", "access(", 1, "error=EACCES", Scenario::kLaunch,
     Outcome::kReport, "EProcess: Executable not found: \"%J\""},
    {"AccessOutOfMemory", "access", "%J", "access(", 1, "error=ENOMEM", Scenario::kLaunch,
     Outcome::kReport, "EProcess: Executable not found: \"%J\""},
    {"StatInterrupted", "newfstatat", "%J", "newfstatat(", 1, "error=EINTR",
     Scenario::kJavaIsDirectory, Outcome::kAsWithout},
    {"StatInputOutputError", "newfstatat", "%J", "newfstatat(", 1, "error=EIO", Scenario::kLaunch,
     Outcome::kAsWithout},
    {"StatOutOfMemory", "newfstatat", "%J", "newfstatat(", 1, "error=ENOMEM", Scenario::kLaunch,
     Outcome::kAsWithout},

    // The child: fork failures (fork never reports EINTR; an injected one is a failure too).
    {"ForkNoProcesses", "vfork", "", "vfork(", 1, "error=EAGAIN", Scenario::kLaunch,
     Outcome::kReport, "EProcess: Failed to Fork process"},
    {"ForkOutOfMemory", "vfork", "", "vfork(", 1, "error=ENOMEM", Scenario::kLaunch,
     Outcome::kReport, "EProcess: Failed to Fork process"},
    {"ForkInterrupted", "vfork", "", "vfork(", 1, "error=EINTR", Scenario::kLaunch,
     Outcome::kReport, "EProcess: Failed to Fork process"},

    // The pipe that carries a failed start back from the child: without one the child's record
    // in the memory it shares under vfork is enough, and Java starts as before.
    {"PipeTooManyFiles", "pipe2", "", "pipe2(", 0, "error=EMFILE", Scenario::kLaunch,
     Outcome::kAsWithout},
    {"PipeTooManyFilesInSystem", "pipe2", "", "pipe2(", 0, "error=ENFILE", Scenario::kLaunch,
     Outcome::kAsWithout},

    // The execve in the child: repeated on EINTR; any other failure is reported by the launcher
    // with the system's reason.
    {"ExecInterrupted", "execve", "%J", "execve(", 1, "error=EINTR", Scenario::kLaunch,
     Outcome::kAsWithout},
    {"ExecTextBusy", "execve", "%J", "execve(", 1, "error=ETXTBSY", Scenario::kLaunch,
     Outcome::kReport, "EProcess: Failed to execute \"%J\": Text file busy"},
    {"ExecOutOfMemory", "execve", "%J", "execve(", 1, "error=ENOMEM", Scenario::kLaunch,
     Outcome::kReport, "EProcess: Failed to execute \"%J\": Cannot allocate memory"},
    {"ExecNotPermitted", "execve", "%J", "execve(", 1, "error=EPERM", Scenario::kLaunch,
     Outcome::kReport, "EProcess: Failed to execute \"%J\": Operation not permitted"},
    // A fault signal that reaches the child before Java has started (here: execve fails and a
    // SIGSEGV arrives with its return) ends the child by its default action. None of the
    // launcher's handlers runs there: the child shares the launcher's memory until then.
    {"SignalInChildBeforeExec", "execve", "%J", "execve(", 1, "error=ENOENT:signal=SIGSEGV",
     Scenario::kLaunch, Outcome::kChildKilled},

    // The wait: repeated on EINTR, so the launcher ends only after Java.
    {"WaitInterrupted", "wait4", "", "wait4(", 1, "error=EINTR", Scenario::kLaunch,
     Outcome::kAsWithout},
    {"WaitInterrupted100Times", "wait4", "", "wait4(", 1, "error=EINTR", Scenario::kLaunch,
     Outcome::kAsWithout, "", 0, 100},
    {"WaitNoChild", "wait4", "", "wait4(", 1, "error=ECHILD", Scenario::kLaunch,
     Outcome::kWaitFails, "EProcess: Failed to wait for \"%J\": No child processes"},

    // The report's writes: repeated on EINTR, waited for on EAGAIN; after a failure the rest of
    // the report is dropped and the launcher still ends with 217.
    {"ReportWriteInterrupted", "write", "", "write(2,", 1, "error=EINTR", Scenario::kJavaMissing,
     Outcome::kAsWithout},
    {"ReportWriteWouldBlock", "write", "", "write(2,", 1, "error=EAGAIN", Scenario::kJavaMissing,
     Outcome::kAsWithout},
    {"ReportWriteInputOutputError", "write", "", "write(2,", 1, "error=EIO", Scenario::kJavaMissing,
     Outcome::kReportCut, "", 0},
    {"ReportWriteBrokenPipe", "write", "", "write(2,", 1, "error=EPIPE", Scenario::kJavaMissing,
     Outcome::kReportCut, "", 0},
    {"ReportWriteBadDescriptor", "write", "", "write(2,", 1, "error=EBADF", Scenario::kJavaMissing,
     Outcome::kReportCut, "", 0},
    // A fault while the report is written (a SIGSEGV delivered at its first write, once or at
    // every write): the launcher ends at once with 217, the report is never started over.
    {"ReportWriteFaultsOnce", "write", "", "write(2,", 1, "signal=SIGSEGV", Scenario::kJavaMissing,
     Outcome::kReportCut, "", 256},
    {"ReportWriteFaultsEveryTime", "write", "", "write(2,", 1, "signal=SIGSEGV",
     Scenario::kJavaMissing, Outcome::kReportCut, "", 256, kEveryTime},
    {"ReportSecondWriteNoSpace", "write", "", "write(2,", 2, "error=ENOSPC", Scenario::kJavaMissing,
     Outcome::kReportCut, "", 256},

    // The end: a failed exit_group still ends the process with the same status.
    {"ExitInterrupted", "exit_group", "", "exit_group(3)", 1, "error=EINTR", Scenario::kLaunch,
     Outcome::kAsWithout},
    {"ExitFailsAfterReport", "exit_group", "", "exit_group(217)", 1, "error=EIO",
     Scenario::kJavaMissing, Outcome::kAsWithout},

};

// `text` with every "%J" replaced by `java`.
std::string Substitute(std::string text, const std::string& java) {
  for (auto at = text.find("%J"); at != std::string::npos; at = text.find("%J", at + java.size())) {
    text.replace(at, 2, java);
  }
  return text;
}

std::vector<std::string> DescriptorNumbers(const e2e::JavaRecord& record) {
  std::vector<std::string> numbers;
  for (const std::string& fd : record.fds) numbers.push_back(fd.substr(0, fd.find(' ')));
  return numbers;
}

class FaultInjection : public testing::TestWithParam<Fault> {
 protected:
  void SetUp() override {
    if (e2e::kUnderEmulation) {
      GTEST_SKIP() << "strace would follow qemu-user, whose system calls are the emulator's, not "
                      "the launcher's";
    }
    std::string home = app.java_home;
    switch (GetParam().scenario) {
      case Scenario::kLaunch:
      case Scenario::kLongModulePath:
        break;
      case Scenario::kJavaMissing:
        // A long name makes the report longer than the error stream's 256-byte buffer.
        home = app.dir / ("missing-" + std::string(100, 'x'));
        break;
      case Scenario::kJavaIsDirectory:
        home = app.dir / "directory";
        e2e::MakeDirs(home + "/bin/java");
        break;
    }
    java = home + "/bin/java";
    const std::string module_path =
        GetParam().scenario == Scenario::kLongModulePath ? std::string(400, 'm') : "/opt/modules";
    app.WriteSettings(home + "\n" + module_path + "\nmod.a,mod.b\napp.Main\n");
    options.cwd = app.dir.path();
    // Java ends with 3, which the launcher passes on. (The stand-in ends with the exit system
    // call, so the launcher's exit_group is the only one in the trace.)
    options.env =
        e2e::LaunchEnv(app.java_home + "/bin:/usr/bin:/bin", app.record, {"FAKE_JAVA_EXIT=3"});
  }

  // strace's arguments that select the calls of the row; with `when`, the injection too.
  std::vector<std::string> TraceArgs(const std::string& when) const {
    const Fault& fault = GetParam();
    std::vector<std::string> args = {"-e", std::string("trace=") + fault.call};
    if (*fault.path) args.insert(args.end(), {"-P", Substitute(fault.path, java)});
    if (!when.empty()) {
      args.insert(args.end(), {"-e", std::string("inject=") + fault.call + ":" + fault.inject +
                                         ":when=" + when});
    }
    return args;
  }

  // The invocation number, within its process, of the call that the row fails; 0 if none.
  int InvocationNumber(const std::string& trace) const {
    const Fault& fault = GetParam();
    const std::string match = Substitute(fault.match, java);
    auto matches = [&](const TracedCall& call) { return call.text.rfind(match, 0) == 0; };
    const std::vector<TracedCall> calls = CallsIn(trace, fault.call);
    const auto first = std::find_if(calls.begin(), calls.end(), matches);
    if (first == calls.end()) return 0;
    int number = 0;
    int chosen = 0;
    int seen = 0;
    for (const TracedCall& call : calls) {
      if (call.pid != first->pid) continue;
      ++number;
      if (matches(call) && (++seen == fault.occurrence || fault.occurrence == 0)) chosen = number;
    }
    return chosen;
  }

  e2e::App app;
  std::string java;  // the Java program that init.ini leads to
  e2e::RunOptions options;
  e2e::OrphanWatch orphans;
};

TEST_P(FaultInjection, GivesWhatTheLauncherPromises) {
  const Fault& fault = GetParam();
  if (LAUNCHER_SANITIZED && std::string_view(fault.inject).starts_with("signal=")) {
    GTEST_SKIP() << "the sanitizers own the fault signals in this build";
  }
  const bool reports =
      fault.scenario == Scenario::kJavaMissing || fault.scenario == Scenario::kJavaIsDirectory;

  // The reference run, traced the same way with nothing injected.
  const std::string reference_trace = app.dir / "reference.trace";
  const e2e::RunResult reference = RunTraced(TraceArgs(""), reference_trace, app.launcher, options);
  ASSERT_TRUE(reference.exited);
  ASSERT_EQ(reference.exit_code, reports ? 217 : 3) << reference.err;
  const e2e::JavaRecord before = e2e::ReadJavaRecord(app.record);
  ASSERT_EQ(before.present, !reports);
  std::filesystem::remove(app.record);
  ASSERT_TRUE(orphans.TakeLeftovers().empty());

  const int number = InvocationNumber(reference_trace);
  ASSERT_GT(number, 0) << "no call " << fault.match << " in " << e2e::ReadFile(reference_trace);
  std::string when = std::to_string(number);
  if (fault.times == kEveryTime) when += "+";
  if (fault.times > 1) when += ".." + std::to_string(number + fault.times - 1);
  const std::string trace = app.dir / "faulty.trace";
  const e2e::RunResult result = RunTraced(TraceArgs(when), trace, app.launcher, options);
  const e2e::JavaRecord record = e2e::ReadJavaRecord(app.record);
  const std::vector<pid_t> leftovers = orphans.TakeLeftovers();

  ASSERT_FALSE(result.timed_out);
  if (fault.outcome == Outcome::kChildKilled) {
    EXPECT_EQ(result.signal, SIGSEGV);
  } else {
    ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
  }
  const std::string injected = e2e::ReadFile(trace);
  EXPECT_TRUE(injected.find("(INJECTED)") != std::string::npos ||
              injected.find("--- SIGSEGV {") != std::string::npos)
      << "strace injected nothing:\n"
      << injected;
  EXPECT_EQ(result.out, "");
  if (fault.outcome != Outcome::kWaitFails) {
    EXPECT_TRUE(leftovers.empty()) << leftovers.size() << " process(es) left behind";
  }

  std::vector<std::string> expected_args = before.args;
  switch (fault.outcome) {
    case Outcome::kAsWithout:
      EXPECT_EQ(result.exit_code, reference.exit_code);
      EXPECT_EQ(result.err, reference.err);
      EXPECT_EQ(record.present, before.present);
      EXPECT_EQ(record.args, before.args);
      EXPECT_EQ(DescriptorNumbers(record), DescriptorNumbers(before));
      return;
    case Outcome::kArgumentsAsWithout:
      break;
    case Outcome::kWaitFails:
      EXPECT_EQ(result.exit_code, 217);
      e2e::ExpectFailureReport(result.err, Substitute(fault.line2, java));
      EXPECT_TRUE(record.present) << "Java did not run";
      return;
    case Outcome::kEmptySettings:
      expected_args = {"java",       "--module-path",       "", "--add-modules", "",
                       "-classpath", app.dir.path() + "//", ""};
      break;
    case Outcome::kNoOwnDirectory:
      expected_args[6] = "/";
      break;
    case Outcome::kPartialModulePath:
      ASSERT_LT(app.java_home.size() + 1, 256U);
      // The first block held line 1 and its line end; the second read failed.
      expected_args = {java,
                       "--module-path",
                       std::string(256 - app.java_home.size() - 1, 'm'),
                       "--add-modules",
                       "",
                       "-classpath",
                       app.dir.path() + "//",
                       ""};
      break;
    case Outcome::kReport:
      EXPECT_EQ(result.exit_code, 217);
      e2e::ExpectFailureReport(result.err, Substitute(fault.line2, java));
      EXPECT_FALSE(record.present) << "Java ran";
      return;
    case Outcome::kReportCut:
      ASSERT_GT(reference.err.size(), 256U) << "the report fits one write";
      EXPECT_EQ(result.exit_code, 217);
      EXPECT_EQ(result.err, reference.err.substr(0, fault.kept));
      return;
    case Outcome::kChildKilled:
      EXPECT_FALSE(result.core_dumped);
      EXPECT_EQ(result.err, "") << "a report written for the child";
      EXPECT_FALSE(record.present) << "Java ran";
      EXPECT_NE(injected.find("+++ killed by SIGSEGV"), std::string::npos) << injected;
      return;
  }
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(result.err, "");
  ASSERT_TRUE(record.present) << "Java did not run";
  EXPECT_EQ(record.args, expected_args);
  if (fault.outcome != Outcome::kArgumentsAsWithout) {
    // Whatever failed, init.ini is closed before Java starts: Java gets the same descriptors.
    EXPECT_EQ(DescriptorNumbers(record), DescriptorNumbers(before));
  }
}

INSTANTIATE_TEST_SUITE_P(EveryCall, FaultInjection, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<Fault>& row) { return row.param.name; });

}  // namespace
}  // namespace reliability
