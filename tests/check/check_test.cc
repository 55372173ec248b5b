// launcher-check end to end with the stand-in java: the real check binary and the real launcher,
// on real files. The stand-in records what it received, so the dry run the check asks for and
// the command the launcher runs can be compared argument by argument.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/e2e.h"
#include "tests/support/emulation.h"
#include "tests/support/helpers.h"

namespace e2e {
namespace {

using namespace std::string_literals;

std::string CheckBinary() { return CHECK_BINARY; }

constexpr char kGood[] = "{JDK}\n{MODS}\nmod.a\napp.Main\n";
constexpr char kCommandHeading[] = "The command the launcher runs (it can be pasted into a shell):";

// The launcher's failure report as the check shows a line of it: every control byte but the tab
// (and the line feeds between the lines) written as \xNN.
std::string AsShown(const std::string& report) {
  std::string shown;
  for (const char c : report) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t' && c != '\n') || byte == 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      shown += hex;
    } else {
      shown += c;
    }
  }
  return shown;
}

// The line after `heading` in `text`, without its indentation.
std::string LineAfter(const std::string& text, const std::string& heading) {
  const std::vector<std::string> lines = SplitLines(text);
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i] == heading) return lines[i + 1].substr(lines[i + 1].find_first_not_of(' '));
  }
  return "";
}

// An application directory (App: the launcher and jdk/bin/java, the stand-in) with a module
// directory and the main class's file app/Main.class below it. The check and the launcher run
// from `cwd` (the application directory unless changed) with PATH `path` and the stand-in's
// record in the application directory.
class CheckTest : public testing::Test {
 public:
  void SetUp() override {
    MakeDirs(app.dir / "modules");
    MakeDirs(app.dir / "app");
    WriteFile(app.dir / "app/Main.class", "");
    MakeDirs(app.dir / "on-path");
    CopyFile(FakeJavaBinary(), app.dir / "on-path/java");
    cwd = app.dir.path();
    path = app.dir / "nothing-here";
  }

  // init.ini with "{JDK}" for the stand-in's Java home, "{MODS}" for the module directory and
  // "{DIR}" for the application directory.
  std::string Fill(const std::string& text) const {
    return Replace(Replace(Replace(text, "{JDK}", app.java_home), "{MODS}", app.dir / "modules"),
                   "{DIR}", app.dir.path());
  }
  void WriteSettings(const std::string& content) const { app.WriteSettings(Fill(content)); }

  RunResult Run(const std::string& program, const std::vector<std::string>& arguments) const {
    RunOptions options;
    options.cwd = cwd;
    options.env = LaunchEnv(path, app.record, env);
    options.argv = {program};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.timeout_seconds = 120;
    return RunProgram(program, options);
  }
  RunResult RunCheck() const { return Run(CheckBinary(), check_arguments); }
  // The stand-in's record of its last run, which is then removed.
  JavaRecord TakeRecord() const {
    JavaRecord record = ReadJavaRecord(app.record);
    std::filesystem::remove(app.record);
    return record;
  }

  App app;
  std::string cwd;
  std::string path;
  std::vector<std::string> env;
  std::vector<std::string> check_arguments;
};

// The arguments of `record` without "--dry-run".
std::vector<std::string> WithoutDryRun(std::vector<std::string> args) {
  std::erase(args, std::string("--dry-run"));
  return args;
}

TEST_F(CheckTest, WorkingApplicationPassesAndJavaIsAskedTheLaunchersCommand) {
  WriteSettings(kGood);
  const RunResult check = RunCheck();
  ASSERT_TRUE(check.exited) << "ended by signal " << check.signal;
  EXPECT_EQ(check.exit_code, 0) << check.out;
  EXPECT_EQ(check.err, "");
  EXPECT_TRUE(Contains(check.out, "\nNo problem found: the launcher starts the application.\n"))
      << check.out;
  EXPECT_TRUE(Contains(check.out, "  program       " + app.java_home +
                                      "/bin/java (line 1, then bin/java)\n"))
      << check.out;
  // Java was asked the launcher's command with --dry-run just before the main class.
  const JavaRecord dry_run = TakeRecord();
  ASSERT_TRUE(dry_run.present);
  ASSERT_EQ(dry_run.args.size(), 9U);
  EXPECT_EQ(dry_run.args[7], "--dry-run");
  EXPECT_EQ(dry_run.cwd, cwd);

  const RunResult launch = Run(app.launcher, {});
  EXPECT_EQ(launch.exit_code, 0) << launch.err;
  const JavaRecord launched = TakeRecord();
  ASSERT_TRUE(launched.present);
  EXPECT_EQ(launched.args, WithoutDryRun(dry_run.args));
  EXPECT_EQ(launched.exe, dry_run.exe);
}

// The command shown, pasted into bash, runs what the launcher runs, byte for byte: blanks,
// quotes, tabs, a byte-order mark and bytes that are not UTF-8 included.
TEST_F(CheckTest, PastedCommandRunsWhatTheLauncherRuns) {
  const std::string bash = FindTool("bash", kSystemToolPath);
  if (bash.empty()) GTEST_SKIP() << "no bash to paste the command into";
  const std::string odd = app.dir / "it's a\tdir";
  MakeDirs(odd);
  WriteSettings("{JDK}/\n" + odd + ":{MODS}\n\xEF\xBB\xBFmod.a,$HOME\n\xE9t\xC3\xA9.Main \n");
  const RunResult check = RunCheck();
  EXPECT_EQ(check.exit_code, 1) << check.out;
  const std::string command = LineAfter(check.out, kCommandHeading);
  ASSERT_FALSE(command.empty()) << check.out;
  TakeRecord();

  const RunResult launch = Run(app.launcher, {});
  EXPECT_EQ(launch.exit_code, 0) << launch.err;
  const JavaRecord launched = TakeRecord();
  ASSERT_TRUE(launched.present);
  const RunResult pasted = Run(bash, {"-c", command});
  EXPECT_EQ(pasted.exit_code, 0) << pasted.err;
  const JavaRecord by_hand = TakeRecord();
  ASSERT_TRUE(by_hand.present) << command;
  EXPECT_EQ(by_hand.args, launched.args) << command;
  EXPECT_EQ(by_hand.exe, launched.exe);
}

// One mistake each: the check ends with 1 and names the line to fix; "{JAVA_SAYS}" in `java_out`
// is what the stand-in writes and exits 1 with, as the real java would.
struct Mistake {
  const char* name;
  std::string settings;  // "<none>": no init.ini
  std::string problem;   // a piece of the problem's line in the output, "line N: ..."
  std::function<void(CheckTest&)> prepare = nullptr;
  std::string java_out = "";
  friend void PrintTo(const Mistake& row, std::ostream* out) { *out << row.name; }
};

class Mistakes : public CheckTest, public testing::WithParamInterface<Mistake> {};

TEST_P(Mistakes, EndWithOneAndNameTheLine) {
  const Mistake& row = GetParam();
  if (row.settings != "<none>") WriteSettings(row.settings);
  if (row.prepare) row.prepare(*this);
  if (!row.java_out.empty()) env = {"FAKE_JAVA_OUT=" + row.java_out, "FAKE_JAVA_EXIT=1"};
  const RunResult check = RunCheck();
  ASSERT_TRUE(check.exited) << "ended by signal " << check.signal;
  EXPECT_EQ(check.exit_code, 1) << check.out;
  EXPECT_EQ(check.err, "");
  EXPECT_TRUE(Contains(check.out, "\nProblems found: ")) << check.out;
  EXPECT_TRUE(Contains(check.out, "\n  " + Fill(row.problem))) << check.out;
}

void RemoveExecutePermission(CheckTest& test) {
  std::filesystem::permissions(test.app.java_home + "/bin/java", std::filesystem::perms::owner_read);
}

INSTANTIATE_TEST_SUITE_P(
    Check, Mistakes,
    testing::Values(
        Mistake{"NoInitIni", "<none>", "init.ini: there is no init.ini in the working directory"},
        Mistake{"InitIniOnlyInTheLaunchersDirectory", kGood,
                "init.ini: there is no init.ini in the working directory",
                [](CheckTest& test) {
                  MakeDirs(test.app.dir / "work");
                  test.cwd = test.app.dir / "work";
                  test.check_arguments = {"../launcher"};
                }},
        Mistake{"ByteOrderMark", "\xEF\xBB\xBF{JDK}\n{MODS}\nmod.a\napp.Main\n",
                "line 1: init.ini begins with a byte-order mark (\\u{FEFF})"},
        Mistake{"JavaHomeMissing", "/nonexistent/jdk\n{MODS}\nmod.a\napp.Main\n",
                "line 1: /nonexistent/jdk does not exist; so the launcher finds no java"},
        Mistake{"JavaHomeIsItsBinDirectory", "{JDK}/bin\n{MODS}\nmod.a\napp.Main\n",
                "line 1: {JDK}/bin is a directory without bin/java (it seems to be the bin "
                "directory itself)"},
        Mistake{"JavaHomeIsAFile", "{JDK}/bin/java\n{MODS}\nmod.a\napp.Main\n",
                "line 1: {JDK}/bin/java is not a directory but seemingly the java program"},
        Mistake{"JavaHomeWithTrailingBlank", "{JDK} \n{MODS}\nmod.a\napp.Main\n",
                "line 1: the value ends with a blank"},
        Mistake{"JavaNotExecutable", kGood, "line 1: {JDK}/bin/java cannot be executed",
                RemoveExecutePermission},
        Mistake{"NoJavaAnywhere", "\n{MODS}\nmod.a\napp.Main\n",
                "line 1: the Java installation is empty, and neither the working directory nor "
                "a directory of PATH holds a java"},
        Mistake{"JavaInTheWorkingDirectory", "\n{MODS}\nmod.a\napp.Main\n",
                "line 1: the Java installation is empty, so the launcher takes the file java in "
                "the working directory",
                [](CheckTest& test) { CopyFile(FakeJavaBinary(), test.app.dir / "java"); }},
        Mistake{"NulInJavaHome", "{JDK}\0x\n{MODS}\nmod.a\napp.Main\n"s,
                "line 1: the value holds a NUL byte (\\0): the launcher finds no java"},
        Mistake{"ModulePathEmpty", "{JDK}\n\nmod.a\napp.Main\n",
                "line 2: there is no module path: the line is empty"},
        Mistake{"ModulePathEntryMissing", "{JDK}\n{MODS}:{DIR}/lib\nmod.a\napp.Main\n",
                "line 2: the module path names what does not exist: \"{DIR}/lib\""},
        Mistake{"ModulePathWithTrailingBlank", "{JDK}\n{MODS} \nmod.a\napp.Main\n",
                "line 2: the value ends with a blank"},
        Mistake{"ModulesMissing", "{JDK}\n{MODS}\n", "line 3: there are no modules to add: "
                                                     "init.ini has no line 3"},
        Mistake{"ModuleUnknownToJava", kGood, "line 3: there is no module \"mod.a\"", nullptr,
                "Error occurred during initialization of boot layer\n"
                "java.lang.module.FindException: Module mod.a not found\n"},
        Mistake{"MainClassEmpty", "{JDK}\n{MODS}\nmod.a\n\n",
                "line 4: there is no main class: the line is empty"},
        Mistake{"MainClassWithLeadingBlank", "{JDK}\n{MODS}\nmod.a\n app.Main\n",
                "line 4: the value begins with a blank"},
        Mistake{"MainClassNamesItsFile", "{JDK}\n{MODS}\nmod.a\napp/Main.class\n",
                "line 4: the value names a file, not a class"},
        Mistake{"MainClassWithNul", "{JDK}\n{MODS}\nmod.a\napp.Main\0x\n"s,
                "line 4: the value holds a NUL byte (\\0): Java receives only what comes before "
                "it"},
        Mistake{"MainClassUnknownToJava", "{JDK}\n{MODS}\nmod.a\napp.Mian\n",
                "line 4: there is no class \"app.Mian\" below the launcher's directory", nullptr,
                "Error: Could not find or load main class app.Mian\n"
                "Caused by: java.lang.ClassNotFoundException: app.Mian\n"}),
    [](const testing::TestParamInfo<Mistake>& row) { return std::string(row.param.name); });

// The check's word against the launcher's deed, over a table of init.ini files: where the check
// says the launcher would start Java, it does (and hands it what the check asked with, less
// --dry-run); where the check says the launcher would end with 217, it does, with the line 2 the
// check showed.
struct Layout {
  const char* name;
  std::string settings;
  std::function<void(CheckTest&)> prepare = nullptr;
  friend void PrintTo(const Layout& row, std::ostream* out) { *out << row.name; }
};

class Agreement : public CheckTest, public testing::WithParamInterface<Layout> {};

TEST_P(Agreement, WithTheLauncher) {
  const Layout& row = GetParam();
  if (row.settings != "<none>") WriteSettings(row.settings);
  path = app.dir / "on-path";
  if (row.prepare) row.prepare(*this);
  const RunResult check = RunCheck();
  ASSERT_TRUE(check.exited) << "ended by signal " << check.signal;
  ASSERT_TRUE(check.exit_code == 0 || check.exit_code == 1) << check.out << check.err;
  const JavaRecord asked = TakeRecord();
  const RunResult launch = Run(app.launcher, {});
  ASSERT_TRUE(launch.exited) << "ended by signal " << launch.signal;
  const JavaRecord launched = TakeRecord();
  const std::string failing = "The launcher would not start Java: it would end with exit status "
                              "217 and a failure report on standard error whose second line is";
  if (Contains(check.out, failing)) {
    EXPECT_EQ(launch.exit_code, 217) << check.out;
    ExpectFailureReport(AsShown(launch.err), LineAfter(check.out, failing));
    EXPECT_FALSE(launched.present);
  } else {
    EXPECT_TRUE(Contains(check.out, "The launcher would start Java") ||
                Contains(check.out, "No problem found: the launcher starts the application."))
        << check.out;
    EXPECT_EQ(launch.exit_code, 0) << launch.err;
    ASSERT_TRUE(asked.present) << check.out;
    ASSERT_TRUE(launched.present) << launch.err;
    EXPECT_EQ(launched.args, WithoutDryRun(asked.args));
    EXPECT_EQ(launched.exe, asked.exe);
  }
  if (check.exit_code == 0) {
    EXPECT_EQ(launch.exit_code, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Check, Agreement,
    testing::Values(
        Layout{"Working", kGood},
        Layout{"JavaHomeWithSlash", "{JDK}/\n{MODS}\nmod.a\napp.Main\n"},
        Layout{"JavaHomeRelative", "jdk\n{MODS}\nmod.a\napp.Main\n"},
        Layout{"JavaThroughPath", "\n{MODS}\nmod.a\napp.Main\n"},
        Layout{"JavaInTheWorkingDirectory", "\n{MODS}\nmod.a\napp.Main\n",
              [](CheckTest& test) { CopyFile(FakeJavaBinary(), test.app.dir / "java"); }},
        Layout{"NoInitIni", "<none>"},
        Layout{"InitIniIsADirectory", "<none>",
              [](CheckTest& test) { MakeDirs(test.app.dir / "init.ini"); }},
        Layout{"CrLfAndMore", "{JDK}\r\n{MODS}\r\nmod.a\r\napp.Main\r\nmore\r\n"},
        Layout{"MainClassWithNul", "{JDK}\n{MODS}\nmod.a\napp.Main\0x\n"s},
        Layout{"JavaHomeMissing", "/nonexistent/jdk\n{MODS}\nmod.a\napp.Main\n"},
        Layout{"ByteOrderMark", "\xEF\xBB\xBF{JDK}\n{MODS}\nmod.a\napp.Main\n"},
        Layout{"NulInJavaHome", "{JDK}\0x\n{MODS}\nmod.a\napp.Main\n"s},
        Layout{"NoJavaAnywhere", "\n{MODS}\nmod.a\napp.Main\n",
              [](CheckTest& test) { test.path = test.app.dir / "nothing-here"; }},
        Layout{"JavaNotExecutable", kGood, RemoveExecutePermission},
        Layout{"JavaNotAProgram", kGood,
              [](CheckTest& test) {
                WriteFile(test.app.java_home + "/bin/java", "neither ELF nor script\n", 0755);
              }},
        Layout{"ModuleAndMainClassUnknown", "{JDK}\n{MODS}\nmod.x\napp.Other\n"}),
    [](const testing::TestParamInfo<Layout>& row) { return std::string(row.param.name); });

// Hostile init.ini files: the check neither hangs nor reads without end, and says what it found.
TEST_F(CheckTest, EndlessFirstLineIsReadOnlyUpToItsLimit) {
  std::filesystem::create_symlink("/dev/zero", app.dir / "init.ini");
  std::vector<std::string> prefix;
  const std::string prlimit = FindTool("prlimit", kSystemToolPath);
  // 128 MiB of address space: ample for the check, not for the line.
  if (!prlimit.empty() && !kUnderEmulation && !LAUNCHER_SANITIZED) {
    prefix = {prlimit, "--as=134217728", "--"};
  }
  prefix.push_back(CheckBinary());
  const RunResult check = Run(prefix[0], {prefix.begin() + 1, prefix.end()});
  ASSERT_TRUE(check.exited) << "ended by signal " << check.signal;
  EXPECT_EQ(check.exit_code, 1) << check.err;
  EXPECT_TRUE(Contains(check.out, "\n  init.ini: init.ini is a device (a link to /dev/zero), "))
      << check.out.substr(0, 4000);
  EXPECT_TRUE(Contains(check.out, "\n  line 1: line 1 does not end within the first 1048576 "
                                  "bytes of init.ini"))
      << check.out.substr(0, 4000);
  EXPECT_LT(check.out.size(), 20000U);
  EXPECT_FALSE(TakeRecord().present) << "no Java may be asked";
}

TEST_F(CheckTest, FifoIsNotOpened) {
  ASSERT_EQ(mkfifo((app.dir / "init.ini").c_str(), 0644), 0);
  const RunResult check = RunCheck();
  EXPECT_FALSE(check.timed_out);
  EXPECT_EQ(check.exit_code, 1);
  EXPECT_TRUE(Contains(check.out, "\n  init.ini: init.ini is a FIFO (named pipe): the launcher "
                                  "would wait at its start"))
      << check.out;
}

TEST_F(CheckTest, UnreadableInitIniSaysSo) {
  WriteSettings(kGood);
  std::filesystem::permissions(app.dir / "init.ini", std::filesystem::perms::none);
  std::string program = CheckBinary();
  std::vector<std::string> arguments;
  if (geteuid() == 0) {
    // Root reads any file: run the check as nobody, which needs its own copy to be reachable.
    program = FindTool("setpriv", kSystemToolPath);
    if (program.empty()) GTEST_SKIP() << "setpriv (util-linux) is needed to drop root";
    std::filesystem::permissions(app.dir.path(), std::filesystem::perms::all);
    CopyFile(CheckBinary(), app.dir / "launcher-check");
    arguments = {"--reuid=65534", "--regid=65534", "--clear-groups", app.dir / "launcher-check"};
  }
  const RunResult check = Run(program, arguments);
  EXPECT_EQ(check.exit_code, 1) << check.err;
  EXPECT_TRUE(Contains(check.out, "\n  init.ini: init.ini cannot be read (Permission denied), so "
                                  "the launcher starts Java with four empty values\n"))
      << check.out;
}

// A java that never answers the dry run is stopped after the time given, and is not left behind.
TEST_F(CheckTest, JavaThatHangsIsStoppedAfterTheTimeout) {
  WriteSettings(kGood);
  env = {"FAKE_JAVA_SLEEP_MS=600000"};
  check_arguments = {"--timeout=1"};
  OrphanWatch orphans;
  const RunResult check = RunCheck();
  EXPECT_FALSE(check.timed_out);
  EXPECT_EQ(check.exit_code, 1);
  EXPECT_TRUE(Contains(check.out, "  Java was still running after 1 seconds: the check stopped "
                                  "it."))
      << check.out;
  EXPECT_TRUE(Contains(check.out, "\n  java: Java did not finish its dry run within 1 seconds"))
      << check.out;
  EXPECT_TRUE(orphans.TakeLeftovers().empty()) << "the stopped java was left behind";
}

TEST_F(CheckTest, JavaThatWritesWithoutEndIsCut) {
  WriteSettings(kGood);
  // More than the check keeps (64 KiB), though less than Linux passes in one variable.
  env = {"FAKE_JAVA_OUT=" + std::string(100000, 'x'), "FAKE_JAVA_EXIT=3"};
  const RunResult check = RunCheck();
  EXPECT_EQ(check.exit_code, 1);
  EXPECT_TRUE(Contains(check.out, "  (and more, which the check did not keep)\n")) << check.err;
  EXPECT_TRUE(Contains(check.out, "\n  java: Java ended with exit status 3\n"));
  EXPECT_LT(check.out.size(), 100000U);
}

struct Usage {
  const char* name;
  std::vector<std::string> arguments;
  std::string err;  // a piece of standard error
  friend void PrintTo(const Usage& row, std::ostream* out) { *out << row.name; }
};

class WrongCommandLine : public CheckTest, public testing::WithParamInterface<Usage> {};

TEST_P(WrongCommandLine, EndsWithTwo) {
  MakeDirs(app.dir / "a-directory");
  check_arguments = GetParam().arguments;
  const RunResult check = RunCheck();
  EXPECT_EQ(check.exit_code, 2);
  EXPECT_EQ(check.out, "");
  EXPECT_TRUE(Contains(check.err, GetParam().err)) << check.err;
}

INSTANTIATE_TEST_SUITE_P(
    Check, WrongCommandLine,
    testing::Values(
        Usage{"UnknownOption", {"--verbose"}, "launcher-check: unknown option '--verbose'\n"
                                              "Usage: launcher-check [--timeout=SECONDS] "
                                              "[LAUNCHER]\n"},
        Usage{"LauncherMissing", {"./no-launcher"},
              "launcher-check: ./no-launcher: No such file or directory\n"},
        Usage{"LauncherIsADirectory", {"a-directory"}, "launcher-check: a-directory: not a file\n"},
        Usage{"BadTimeout", {"--timeout=soon"}, "--timeout needs a whole number"}),
    [](const testing::TestParamInfo<Usage>& row) { return std::string(row.param.name); });

TEST_F(CheckTest, HelpShowsTheUsage) {
  check_arguments = {"--help"};
  const RunResult check = RunCheck();
  EXPECT_EQ(check.exit_code, 0);
  EXPECT_EQ(check.err, "");
  EXPECT_TRUE(check.out.starts_with("Usage: launcher-check [--timeout=SECONDS] [LAUNCHER]\n"));
  EXPECT_TRUE(Contains(check.out, "--timeout=SECONDS"));
}

// The check's own failures end as the launcher's do: the failure report and 217.
TEST_F(CheckTest, FaultEndsWithTheFailureReport) {
  if (LAUNCHER_SANITIZED) GTEST_SKIP() << "the sanitizers own the fault signals";
  const std::string timeout = FindTool("timeout", kSystemToolPath);
  if (timeout.empty()) GTEST_SKIP() << "timeout (coreutils) is needed";
  WriteSettings(kGood);
  env = {"FAKE_JAVA_SLEEP_MS=600000"};
  OrphanWatch orphans;
  // SIGSEGV while the check waits for Java's answer.
  const RunResult check =
      Run(timeout, {"--preserve-status", "--signal=SEGV", "2", CheckBinary()});
  EXPECT_EQ(check.exit_code, 217) << check.err;
  ExpectFailureReport(check.err, "EAccessViolation: Access violation");
  orphans.TakeLeftovers();
}

TEST_F(CheckTest, OutOfMemoryEndsWithTheFailureReport) {
  if (kUnderEmulation) GTEST_SKIP() << "strace follows qemu's system calls, not the check's";
  if (LAUNCHER_SANITIZED) GTEST_SKIP() << "the sanitizers allocate memory their own way";
  const std::string strace = FindTool("strace", kSystemToolPath);
  if (strace.empty()) GTEST_SKIP() << "strace is not installed";
  // A first line of 900 kB makes the check allocate after it has opened init.ini.
  WriteSettings(std::string(900000, 'a') + "\n{MODS}\nmod.a\napp.Main\n");
  const std::string trace = app.dir / "trace.txt";
  RunOptions options;
  options.cwd = cwd;
  options.env = LaunchEnv(path, app.record);
  const RunResult clean =
      RunUnderStrace(strace, {"-e", "trace=brk,mmap,openat"}, trace, CheckBinary(), options);
  ASSERT_EQ(clean.exit_code, 1) << clean.err;
  // The first brk and the first mmap after the open of init.ini fail: the first allocation that
  // needs more memory from the system tries both and gets none. brk never fails with an error:
  // it gives a break below the one asked for, which a result of 0 is as well. (Were every later
  // call to fail too, not even the error could be raised: 217 without a report.)
  int brks = 0;
  int mmaps = 0;
  for (const std::string& line : SplitLines(ReadFile(trace))) {
    if (Contains(line, "\"init.ini\"")) break;
    brks += line.starts_with("brk(");
    mmaps += line.starts_with("mmap(");
  }
  const RunResult starved = RunUnderStrace(
      strace,
      {"-e", "trace=brk,mmap", "-e",
       "inject=brk:retval=0:when=" + std::to_string(brks + 1), "-e",
       "inject=mmap:error=ENOMEM:when=" + std::to_string(mmaps + 1)},
      trace, CheckBinary(), options);
  EXPECT_EQ(starved.exit_code, 217) << starved.err;
  ExpectFailureReport(starved.err, "EOutOfMemory: Out of memory");
}

}  // namespace
}  // namespace e2e
