// The child process runner: the options rule, the program lookup through the working directory
// and PATH, the EProcess failures with their exact messages, what the child receives and the
// decoding of its end.
#include "platform/process.h"

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/emulation.h"

namespace launcher {
namespace {

namespace fs = std::filesystem;

// The processes whose parent is this process, ended ones not yet collected included.
std::set<pid_t> ChildProcesses() {
  std::set<pid_t> children;
  const std::string own = std::to_string(getpid());
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;  // ended meanwhile
    // pid (comm) state ppid ...: comm may hold anything, so read after its last ')'.
    std::istringstream rest(line.substr(line.rfind(')') + 1));
    std::string state, parent;
    if (rest >> state >> parent && parent == own) children.insert(std::stoi(name));
  }
  return children;
}

// All bytes of a literal, NUL bytes included.
template <std::size_t N>
std::string Raw(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The message of the EProcess that `Execute` raised, or nullopt when it raised none.
std::optional<std::string> ExecuteError(TProcess& process) {
  try {
    process.Execute();
  } catch (const EProcess& error) {
    return std::string(error.Message());
  }
  return std::nullopt;
}

// --- Setting the options ---------------------------------------------------------------------

TEST(ProcessOptionsTest, SetterRule) {
  const struct {
    TProcessOptions written;
    TProcessOptions stored;
  } kTable[] = {
      {{}, {}},
      {{poWaitOnExit}, {poWaitOnExit}},
      {{poRunSuspended, poWaitOnExit}, {poRunSuspended}},
      {{poNewConsole, poNoConsole}, {poNewConsole}},
      {{poNoConsole, poWaitOnExit}, {poNoConsole, poWaitOnExit}},
      {{poRunSuspended, poWaitOnExit, poNewConsole, poNoConsole, poRunIdle},
       {poRunSuspended, poNewConsole, poRunIdle}},
      {{poUsePipes, poDetached, poPassInput}, {poUsePipes, poDetached, poPassInput}},
  };
  for (std::size_t row = 0; row < std::size(kTable); ++row) {
    TProcess process;
    process.SetOptions(kTable[row].written);
    EXPECT_TRUE(process.Options() == kTable[row].stored) << "row " << row;
  }
}

TEST(ProcessOptionsTest, LauncherAddsWaitOnExitToTheCreatedSet) {
  TProcess process;
  EXPECT_TRUE(process.Options() == TProcessOptions{});
  process.SetOptions(process.Options() + poWaitOnExit);
  EXPECT_TRUE(process.Options() == TProcessOptions{poWaitOnExit});
}

// --- Fixture: a temporary working directory and a PATH of the test's choosing ---------------

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/process_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    previous_dir_ = fs::current_path();
    fs::current_path(dir_);
    if (const char* path = getenv("PATH")) saved_path_ = path;
    children_before_ = ChildProcesses();
  }
  void TearDown() override {
    if (saved_path_) {
      setenv("PATH", saved_path_->c_str(), 1);
    } else {
      unsetenv("PATH");
    }
    fs::current_path(previous_dir_);
    fs::remove_all(dir_);
    EXPECT_EQ(ChildProcesses(), children_before_) << "a child was left behind";
  }

  // Creates `relative` below the directory with `content` and mode bits `mode`.
  void MakeFile(const std::string& relative, const std::string& content = "#!/bin/sh\n",
                fs::perms mode = fs::perms(0755)) const {
    fs::create_directories((dir_ / relative).parent_path());
    std::ofstream(dir_ / relative, std::ios::binary) << content;
    fs::permissions(dir_ / relative, mode);
  }

  fs::path dir_;
  fs::path previous_dir_;
  std::optional<std::string> saved_path_;
  std::set<pid_t> children_before_;
};

// --- Program lookup --------------------------------------------------------------------------

struct LookupCase {
  const char* name;
  std::vector<const char*> files;                          // plain files to create
  std::vector<const char*> dirs;                           // directories to create
  std::vector<std::pair<const char*, const char*>> links;  // link -> target
  std::optional<std::string> path;  // PATH, "$D" standing for the directory; unset if nullopt
  const char* program;
  const char* found;  // "$D" as above; nullptr: nothing found
};

std::string Expand(std::string text, const fs::path& dir) {
  for (std::size_t at; (at = text.find("$D")) != std::string::npos;) {
    text.replace(at, 2, dir.string());
  }
  return text;
}

std::string Backslashed(std::string text) {
  for (char& byte : text) {
    if (byte == '/') byte = '\\';
  }
  return text;
}

const LookupCase kLookupCases[] = {
    {"WorkingDirectoryFirst", {"java", "a/java"}, {}, {}, "$D/a", "java", "java"},
    {"DirectoryNamedLikeProgramIsSkipped", {"a/java"}, {"java"}, {}, "$D/a", "java", "$D/a/java"},
    {"DanglingLinkDoesNotPass", {"a/java"}, {}, {{"java", "nowhere"}}, "$D/a", "java", "$D/a/java"},
    {"DanglingLinkAloneIsNotFound", {}, {}, {{"java", "nowhere"}}, "$D/a", "java", nullptr},
    {"LinkToAFilePasses", {"real"}, {}, {{"java", "real"}}, "$D/a", "java", "java"},
    {"LinkToADirectoryDoesNotPass",
     {"b/java"},
     {"a"},
     {{"java", "a"}},
     "$D/b",
     "java",
     "$D/b/java"},
    {"EarlierPathDirectoryWins", {"a/java", "b/java"}, {}, {}, "$D/a:$D/b", "java", "$D/a/java"},
    {"LaterPathDirectoryWhenEarlierLacksIt",
     {"b/java"},
     {"a"},
     {},
     "$D/a:$D/b",
     "java",
     "$D/b/java"},
    {"DirectoryInPathIsSkipped", {"b/java"}, {"a/java"}, {}, "$D/a:$D/b", "java", "$D/b/java"},
    {"EmptyElementsYieldNoCandidate", {"a/java"}, {}, {}, ":$D/a::", "java", "$D/a/java"},
    {"OnlyEmptyElements", {"java_elsewhere"}, {}, {}, "::", "java", nullptr},
    {"TrailingSlashGivesOneSlash", {"a/java"}, {}, {}, "$D/a/", "java", "$D/a/java"},
    {"RelativeElement", {"a/java"}, {}, {}, "a", "java", "a/java"},
    {"AbsoluteNameIsAppended",
     {"a/opt/jdk/bin/java"},
     {},
     {},
     "$D/a",
     "/opt/jdk/bin/java",
     "$D/a//opt/jdk/bin/java"},
    {"RelativeNameWithSlashIsAppended",
     {"a/jdk/bin/java"},
     {},
     {},
     "$D/a",
     "jdk/bin/java",
     "$D/a/jdk/bin/java"},
    {"NameWithSlashFoundFromWorkingDirectory",
     {"jdk/bin/java"},
     {},
     {},
     "$D/a",
     "jdk/bin/java",
     "jdk/bin/java"},
    {"QuotesAreOrdinaryBytes", {"a/java"}, {}, {}, "\"$D/a\"", "java", nullptr},
    {"PathEmpty", {"a/java"}, {}, {}, "", "java", nullptr},
    {"PathUnset", {"a/java"}, {}, {}, std::nullopt, "java", nullptr},
    {"AbsoluteNameFound", {"a/java"}, {}, {}, "", "$D/a/java", "$D/a/java"},
};

void PrintTo(const LookupCase& row, std::ostream* out) { *out << row.name; }

class LookupTest : public ProcessTest, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(LookupTest, FindsTheProgram) {
  const LookupCase& row = GetParam();
  for (const char* dir : row.dirs) fs::create_directories(dir_ / dir);
  for (const char* file : row.files) MakeFile(file);
  for (const auto& [link, target] : row.links) fs::create_symlink(target, dir_ / link);
  if (row.path) {
    setenv("PATH", Expand(*row.path, dir_).c_str(), 1);
  } else {
    unsetenv("PATH");
  }
  const std::string program = Expand(row.program, dir_);
  ByteString found("stale");
  const bool was_found = FindProgram(program.c_str(), found);
  if (row.found == nullptr) {
    EXPECT_FALSE(was_found) << "found " << found.c_str();
    return;
  }
  ASSERT_TRUE(was_found);
  EXPECT_EQ(found.view(), Expand(row.found, dir_));
}

INSTANTIATE_TEST_SUITE_P(Process, LookupTest, ::testing::ValuesIn(kLookupCases),
                         [](const ::testing::TestParamInfo<LookupCase>& test) {
                           return std::string(test.param.name);
                         });

TEST_F(ProcessTest, BackslashInPathActsAsSlash) {
  MakeFile("a/b/java");
  setenv("PATH", Backslashed((dir_ / "a" / "b").string() + "\\").c_str(), 1);
  ByteString found;
  ASSERT_TRUE(FindProgram("java", found));
  EXPECT_EQ(found.view(), (dir_ / "a/b/java").string());
}

// The execute permission is not part of the lookup: the first candidate that exists wins.
TEST_F(ProcessTest, LookupDoesNotTestExecutePermission) {
  MakeFile("a/java", "", fs::perms(0644));
  MakeFile("b/java");
  setenv("PATH", (dir_ / "a").string().append(":").append((dir_ / "b").string()).c_str(), 1);
  ByteString found;
  ASSERT_TRUE(FindProgram("java", found));
  EXPECT_EQ(found.view(), (dir_ / "a/java").string());
}

// --- Failures before a child exists ----------------------------------------------------------

TEST_F(ProcessTest, NotStartedFailuresRaiseEProcessWithExactMessages) {
  const struct {
    const char* executable;
    const char* message;
  } kTable[] = {
      {"", "Cannot execute empty command-line"},
      {"java", "Executable not found: \"java\""},
      {"/opt/jdk/bin/java", "Executable not found: \"/opt/jdk/bin/java\""},
      {"jdk /bin/java", "Executable not found: \"jdk /bin/java\""},
  };
  MakeFile("a/other");
  setenv("PATH", (dir_ / "a").c_str(), 1);
  for (const auto& row : kTable) {
    TProcess process;
    process.SetExecutable(row.executable);
    process.Parameters().push_back("--version");
    process.SetOptions({poWaitOnExit});
    EXPECT_EQ(ExecuteError(process), row.message);
    EXPECT_FALSE(process.Running());
    EXPECT_EQ(process.ProcessID(), 0);
  }
  // TearDown checks that no child was created.
}

// The system would read a name that holds a NUL only up to the NUL, so such a name finds
// nothing, even where the part before the NUL exists; the message names it byte for byte.
TEST_F(ProcessTest, NameWithANulIsNotFoundAndNamedWhole) {
  MakeFile("java");
  MakeFile("a/java");
  setenv("PATH", (dir_ / "a").c_str(), 1);
  for (const std::string& name : {Raw("java\0x"), Raw("java\0"), Raw("\0java")}) {
    ByteString found("stale");
    EXPECT_FALSE(FindProgram(name, found)) << "found " << found.c_str();
    TProcess process;
    process.SetExecutable(ByteString(name));
    process.SetOptions({poWaitOnExit});
    EXPECT_EQ(ExecuteError(process), "Executable not found: \"" + name + "\"");
    EXPECT_FALSE(process.Running());
  }
}

// The name is the view's bytes, whatever follows them in memory.
TEST_F(ProcessTest, LookupTakesTheNameToTheEndOfTheView) {
  MakeFile("a/java");
  setenv("PATH", (dir_ / "a").c_str(), 1);
  ByteString found;
  ASSERT_TRUE(FindProgram(std::string_view("javac", 4), found));
  EXPECT_EQ(found.view(), (dir_ / "a/java").string());
}

TEST_F(ProcessTest, ExecFailureRaisesEProcessAndLeavesNoChild) {
  const struct {
    const char* file;
    const char* content;
    fs::perms mode;
    const char* reason;
  } kTable[] = {
      {"a/noexec", "#!/bin/sh\nexit 0\n", fs::perms(0644), "Permission denied"},
      {"a/garbage", "\x01\x02not a program\n", fs::perms(0755), "Exec format error"},
  };
  setenv("PATH", (dir_ / "a").c_str(), 1);
  for (const auto& row : kTable) {
    MakeFile(row.file, row.content, row.mode);
    const std::string name = fs::path(row.file).filename().string();
    TProcess process;
    process.SetExecutable(name.c_str());
    process.SetOptions({poWaitOnExit});
    EXPECT_EQ(ExecuteError(process),
              "Failed to execute \"" + (dir_ / row.file).string() + "\": " + row.reason);
    EXPECT_FALSE(process.Running());
    EXPECT_EQ(ChildProcesses(), children_before_) << "a child was left behind";
  }
}

TEST_F(ProcessTest, MissingCurrentDirectoryRaisesEProcessNamingIt) {
  TProcess process;
  process.SetExecutable("/bin/sh");
  process.Parameters().push_back("-c");
  process.Parameters().push_back("exit 0");
  process.SetCurrentDirectory((dir_ / "missing").c_str());
  process.SetOptions({poWaitOnExit});
  const std::optional<std::string> message = ExecuteError(process);
  ASSERT_TRUE(message.has_value());
  EXPECT_NE(message->find("\"" + (dir_ / "missing").string() + "\""), std::string::npos)
      << *message;
  EXPECT_NE(message->find("No such file or directory"), std::string::npos) << *message;
  EXPECT_FALSE(process.Running());
  EXPECT_EQ(ChildProcesses(), children_before_);
}

// A filter on a thread of its own makes every way of creating a process fail there.
TEST_F(ProcessTest, ForkFailureRaisesEProcess) {
  if (e2e::kUnderEmulation) {
    GTEST_SKIP() << "qemu-user installs no seccomp filter (it would apply to the emulator's own "
                    "system calls)";
  }
  std::optional<std::string> message;
  bool running = true;
  std::thread worker([&] {
    // The system calls that create a process: arm64 has no fork and vfork of their own.
    const std::vector<unsigned> refused = {
#if defined(__NR_vfork)
        __NR_vfork,
#endif
#if defined(__NR_fork)
        __NR_fork,
#endif
        __NR_clone,
        __NR_clone3,
    };
#if defined(__aarch64__)
    constexpr unsigned kAuditArch = AUDIT_ARCH_AARCH64;
#else
    constexpr unsigned kAuditArch = AUDIT_ARCH_X86_64;
#endif
    std::vector<sock_filter> filter = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    };
    for (std::size_t i = 0; i < refused.size(); ++i) {
      // Each match jumps over the jumps after it and the ALLOW to the ERRNO return.
      const auto to_errno = static_cast<unsigned char>(refused.size() - i);
      filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, refused[i], to_errno, 0));
    }
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAGAIN));
    sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    if (syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) != 0) return;
    TProcess process;
    process.SetExecutable("/bin/sh");
    process.SetOptions({poWaitOnExit});
    message = ExecuteError(process);
    running = process.Running();
  });
  worker.join();
  EXPECT_EQ(message, "Failed to Fork process");
  EXPECT_FALSE(running);
}

// --- What the child receives -----------------------------------------------------------------

// A shell that copies its own argument vector, as the kernel holds it, into "argv" in the
// working directory.
constexpr const char* kCopyArgv = "cat /proc/$$/cmdline > argv";

TEST_F(ProcessTest, ChildGetsExecutableAsSetThenEveryParameterEmptyOnesIncluded) {
  setenv("PATH", "/usr/bin:/bin", 1);
  TProcess process;
  process.SetExecutable("sh");
  for (const char* entry : {"-c", kCopyArgv, "", "x y", "", "z", ""}) {
    process.Parameters().push_back(entry);
  }
  process.SetOptions({poWaitOnExit});
  process.Execute();
  EXPECT_EQ(process.ExitStatus(), 0);
  const std::string expected = Raw("sh\0-c\0") + kCopyArgv + Raw("\0\0x y\0\0z\0\0");
  EXPECT_EQ(ReadWhole(dir_ / "argv"), expected);
}

TEST_F(ProcessTest, ParameterIsCutAtItsFirstNul) {
  TProcess process;
  process.SetExecutable("/bin/sh");
  process.Parameters().push_back("-c");
  process.Parameters().push_back(kCopyArgv);
  process.Parameters().push_back(ByteString(Raw("ab\0cd")));
  process.SetOptions({poWaitOnExit});
  process.Execute();
  EXPECT_EQ(ReadWhole(dir_ / "argv"), Raw("/bin/sh\0-c\0") + kCopyArgv + Raw("\0ab\0"));
}

TEST_F(ProcessTest, ChildGetsTheGivenEnvironmentOrElseTheLaunchers) {
  const char* kCopyEnv = "cat /proc/$$/environ > env";
  {
    TProcess process;
    process.SetExecutable("/bin/sh");
    process.Parameters() = {"-c", kCopyEnv};
    process.Environment() = {"A=1", "B=x y", "EMPTY="};
    process.SetOptions({poWaitOnExit});
    process.Execute();
    EXPECT_EQ(ReadWhole(dir_ / "env"), Raw("A=1\0B=x y\0EMPTY=\0"));
  }
  {
    setenv("PROCESS_TEST_MARK", "kept", 1);
    TProcess process;
    process.SetExecutable("/bin/sh");
    process.Parameters() = {"-c", kCopyEnv};
    process.SetOptions({poWaitOnExit});
    process.Execute();
    unsetenv("PROCESS_TEST_MARK");
    EXPECT_NE(ReadWhole(dir_ / "env").find(Raw("\0PROCESS_TEST_MARK=kept\0")), std::string::npos);
  }
}

TEST_F(ProcessTest, ChildStartsInCurrentDirectoryWhenSetElseInTheLaunchers) {
  fs::create_directory(dir_ / "sub");
  for (const bool set : {false, true}) {
    TProcess process;
    process.SetExecutable("/bin/sh");
    process.Parameters() = {"-c", "pwd -P > \"$0\"", (dir_ / "where").c_str()};
    if (set) process.SetCurrentDirectory("sub");
    process.SetOptions({poWaitOnExit});
    process.Execute();
    EXPECT_EQ(ReadWhole(dir_ / "where"), (set ? dir_ / "sub" : dir_).string() + "\n");
  }
  EXPECT_EQ(fs::current_path(), dir_) << "the launcher's own directory is unchanged";
}

// --- Waiting and the exit status -------------------------------------------------------------

TEST_F(ProcessTest, ExitStatusIsDecoded) {
  const struct {
    const char* script;
    int status;
  } kTable[] = {
      {"exit 0", 0},      {"exit 3", 3},        {"exit 255", 255},
      {"kill -9 $$", -9}, {"kill -15 $$", -15}, {"ulimit -c 0; kill -11 $$", -11},
  };
  for (const auto& row : kTable) {
    TProcess process;
    process.SetExecutable("/bin/sh");
    process.Parameters() = {"-c", row.script};
    process.SetOptions({poWaitOnExit});
    process.Execute();
    EXPECT_FALSE(process.Running());
    EXPECT_GT(process.ProcessID(), 0);
    EXPECT_EQ(process.ExitStatus(), row.status) << row.script;
  }
}

std::atomic<int> g_alarms{0};
void CountAlarm(int) { g_alarms.fetch_add(1); }

// Alarms keep interrupting the wait (the handler does not ask for restarting); the wait goes
// on each time, until the child really ends.
TEST_F(ProcessTest, SignalsInterruptingTheWaitDoNotEndItEarly) {
  struct sigaction action {};
  action.sa_handler = CountAlarm;
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
  const itimerval every_10ms{{0, 10000}, {0, 10000}};
  ASSERT_EQ(setitimer(ITIMER_REAL, &every_10ms, nullptr), 0);
  g_alarms = 0;

  TProcess process;
  process.SetExecutable("/bin/sh");
  process.Parameters() = {"-c", "sleep 0.3; exit 7"};
  process.SetOptions({poWaitOnExit});
  process.Execute();

  const itimerval stop{};
  setitimer(ITIMER_REAL, &stop, nullptr);
  sigaction(SIGALRM, &previous, nullptr);
  EXPECT_GT(g_alarms.load(), 0);
  EXPECT_EQ(process.ExitStatus(), 7);
  EXPECT_FALSE(process.Running());
}

TEST_F(ProcessTest, WithoutWaitOnExitExecuteReturnsAtOnceAndWaitOnExitCollects) {
  TProcess process;
  process.SetExecutable("/bin/sh");
  process.Parameters() = {"-c", "exit 4"};
  process.Execute();
  EXPECT_TRUE(process.Running());
  EXPECT_GT(process.ProcessID(), 0);
  EXPECT_EQ(process.ExitStatus(), 0);
  EXPECT_TRUE(process.WaitOnExit());
  EXPECT_FALSE(process.Running());
  EXPECT_EQ(process.ExitStatus(), 4);
  EXPECT_TRUE(process.WaitOnExit()) << "a second wait finds nothing to wait for";
  EXPECT_EQ(process.ExitStatus(), 4);
}

TEST_F(ProcessTest, RunSuspendedCancelsTheWait) {
  TProcess process;
  process.SetExecutable("/bin/sh");
  process.Parameters() = {"-c", "exit 5"};
  process.SetOptions({poRunSuspended, poWaitOnExit});
  process.Execute();
  EXPECT_TRUE(process.Running());
  process.WaitOnExit();
  EXPECT_EQ(process.ExitStatus(), 5);
}

TEST_F(ProcessTest, DestructionLeavesARunningChildAlone) {
  pid_t child = 0;
  {
    TProcess process;
    process.SetExecutable("/bin/sleep");
    process.Parameters().push_back("30");
    process.Execute();
    child = process.ProcessID();
  }
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "the child is still running";
  ASSERT_EQ(kill(child, SIGKILL), 0);
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

}  // namespace
}  // namespace launcher
