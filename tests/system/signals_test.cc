// The launcher's signals while Java runs, on the real binary with the stand-in java: who ends by
// what, what Java receives, and which dispositions the launcher and Java have.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/e2e.h"
#include "tests/support/emulation.h"
#include "tests/support/helpers.h"
#include "tests/system/system_support.h"

namespace e2e {
namespace {

constexpr double kTimeout = 30;
// A real-time signal: when several signals are pending, the standard ones are delivered first.
constexpr int kMarkerSignal = 40;

std::string SignalText(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
  return "status " + std::to_string(status);
}

// An application directory with the launcher and the stand-in java, and what a launch there
// needs. Java records what it caught in `caught`.
class LauncherSignals : public ::testing::Test {
 protected:
  LauncherSignals() {
    app_.WriteSettings(app_.java_home + "\n/opt/modules\nmod.a\napp.Main\n");
    options_.cwd = app_.dir.path();
    options_.stdout_path = app_.dir / "out.txt";
    options_.stderr_path = app_.dir / "err.txt";
  }

  // Starts the launcher with the stand-in java configured by `java_env`, then waits until Java
  // has written its record (after it has installed its handlers) and watches it.
  void Start(const std::vector<std::string>& java_env) {
    std::vector<std::string> extra = java_env;
    extra.push_back("FAKE_JAVA_CAUGHT=" + caught_);
    options_.env = LaunchEnv("/usr/bin:/bin", app_.record, extra);
    launcher_ = std::make_unique<Background>(app_.launcher, options_);
    ASSERT_TRUE(WaitForFile(app_.record, kTimeout)) << "Java did not start";
    const pid_t java_pid = JavaPidFromRecord(app_.record);
    ASSERT_GT(java_pid, 0);
    java_ = std::make_unique<Watched>(java_pid);
  }

  // The launcher's wait status once it has ended.
  int LauncherEnd() {
    const std::optional<int> status = launcher_->WaitForEnd(kTimeout);
    if (!status) ADD_FAILURE() << "the launcher did not end";
    return status.value_or(-1);
  }

  // Nothing was written to the launcher's standard output or error (by it or by Java).
  void ExpectSilent() const {
    EXPECT_EQ(ReadFile(options_.stdout_path), "");
    EXPECT_EQ(ReadFile(options_.stderr_path), "");
  }

  App app_;
  std::string caught_ = app_.dir / "caught.txt";
  StartOptions options_;
  std::unique_ptr<Background> launcher_;
  std::unique_ptr<Watched> java_;  // destroyed first: kills Java if it still runs
};

// SIGTERM or SIGHUP sent to the launcher's process alone ends it by that signal at once; Java
// is not signalled and keeps running.
class SignalToLauncherAlone : public LauncherSignals, public ::testing::WithParamInterface<int> {};

TEST_P(SignalToLauncherAlone, EndsTheLauncherAndLeavesJavaRunning) {
  const int sig = GetParam();
  Start({"FAKE_JAVA_SLEEP_MS=600000",
         "FAKE_JAVA_CATCH=" + std::to_string(sig) + "," + std::to_string(kMarkerSignal)});
  ASSERT_EQ(kill(launcher_->pid(), sig), 0);
  const int status = LauncherEnd();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << SignalText(status);
  EXPECT_TRUE(java_->Running());
  // Had the launcher passed the signal on, it would be delivered to Java before the marker.
  java_->Signal(kMarkerSignal);
  ASSERT_TRUE(WaitForFile(caught_, kTimeout, std::to_string(kMarkerSignal) + "\n"))
      << "Java caught: " << ReadFile(caught_);
  EXPECT_TRUE(java_->Running());
  ExpectSilent();
}

INSTANTIATE_TEST_SUITE_P(TermAndHangUp, SignalToLauncherAlone, ::testing::Values(SIGTERM, SIGHUP),
                         [](const auto& test) { return std::string(sigabbrev_np(test.param)); });

// qemu-user catches every signal whose default action ends the process on the host, also one
// that the emulated program inherited as ignored, and execve resets caught signals: an ignore
// that the launcher keeps does not reach a Java that the emulated launcher starts.
constexpr const char* kIgnoreLostUnderEmulation =
    "qemu-user drops an inherited ignored signal when an emulated program starts another";

// A key that the terminal turns into a signal for its foreground process group: the launcher
// ends by it at once, without waiting for Java, and Java gets it too.
struct TerminalKey {
  const char* name;
  const char* keys;
  int sig;
  const char* echo;
  friend void PrintTo(const TerminalKey& key, std::ostream* os) { *os << key.name; }
};

class KeyOnTerminal : public LauncherSignals, public ::testing::WithParamInterface<TerminalKey> {};

TEST_P(KeyOnTerminal, EndsTheLauncherAtOnceAndReachesJava) {
  // Java ignores SIGHUP to outlive the launcher's session. (qemu also writes a line of its own to
  // the terminal when the launcher ends by SIGQUIT.)
  if (kUnderEmulation) GTEST_SKIP() << kIgnoreLostUnderEmulation;
  const TerminalKey& key = GetParam();
  Pty pty;
  options_.terminal = pty.slave_path();
  options_.stdout_path.clear();
  options_.stderr_path.clear();
  // Java outlives the launcher's session (whose end hangs up the terminal's foreground group) so
  // that the test sees it still sleeping once the launcher has ended.
  options_.ignored_signals = {SIGHUP};
  Start({"FAKE_JAVA_SLEEP_MS=600000", "FAKE_JAVA_CATCH=" + std::to_string(key.sig)});
  // Java runs in the launcher's process group, which is the terminal's foreground group.
  const std::string group = std::to_string(launcher_->pid());
  EXPECT_EQ(ReadJavaRecord(app_.record).pgrp, group + " " + group);

  pty.Type(key.keys);
  const int status = LauncherEnd();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == key.sig) << SignalText(status);
  EXPECT_TRUE(java_->Running()) << "the launcher waited for Java";
  EXPECT_TRUE(WaitForFile(caught_, kTimeout, std::to_string(key.sig) + "\n"))
      << "Java caught: " << ReadFile(caught_);
  // Once Java has gone too, the terminal has shown nothing but the echo of the key.
  java_->Signal(SIGKILL);
  ASSERT_TRUE(java_->WaitForEnd(kTimeout));
  EXPECT_EQ(pty.ReadUntilClosed(kTimeout), key.echo);
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyOnTerminal,
                         ::testing::Values(TerminalKey{"CtrlC", "\x03", SIGINT, "^C"},
                                           TerminalKey{"CtrlBackslash", "\x1c", SIGQUIT, "^\\"}),
                         [](const auto& test) { return std::string(test.param.name); });

// Started with SIGINT and SIGQUIT ignored (as in the background of a shell without job control),
// the launcher keeps them ignored, so Ctrl-C and Ctrl-\ on its terminal do not end it, and Java
// inherits the ignored SIGINT.
TEST_F(LauncherSignals, InheritedIgnoredInterruptSurvivesCtrlC) {
  if (kUnderEmulation) GTEST_SKIP() << kIgnoreLostUnderEmulation;
  Pty pty;
  options_.terminal = pty.slave_path();
  options_.stdout_path.clear();
  options_.stderr_path.clear();
  options_.ignored_signals = {SIGINT, SIGQUIT};
  // Java catches SIGQUIT to tell the test that both keys have been through the terminal, and
  // reads the terminal until Ctrl-D.
  Start({"FAKE_JAVA_READ_STDIN=1", "FAKE_JAVA_CATCH=" + std::to_string(SIGQUIT)});
  const std::vector<std::string>& dispositions = ReadJavaRecord(app_.record).signals;
  EXPECT_EQ(dispositions, (std::vector<std::string>{std::to_string(SIGINT) + " ignore",
                                                    std::to_string(SIGQUIT) + " handler"}));

  pty.Type("\x03\x1c");
  ASSERT_TRUE(WaitForFile(caught_, kTimeout, std::to_string(SIGQUIT) + "\n"));
  pty.Type("\x04");
  ASSERT_TRUE(java_->WaitForEnd(kTimeout));
  const int status = LauncherEnd();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << SignalText(status);
}

// Signals whose default action is to go on, and a stop with a continue, do not end the wait: the
// launcher ends normally once Java has ended, also when Java ends while the launcher is stopped.
TEST_F(LauncherSignals, HarmlessSignalsDoNotEndTheWait) {
  int input[2];
  ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
  options_.stdin_fd = input[0];
  Start({"FAKE_JAVA_READ_STDIN=1"});
  close(input[0]);

  for (int sig : {SIGWINCH, SIGCHLD, SIGURG, SIGCONT}) {
    ASSERT_EQ(kill(launcher_->pid(), sig), 0) << sigabbrev_np(sig);
  }
  ASSERT_EQ(kill(launcher_->pid(), SIGSTOP), 0);
  ASSERT_TRUE(launcher_->WaitForStop(kTimeout));
  close(input[1]);  // Java reads the end of its input and ends
  ASSERT_TRUE(java_->WaitForEnd(kTimeout));
  ASSERT_EQ(kill(launcher_->pid(), SIGCONT), 0);

  const int status = LauncherEnd();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << SignalText(status);
  EXPECT_EQ(ReadJavaRecord(app_.record).args.size(), 8u);
  ExpectSilent();
}

// The dispositions while the launcher waits: the launcher catches exactly the four fault signals
// and keeps every other inherited disposition and its mask, but for an ignored SIGCHLD, which
// would lose Java's exit status; Java has the fault signals at their default, every other
// inherited ignore (SIGCHLD too), and the same mask.
struct Inherited {
  const char* name;
  std::vector<int> ignored;        // by the launcher's parent
  std::vector<int> blocked;        // by the launcher's parent
  std::vector<int> ignored_after;  // in Java, and in the launcher but for SIGCHLD
  friend void PrintTo(const Inherited& inherited, std::ostream* os) { *os << inherited.name; }
};

class Dispositions : public LauncherSignals, public ::testing::WithParamInterface<Inherited> {};

std::vector<std::string> RecordLines(std::vector<int> signals, const std::string& suffix) {
  std::sort(signals.begin(), signals.end());
  std::vector<std::string> lines;
  for (int sig : signals) lines.push_back(std::to_string(sig) + suffix);
  return lines;
}

// Whether process `pid` is asleep in a wait for its child by the deadline: the launcher blocks
// every signal while it creates the child and restores its mask only once the child has started
// Java, a moment after Java may already have written its record.
bool WaitsForChild(pid_t pid, double timeout_seconds) {
  for (double waited = 0; waited < timeout_seconds; waited += 0.01) {
    if (ReadFile("/proc/" + std::to_string(pid) + "/wchan") == "do_wait") return true;
    usleep(10000);
  }
  return false;
}

TEST_P(Dispositions, LauncherAndJavaWhileWaiting) {
  const Inherited& inherited = GetParam();
  options_.ignored_signals = inherited.ignored;
  options_.blocked_signals = inherited.blocked;
  int input[2];
  ASSERT_EQ(pipe2(input, O_CLOEXEC), 0);
  options_.stdin_fd = input[0];
  Start({"FAKE_JAVA_READ_STDIN=1"});
  close(input[0]);

  std::vector<int> ignored_after = inherited.ignored_after;
  std::vector<int> blocked = inherited.blocked;
  std::sort(ignored_after.begin(), ignored_after.end());
  std::sort(blocked.begin(), blocked.end());
  const pid_t launcher = launcher_->pid();
  const JavaRecord record = ReadJavaRecord(app_.record);
  if (kUnderEmulation) {
    // /proc/PID/status of an emulated launcher shows qemu-user's own dispositions and mask, not
    // the launcher's, and the inherited ignores do not reach Java (kIgnoreLostUnderEmulation):
    // what remains to check is the mask Java got, and that Java has nothing caught or ignored
    // when nothing was inherited as ignored.
    EXPECT_EQ(record.blocked, RecordLines(blocked, ""));
    if (ignored_after.empty()) {
      EXPECT_EQ(record.signals, std::vector<std::string>{});
    }
  } else {
    ASSERT_TRUE(WaitsForChild(launcher, 30));
    EXPECT_EQ(SignalsOfStatus(launcher, "SigCgt"),
              (std::vector<int>{SIGILL, SIGBUS, SIGFPE, SIGSEGV}));
    std::vector<int> ignored_by_launcher = ignored_after;
    std::erase(ignored_by_launcher, SIGCHLD);
    EXPECT_EQ(SignalsOfStatus(launcher, "SigIgn"), ignored_by_launcher);
    EXPECT_EQ(SignalsOfStatus(launcher, "SigBlk"), blocked);
    EXPECT_EQ(record.signals, RecordLines(ignored_after, " ignore"));
    EXPECT_EQ(record.blocked, RecordLines(blocked, ""));
  }

  close(input[1]);
  const int status = LauncherEnd();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << SignalText(status);
}

INSTANTIATE_TEST_SUITE_P(Inheritance, Dispositions,
                         ::testing::Values(Inherited{"NothingInherited", {}, {}, {}},
                                           Inherited{"IgnoresKept",
                                                     {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM,
                                                      SIGCHLD, SIGTSTP, SIGTTOU, SIGWINCH},
                                                     {},
                                                     {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM,
                                                      SIGCHLD, SIGTSTP, SIGTTOU, SIGWINCH}},
                                           Inherited{"IgnoredFaultSignalsCaughtThenDefault",
                                                     {SIGFPE, SIGSEGV, SIGBUS, SIGILL, SIGPIPE},
                                                     {},
                                                     {SIGPIPE}},
                                           Inherited{
                                               "MaskKept", {}, {SIGUSR1, SIGTERM, SIGWINCH}, {}}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace e2e
