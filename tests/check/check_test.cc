// launcher-check end to end with the stand-in java: the real check binary and the real launcher,
// on real files. The stand-in records what it received, so the dry run the check asks for and
// the command the launcher runs can be compared argument by argument.
#include <elf.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/check/check_report.h"
#include "tests/support/e2e.h"
#include "tests/support/emulation.h"
#include "tests/support/helpers.h"
#include "tests/support/missing_tool.h"

namespace e2e {
namespace {

using namespace std::string_literals;

std::string CheckBinary() { return CHECK_BINARY; }

constexpr char kGood[] = "{JDK}\n{MODS}\nmod.a\napp.Main\n";
constexpr char kCommandHeading[] = "The command the launcher runs (it can be pasted into a shell):";
constexpr char kFails[] =
    "The launcher would not start Java: it would end with exit status 217 and a failure report on "
    "standard error whose second line is";
constexpr char kOrder[] =
    "the Java installation, the module path, the modules to add, the main class";

// A class file as javac writes one, small: the class `name` (internal form, "app/Main"), a
// subclass of java.lang.Object, with public static void main(String[]) that returns at once;
// naming the class `uses` too, when given.
std::string ClassFile(const std::string& name, const std::string& uses = "") {
  std::string bytes;
  const auto u1 = [&](unsigned value) { bytes += static_cast<char>(value & 0xFF); };
  const auto u2 = [&](unsigned value) { u1(value >> 8), u1(value); };
  const auto u4 = [&](unsigned value) { u2(value >> 16), u2(value); };
  const auto utf8 = [&](const std::string& text) {
    u1(1);
    u2(static_cast<unsigned>(text.size()));
    bytes += text;
  };
  u4(0xCAFEBABE);
  u2(0);
  u2(61);                          // Java 17
  u2(uses.empty() ? 8 : 10);       // the constant pool's count: one more than its constants
  utf8(name);                      // #1
  u1(7), u2(1);                    // #2 the class
  utf8("java/lang/Object");        // #3
  u1(7), u2(3);                    // #4 its superclass
  utf8("main");                    // #5
  utf8("([Ljava/lang/String;)V");  // #6
  utf8("Code");                    // #7
  if (!uses.empty()) {
    utf8(uses);    // #8
    u1(7), u2(8);  // #9 the class it uses
  }
  u2(0x21), u2(2), u2(4);  // public super, this class, superclass
  u2(0), u2(0);            // no interfaces, no fields
  u2(1);                   // one method: main
  u2(0x9), u2(5), u2(6), u2(1);
  u2(7), u4(13), u2(0), u2(1), u4(1), u1(0xB1), u2(0), u2(0);  // Code: return
  u2(0);                                                       // no attributes of the class
  return bytes;
}

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
    WriteFile(app.dir / "app/Main.class", ClassFile("app/Main"));
    MakeDirs(app.dir / "on-path");
    CopyFile(FakeJavaBinary(), app.dir / "on-path/java");
    cwd = app.dir.path();
    path = app.dir / "nothing-here";
  }

  // init.ini with "{JDK}" for the stand-in's Java home, "{MODS}" for the module directory and
  // "{DIR}" for the application directory.
  std::string Fill(const std::string& text) const {
    const std::string filled =
        Replace(Replace(Replace(text, "{JDK}", app.java_home), "{MODS}", app.dir / "modules"),
                "{DIR}", app.dir.path());
    return terminal ? Replace(filled, "{TTY}", terminal->slave_path()) : filled;
  }
  void WriteSettings(const std::string& content) const { app.WriteSettings(Fill(content)); }

  RunOptions Options(const std::string& program, const std::vector<std::string>& arguments) const {
    RunOptions options;
    options.cwd = cwd;
    options.env = LaunchEnv(path, app.record, env);
    options.argv = {program};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.timeout_seconds = 120;
    return options;
  }
  RunResult Run(const std::string& program, const std::vector<std::string>& arguments) const {
    return RunProgram(program, Options(program, arguments));
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
  std::unique_ptr<Pty> terminal;  // held open while a test runs, for init.ini to lead to
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
  EXPECT_TRUE(Contains(check.out,
                       "  program       " + app.java_home + "/bin/java (line 1, then bin/java)\n"))
      << check.out;
  // Java was asked the launcher's command with --dry-run just before the main class, in a
  // process group of its own.
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
  // The launcher's Java runs in the launcher's process group; the dry run's in one of its own.
  const auto group = [](const JavaRecord& record) {
    return record.pgrp.substr(0, record.pgrp.find(' '));
  };
  ASSERT_FALSE(group(launched).empty());
  EXPECT_NE(group(dry_run), group(launched));
}

// The command shown, pasted into bash, runs what the launcher runs, byte for byte: blanks,
// quotes, tabs, a byte-order mark and bytes that are not UTF-8 included.
TEST_F(CheckTest, PastedCommandRunsWhatTheLauncherRuns) {
  const std::string bash = FindTool("bash", kSystemToolPath);
  LAUNCHER_REQUIRE_TOOL(!bash.empty(), "bash, to paste the command into");
  const std::string odd = app.dir / "it's a\tdir";
  MakeDirs(odd);
  WriteSettings("{JDK}/\n" + odd + ":{MODS}\n\xEF\xBB\xBFmod.a,$HOME\n\xE9t\xC3\xA9.Main \n");
  const RunResult check = RunCheck();
  EXPECT_EQ(check.exit_code, 1) << check.out;
  const std::string command = LineAfter(check.out, kCommandHeading);
  ASSERT_FALSE(command.empty()) << check.out;
  TakeRecord();

  const RunResult launch = Run(app.launcher, {});
  const JavaRecord launched = TakeRecord();
  ASSERT_TRUE(launched.present) << launch.err;
  const RunResult pasted = Run(bash, {"-c", command});
  EXPECT_EQ(pasted.exit_code, 0) << pasted.err;
  const JavaRecord by_hand = TakeRecord();
  ASSERT_TRUE(by_hand.present) << command;
  EXPECT_EQ(by_hand.args, launched.args) << command;
  EXPECT_EQ(by_hand.exe, launched.exe);
}

// The stand-in has no release file: its Java runtime's modules are not known, so the check does
// not judge a module name on its own, and Java's verdict speaks for line 3.

// One mistake each: the check ends with 1 and lists exactly these problems, in this order, with
// these fixes ("{JAVAS}" stands for the hint of the Java installations on this machine).
// "{JAVA_SAYS}" in `java_out` is what the stand-in writes and exits 1 with, as the real java
// would.
struct Mistake {
  const char* name;
  std::string settings;  // "<none>": no init.ini
  std::vector<Listed> problems;
  std::function<void(CheckTest&)> prepare = nullptr;
  std::string java_out = "";
  std::string closing = "";  // a piece of the closing line, when the row is about it
  friend void PrintTo(const Mistake& row, std::ostream* out) { *out << row.name; }
};

class Mistakes : public CheckTest, public testing::WithParamInterface<Mistake> {};

TEST_P(Mistakes, AreListedWithTheirFixesInOrder) {
  const Mistake& row = GetParam();
  if (row.settings != "<none>") WriteSettings(row.settings);
  if (row.prepare) row.prepare(*this);
  if (!row.java_out.empty()) env = {"FAKE_JAVA_OUT=" + row.java_out, "FAKE_JAVA_EXIT=1"};
  const RunResult check = RunCheck();
  ASSERT_TRUE(check.exited) << "ended by signal " << check.signal;
  EXPECT_EQ(check.exit_code, 1) << check.out;
  EXPECT_EQ(check.err, "");
  std::vector<Listed> expected;
  const std::string hint = JavasHint();
  for (const Listed& problem : row.problems) {
    expected.push_back(
        {Fill(problem.head), Fill(problem.java), Replace(Fill(problem.fix), "{JAVAS}", hint)});
  }
  const Report report = Parse(check.out);
  EXPECT_EQ(report.count, expected.size()) << check.out;
  EXPECT_EQ(report.problems, expected) << check.out;
  EXPECT_TRUE(Contains(report.closing, Fill(row.closing))) << report.closing;
}

void RemoveExecutePermission(CheckTest& test) {
  std::filesystem::permissions(test.app.java_home + "/bin/java",
                               std::filesystem::perms::owner_read);
}

void MakeSocket(CheckTest& test) {
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = test.app.dir / "init.ini";
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(listener);  // the socket's file stays
}

constexpr char kFillLine2[] =
    "write on line 2 the directory that holds the application's modules (several are separated "
    "by \":\")";
constexpr char kFillLine3[] =
    "write on line 3 the modules to add, separated by commas (for example app.greeting)";
constexpr char kFillLine4[] = "write the main class on line 4, for example Main or app.Main";
constexpr char kNoHome[] =
    "write on line 1 the top directory of a Java installation, the one that holds bin/java{JAVAS}";
constexpr char kNotExisting[] =
    "correct line 2: directories of modules or modular JAR files, separated by \":\"; a relative "
    "one is taken from the working directory";
constexpr char kGetTheLauncher[] =
    "copy the launcher here from its release archive (launcher-VERSION/launcher), or name it: "
    "launcher-check /path/to/launcher";
constexpr char kNoFileHere[] =
    "there is no init.ini in the working directory {DIR} (the launcher reads it from the directory "
    "it is started from, not from its own), so the launcher starts Java with four empty values";

INSTANTIATE_TEST_SUITE_P(
    Check, Mistakes,
    testing::Values(
        Mistake{"NoInitIni",
                "<none>",
                {{"init.ini: "s + kNoFileHere, "",
                  "write init.ini with its four lines in {DIR}, or start the launcher from the "
                  "directory that holds it"}},
                nullptr,
                "",
                kFails},
        Mistake{"InitIniOnlyInTheLaunchersDirectory",
                kGood,
                {{Replace("init.ini: "s + kNoFileHere, "{DIR}", "{DIR}/work"), "",
                  "the launcher's directory holds an init.ini: start the launcher from there (cd "
                  "{DIR}/), or copy that file here"}},
                [](CheckTest& test) {
                  MakeDirs(test.app.dir / "work");
                  test.cwd = test.app.dir / "work";
                  test.check_arguments = {"../launcher"};
                }},
        Mistake{"ByteOrderMark",
                "\xEF\xBB\xBF{JDK}\n{MODS}\nmod.a\napp.Main\n",
                {{"line 1: init.ini begins with a byte-order mark (\\u{FEFF}), which the launcher "
                  "takes as the first three bytes of line 1",
                  "",
                  "save init.ini as UTF-8 without a byte-order mark, or remove it: sed -i "
                  "'1s/^\\xEF\\xBB\\xBF//' init.ini"}}},
        Mistake{"JavaHomeMissing",
                "/nonexistent/jdk\n{MODS}\nmod.a\napp.Main\n",
                {{"line 1: /nonexistent/jdk does not exist; so the launcher finds no java", "",
                  kNoHome}}},
        Mistake{"JavaHomeIsItsBinDirectory",
                "{JDK}/bin\n{MODS}\nmod.a\napp.Main\n",
                {{"line 1: {JDK}/bin is a directory without bin/java (it seems to be the bin "
                  "directory itself); so the launcher finds no java",
                  "", kNoHome}}},
        Mistake{"JavaHomeIsAFile",
                "{JDK}/bin/java\n{MODS}\nmod.a\napp.Main\n",
                {{"line 1: {JDK}/bin/java is not a directory but seemingly the java program "
                  "itself; so the launcher finds no java",
                  "", kNoHome}}},
        Mistake{"JavaHomeWithTrailingBlank",
                "{JDK} \n{MODS}\nmod.a\napp.Main\n",
                {{"line 1: the value ends with a blank or an invisible character, which is part "
                  "of it",
                  "", "remove the blank at the end of line 1"},
                 {"line 1: '{JDK} ' does not exist; so the launcher finds no java", "", kNoHome}}},
        Mistake{"JavaNotExecutable",
                kGood,
                {{"line 1: {JDK}/bin/java cannot be started (Permission denied)", "",
                  "let it be executed (chmod +x), or name another Java installation on line "
                  "1{JAVAS}"}},
                RemoveExecutePermission,
                "",
                "exit status 217"},
        Mistake{"NoJavaAnywhere",
                "\n{MODS}\nmod.a\napp.Main\n",
                {{"line 1: the Java installation is empty, and neither the working directory nor "
                  "a directory of PATH holds a java",
                  "", "write on line 1 the Java installation to use{JAVAS}"}}},
        Mistake{"JavaInTheWorkingDirectory",
                "\n{MODS}\nmod.a\napp.Main\n",
                {{"line 1: the Java installation is empty, so the launcher takes the file java in "
                  "the working directory, before any in PATH",
                  "",
                  "name the Java installation on line 1, or remove ./java if it is not the Java "
                  "meant"}},
                [](CheckTest& test) { CopyFile(FakeJavaBinary(), test.app.dir / "java"); }},
        Mistake{"NulInJavaHome",
                "{JDK}\0x\n{MODS}\nmod.a\napp.Main\n"s,
                {{"line 1: the value holds a NUL byte (\\0): the launcher finds no java under that "
                  "name",
                  "", "remove the NUL byte from line 1"}}},
        Mistake{"ControlByte",
                "{JDK}\n{MODS}\nmod\x01"
                "a\napp.Main\n",
                {{"line 3: the value holds a control byte (shown as \\xNN above)", "",
                  "remove it from line 3"}}},
        Mistake{"ModulePathEmpty",
                "{JDK}\n\nmod.a\napp.Main\n",
                {{"line 2: there is no module path: the line is empty", "", kFillLine2}}},
        Mistake{"ModulePathEntryMissing",
                "{JDK}\n{MODS}:{DIR}/lib\nmod.a\napp.Main\n",
                {{"line 2: the module path names what does not exist: \"{DIR}/lib\" (Java passes "
                  "over it without a word)",
                  "", kNotExisting}}},
        Mistake{"ModulePathWithTrailingBlank",
                "{JDK}\n{MODS} \nmod.a\napp.Main\n",
                {{"line 2: the value ends with a blank or an invisible character, which is part "
                  "of it",
                  "", "remove the blank at the end of line 2"},
                 {"line 2: the module path names what does not exist: \"{MODS} \" (Java passes "
                  "over it without a word)",
                  "", kNotExisting}}},
        Mistake{"ModulesAndMainClassMissing",
                "{JDK}\n{MODS}\n",
                {{"line 3: there are no modules to add: init.ini has no line 3", "", kFillLine3},
                 {"line 4: there is no main class: init.ini has no line 4", "", kFillLine4}}},
        Mistake{"ModuleUnknownToJava",
                kGood,
                {{"line 3: there is no module \"mod.a\" on the module path of line 2",
                  "java.lang.module.FindException: Module mod.a not found",
                  "correct the module's name on line 3, or put the directory that holds module "
                  "\"mod.a\" on line 2"}},
                nullptr,
                "Error occurred during initialization of boot layer\n"
                "java.lang.module.FindException: Module mod.a not found\n",
                "the launcher would end with exit status 1, Java's."},
        Mistake{"MainClassEmpty",
                "{JDK}\n{MODS}\nmod.a\n\n",
                {{"line 4: there is no main class: the line is empty", "", kFillLine4}}},
        Mistake{"MainClassWithLeadingBlank",
                "{JDK}\n{MODS}\nmod.a\n app.Main\n",
                {{"line 4: the value begins with a blank or an invisible character, which is part "
                  "of it",
                  "", "remove the blank at the start of line 4"},
                 {"line 4: there is no class file '{DIR}/ app/Main.class' below the launcher's "
                  "directory for the main class \" app.Main\"; did you mean app.Main?",
                  "Error: Could not find or load main class  app.Main\n"
                  "Caused by: java.lang.ClassNotFoundException:  app.Main",
                  "write app.Main on line 4"}},
                nullptr,
                "Error: Could not find or load main class  app.Main\n"
                "Caused by: java.lang.ClassNotFoundException:  app.Main\n"},
        // One precise problem, with Java's words, not a generic one beside it.
        Mistake{"MainClassNamesItsFile",
                "{JDK}\n{MODS}\nmod.a\napp/Main.class\n",
                {{"line 4: the value names a file, not a class",
                  "Error: Could not find or load main class app.Main.class\n"
                  "Caused by: java.lang.ClassNotFoundException: app.Main.class",
                  "write the class's name on line 4: app.Main (its file lies at "
                  "{DIR}/app/Main.class)"}},
                nullptr,
                "Error: Could not find or load main class app.Main.class\n"
                "Caused by: java.lang.ClassNotFoundException: app.Main.class\n"},
        Mistake{"MainClassWithNul",
                "{JDK}\n{MODS}\nmod.a\napp.Main\0x\n"s,
                {{"line 4: the value holds a NUL byte (\\0): Java receives only what comes before "
                  "it",
                  "", "remove the NUL byte from line 4"}}},
        Mistake{"MainClassMisspelt",
                "{JDK}\n{MODS}\nmod.a\napp.Mian\n",
                {{"line 4: there is no class file {DIR}/app/Mian.class below the launcher's "
                  "directory for the main class \"app.Mian\"; did you mean app.Main?",
                  "Error: Could not find or load main class app.Mian\n"
                  "Caused by: java.lang.ClassNotFoundException: app.Mian",
                  "write app.Main on line 4"}},
                nullptr,
                "Error: Could not find or load main class app.Mian\n"
                "Caused by: java.lang.ClassNotFoundException: app.Mian\n"},
        Mistake{"MainClassFileIsADirectory",
                kGood,
                {{"line 4: the main class's file {DIR}/app/Main.class cannot be read (Is a "
                  "directory)",
                  "", "put the class file in place of the directory"}},
                [](CheckTest& test) {
                  std::filesystem::remove(test.app.dir / "app/Main.class");
                  MakeDirs(test.app.dir / "app/Main.class");
                }},
        Mistake{"MainClassFileIsNoClassFile",
                kGood,
                {{"line 4: the main class's file {DIR}/app/Main.class is not a class file", "",
                  "compile the main class again (javac), and put its class file there"}},
                [](CheckTest& test) {
                  WriteFile(test.app.dir / "app/Main.class", "public class Main {}\n");
                }},
        Mistake{"MainClassFileHoldsAnotherClass",
                kGood,
                {{"line 4: the class file {DIR}/app/Main.class holds the class app.Other", "",
                  "write app.Other on line 4, and keep its class file at {DIR}/app/Other.class"}},
                [](CheckTest& test) {
                  WriteFile(test.app.dir / "app/Main.class", ClassFile("app/Other"));
                }},
        Mistake{
            "ClassTheMainClassUsesIsMissing",
            kGood,
            {{"classes: the application's class app.Main uses app.Helper, which is missing from "
              "the application's classes below the launcher's directory",
              "", "copy all of the application's classes below the launcher's directory"}},
            [](CheckTest& test) {
              WriteFile(test.app.dir / "app/Main.class", ClassFile("app/Main", "app/Helper"));
            }},
        Mistake{"ClassTheMainClassUsesIsDamaged",
                kGood,
                {{"classes: Java cannot load a class the application uses: app.Helper "
                  "({DIR}/app/Helper.class): not a class file",
                  "", "put in its place the class file the application was built with"}},
                [](CheckTest& test) {
                  WriteFile(test.app.dir / "app/Main.class", ClassFile("app/Main", "app/Helper"));
                  WriteFile(test.app.dir / "app/Helper.class", "truncated by a download");
                }},
        // The class path is the directory of the file the link leads to.
        Mistake{"LauncherIsALinkToACopyElsewhere",
                kGood,
                {{"launcher: ./launcher is a symbolic link to {DIR}/elsewhere/launcher: the "
                  "launcher's class path is the directory of the file it leads to, "
                  "{DIR}/elsewhere/, not the link's, where the main class lies "
                  "(./app/Main.class)",
                  "Error: Could not find or load main class app.Main\n"
                  "Caused by: java.lang.ClassNotFoundException: app.Main",
                  "copy the launcher instead of linking it: cp --remove-destination "
                  "{DIR}/elsewhere/launcher ./launcher; or put the classes below "
                  "{DIR}/elsewhere/"}},
                [](CheckTest& test) {
                  MakeDirs(test.app.dir / "elsewhere");
                  std::filesystem::rename(test.app.launcher, test.app.dir / "elsewhere/launcher");
                  std::filesystem::create_symlink(test.app.dir / "elsewhere/launcher",
                                                  test.app.launcher);
                },
                "Error: Could not find or load main class app.Main\n"
                "Caused by: java.lang.ClassNotFoundException: app.Main\n"},
        Mistake{"LauncherNotExecutable",
                kGood,
                {{"launcher: ./launcher cannot be executed (no execute permission)", "",
                  "chmod +x ./launcher"}},
                [](CheckTest& test) {
                  std::filesystem::permissions(
                      test.app.launcher,
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
                },
                "",
                "The launcher would not start Java: it cannot be started itself."},
        Mistake{"LauncherIsAWebPage",
                kGood,
                {{"launcher: ./launcher is a text file (it begins \"<!DOCTYPE html>\"), not the "
                  "launcher",
                  "", kGetTheLauncher}},
                [](CheckTest& test) {
                  WriteFile(test.app.launcher, "<!DOCTYPE html>\n<html></html>\n", 0755);
                },
                "",
                "The launcher would not start Java: it is not the launcher."},
        Mistake{"LauncherIsAnotherProgram",
                kGood,
                {{"launcher: ./launcher is a program, but not the launcher: it holds none of the "
                  "launcher's texts",
                  "", kGetTheLauncher}},
                [](CheckTest& test) { CopyFile(FakeJavaBinary(), test.app.launcher); }},
        Mistake{"LauncherIsTheCheck",
                kGood,
                {{"launcher: ./launcher is launcher-check itself, not the launcher", "",
                  "name the launcher: launcher-check /path/to/launcher"}},
                [](CheckTest& test) { CopyFile(CheckBinary(), test.app.launcher); }},
        Mistake{"SocketAsInitIni",
                "<none>",
                {{"init.ini: init.ini is a socket, which the launcher cannot open, so the "
                  "launcher starts Java with four empty values",
                  "", "put a regular file in its place"}},
                MakeSocket,
                "",
                kFails},
        // The launcher's reader fails on its first read, and keeps nothing.
        Mistake{"InitIniReadFails",
                "<none>",
                {{"init.ini: init.ini cannot be read (Input/output error), so the launcher starts "
                  "Java with four empty values",
                  "", "replace init.ini with a readable copy"}},
                [](CheckTest& test) {
                  std::filesystem::create_symlink("/proc/self/mem", test.app.dir / "init.ini");
                },
                "",
                kFails},
        Mistake{"FifoAsInitIni",
                "<none>",
                {{"init.ini: init.ini is a FIFO (named pipe): the launcher would wait at its start "
                  "until another program writes to it, and take its lines from what that program "
                  "writes",
                  "", "put a regular file in its place"}},
                [](CheckTest& test) {
                  ASSERT_EQ(mkfifo((test.app.dir / "init.ini").c_str(), 0644), 0);
                },
                "",
                "The launcher would not start Java: it would wait for a writer of init.ini, "
                "and read its lines."},
        Mistake{"TerminalAsInitIni",
                "<none>",
                {{"init.ini: init.ini is a terminal (a link to {TTY}): the launcher would wait at "
                  "its start for four lines to be typed at it",
                  "", "put a regular file in its place"}},
                [](CheckTest& test) {
                  test.terminal = std::make_unique<Pty>();
                  std::filesystem::create_symlink(test.terminal->slave_path(),
                                                  test.app.dir / "init.ini");
                },
                "",
                "The launcher would not start Java: it would wait for the lines of init.ini "
                "to be typed at the terminal."},
        // Mistakes of a new user, by name.
        Mistake{"IniStyle",
                "[launcher]\njava={JDK}\nmodules={MODS}\nmain=app.Main\n",
                {{"init.ini: init.ini is written as an INI file, with a [section] or key=value "
                  "lines: the launcher knows no sections and no keys, it takes each of the first "
                  "four lines whole as a value",
                  "",
                  "write the four values alone, one on each line, in this order: "s + kOrder +
                      " (the values found here: \"{JDK}\", then \"{MODS}\", then \"app.Main\")"}}},
        Mistake{"CommentLine",
                "# the settings\n{JDK}\n{MODS}\nmod.a\n",
                {{"line 1: the line is a comment (\"# the settings\"): init.ini has none, each of "
                  "its first four lines is a value, read by its position",
                  "",
                  "remove the comment, so that the values are lines 1 to 4 in this order: "s +
                      kOrder}}},
        Mistake{
            "QuotedModulePath",
            "{JDK}\n\"{MODS}\"\nmod.a\napp.Main\n",
            {{"line 2: the value is in quotes, which the launcher takes as part of it: it hands "
              "the value to Java as it is, with no shell to remove them",
              "", "write line 2 without the quotes: \"{MODS}\""}}},
        Mistake{"TildeInModulePath",
                "{JDK}\n~/mods\nmod.a\napp.Main\n",
                {{"line 2: the value begins with ~, which the launcher does not replace by the "
                  "home directory (a shell does): it names a directory called ~, though "
                  "\"{DIR}/home/mods\" exists",
                  "", "write the full path: \"{DIR}/home/mods\""}},
                [](CheckTest& test) {
                  MakeDirs(test.app.dir / "home/mods");
                  test.env = {"HOME=" + test.app.dir / "home"};
                }},
        Mistake{"BlankAfterComma",
                "{JDK}\n{MODS}\nmod.a, mod.b\napp.Main\n",
                {{"line 3: a blank stands beside a comma, and Java takes it as part of a module's "
                  "name (it splits line 3 at the commas alone)",
                  "java.lang.module.FindException: Module  mod.b not found",
                  "remove the blanks: \"mod.a,mod.b\""}},
                nullptr,
                "Error occurred during initialization of boot layer\n"
                "java.lang.module.FindException: Module  mod.b not found\n"},
        Mistake{"LinesShiftedUp",
                "{MODS}\nmod.a\napp.Main\n",
                {{"line 1: the lines are shifted up by one: line 1 holds the module path, line 2 "
                  "the modules, line 3 the main class, and the Java installation is missing",
                  "",
                  "put the Java installation first, on a line of its own (an empty line 1 takes "
                  "java from the working directory or PATH), so that the lines are, in this "
                  "order: "s +
                      kOrder}}},
        Mistake{"LinesShiftedDown",
                "\n{JDK}\n{MODS}\nmod.a\n",
                {{"line 1: the lines are shifted down by one: line 2 holds the Java installation, "
                  "line 3 the module path, line 4 the modules, after a line 1 of \"\"",
                  "", "remove line 1, so that the lines are, in this order: "s + kOrder}}},
        Mistake{"ModulesAndPathSwapped",
                "{JDK}\nmod.a\n{MODS}\napp.Main\n",
                {{"line 2: lines 2 and 3 are the wrong way round: line 2 holds the names of "
                  "modules, line 3 a path",
                  "",
                  "write the module path (the directories of the modules) on line 2, and the "
                  "names of the modules to add on line 3"}}},
        Mistake{"ClassNameOnLine1",
                "app.Main\n{MODS}\nmod.a\napp.Main\n",
                {{"line 1: line 1 names a class, \"app.Main\", not a Java installation", "",
                  "write on line 1 the Java installation (the directory that holds bin/java), and "
                  "the main class on line 4{JAVAS}"}}},
        Mistake{
            "ModuleNamesOnLine2",
            "{JDK}\nmod.a\nmod.a\napp.Main\n",
            {{"line 2: line 2 holds the names of modules, not the directories that hold them", "",
              "write on line 2 the directory of the modules (for JavaFX with Debian's "
              "openjfx: /usr/share/openjfx/lib), and the names of the modules to add on line "
              "3"}}},
        Mistake{"JarOnLine4",
                "{JDK}\n{MODS}\nmod.a\n{DIR}/app.jar\n",
                {{"line 4: line 4 holds a path, not the name of the main class", "",
                  "write on line 4 the main class's name, with dots between its package's parts "
                  "(app.Main), and copy the launcher into the directory that holds its "
                  "packages"}}},
        Mistake{"PathOnLine3",
                "{JDK}\n{MODS}\n{MODS}\napp.Main\n",
                {{"line 3: line 3 holds a path, not the names of modules", "",
                  "write on line 3 the names of the modules to add, separated by commas (such as "
                  "app.greeting), and their directory on line 2"}}}),
    [](const testing::TestParamInfo<Mistake>& row) { return std::string(row.param.name); });

// The check's word against the launcher's deed, over a table of init.ini files: where the check
// says the launcher would start Java, it does, hands it what the check asked with, less
// --dry-run, and ends as the check said (with Java's exit status, or by Java's signal); where the
// check says the launcher would end with 217, it does, with the line 2 the check showed; where it
// says the launcher would not start Java otherwise, no Java runs.
struct Layout {
  const char* name;
  std::string settings;
  std::function<void(CheckTest&)> prepare = nullptr;
  friend void PrintTo(const Layout& row, std::ostream* out) { *out << row.name; }
};

class Agreement : public CheckTest, public testing::WithParamInterface<Layout> {};

// The exit status the stand-in ends with (FAKE_JAVA_EXIT in `env`, 0 without).
int StandInStatus(const std::vector<std::string>& env) {
  for (const std::string& entry : env) {
    if (entry.starts_with("FAKE_JAVA_EXIT=")) return std::stoi(entry.substr(15));
  }
  return 0;
}

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
  const JavaRecord launched = TakeRecord();
  const Report report = Parse(check.out);
  const std::string& closing = report.closing;
  if (closing == kFails) {
    EXPECT_EQ(launch.exit_code, 217) << check.out;
    ASSERT_TRUE(report.after_closing.starts_with("  ")) << check.out;
    ExpectFailureReport(AsShown(launch.err), report.after_closing.substr(2));
    EXPECT_FALSE(launched.present);
    return;
  }
  if (closing.starts_with("The launcher would not start Java: ")) {
    EXPECT_FALSE(launched.present) << check.out;
    return;
  }
  ASSERT_TRUE(asked.present) << check.out;
  ASSERT_TRUE(launched.present) << launch.err;
  EXPECT_EQ(launched.args, WithoutDryRun(asked.args));
  EXPECT_EQ(launched.exe, asked.exe);
  const std::string by_signal = "the launcher would end by the same signal, ";
  const std::string with_status = "the launcher would end with exit status ";
  if (const std::size_t at = closing.find(by_signal); at != std::string::npos) {
    EXPECT_FALSE(launch.exited) << check.out;
    EXPECT_EQ(launch.signal, std::stoi(closing.substr(at + by_signal.size()))) << check.out;
  } else if (const std::size_t status_at = closing.find(with_status);
             status_at != std::string::npos) {
    EXPECT_EQ(launch.exit_code, std::stoi(closing.substr(status_at + with_status.size())))
        << check.out;
  } else {
    // No problem, or problems that may not stop it: the launcher ends as Java does.
    EXPECT_TRUE(closing == "No problem found: the launcher starts the application." ||
                closing.ends_with("the launcher would end with the application's exit status."))
        << check.out;
    EXPECT_EQ(launch.exit_code, StandInStatus(env)) << launch.err;
  }
  if (check.exit_code == 0) {
    EXPECT_EQ(launch.exit_code, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Check, Agreement,
    testing::Values(
        Layout{"Working", kGood}, Layout{"JavaHomeWithSlash", "{JDK}/\n{MODS}\nmod.a\napp.Main\n"},
        Layout{"JavaHomeRelative", "jdk\n{MODS}\nmod.a\napp.Main\n"},
        Layout{"JavaThroughPath", "\n{MODS}\nmod.a\napp.Main\n"},
        Layout{"JavaInTheWorkingDirectory", "\n{MODS}\nmod.a\napp.Main\n",
               [](CheckTest& test) { CopyFile(FakeJavaBinary(), test.app.dir / "java"); }},
        Layout{"NoInitIni", "<none>"},
        Layout{"InitIniIsADirectory", "<none>",
               [](CheckTest& test) { MakeDirs(test.app.dir / "init.ini"); }},
        Layout{"InitIniIsASocket", "<none>", MakeSocket},
        Layout{"InitIniIsALoopOfLinks", "<none>",
               [](CheckTest& test) {
                 std::filesystem::create_symlink("init.ini", test.app.dir / "init.ini");
               }},
        Layout{"InitIniReadFails", "<none>",
               [](CheckTest& test) {
                 std::filesystem::create_symlink("/proc/self/mem", test.app.dir / "init.ini");
               }},
        Layout{"CrLfAndMore", "{JDK}\r\n{MODS}\r\nmod.a\r\napp.Main\r\nmore\r\n"},
        Layout{"MainClassWithNul", "{JDK}\n{MODS}\nmod.a\napp.Main\0x\n"s},
        Layout{"ControlByte",
               "{JDK}\n{MODS}\nmod\x01"
               "a\napp.Main\n"},
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
        Layout{"ModuleAndMainClassUnknown", "{JDK}\n{MODS}\nmod.x\napp.Other\n"},
        Layout{"QuotedModulePath", "{JDK}\n\"{MODS}\"\nmod.a\napp.Main\n"},
        Layout{"IniStyle", "[launcher]\njava={JDK}\nmodules={MODS}\nmain=app.Main\n"},
        Layout{"LinesShiftedDown", "\n{JDK}\n{MODS}\nmod.a\n"},
        Layout{"JavaEndsWithStatus3", kGood,
               [](CheckTest& test) { test.env = {"FAKE_JAVA_EXIT=3"}; }},
        Layout{"JavaEndedBySignal", kGood,
               [](CheckTest& test) { test.env = {"FAKE_JAVA_SIGNAL=15"}; }},
        Layout{"LauncherNotExecutable", kGood,
               [](CheckTest& test) {
                 std::filesystem::permissions(test.app.launcher,
                                              std::filesystem::perms::owner_read);
               }},
        Layout{"LauncherIsAWebPage", kGood,
               [](CheckTest& test) {
                 WriteFile(test.app.launcher, "<!DOCTYPE html>\n<html></html>\n", 0755);
               }}),
    [](const testing::TestParamInfo<Layout>& row) { return std::string(row.param.name); });

// A command too long for Linux as a whole, though no argument is too long by itself: the
// launcher's start of Java fails with E2BIG, which the check predicts and lays on the command, not
// on line 1. A small stack limit makes Linux's bound small (a quarter of it).
TEST_F(CheckTest, ArgumentListTooLongAsAWhole) {
  const std::string prlimit = FindTool("prlimit", kSystemToolPath);
  LAUNCHER_REQUIRE_TOOL(!prlimit.empty(), "prlimit (util-linux), to lower the stack limit");
  // 290 kB of values, none over 128 kB; the limit is 256 kB.
  WriteSettings("{JDK}\n{MODS}:" + std::string(90000, 'm') + "\nmod.a," + std::string(90000, 'b') +
                "\n" + std::string(100000, 'C') + "\n");
  const RunResult check = Run(prlimit, {"--stack=1048576", "--", CheckBinary()});
  ASSERT_TRUE(check.exited) << "ended by signal " << check.signal;
  EXPECT_EQ(check.exit_code, 1) << check.err;
  const Report report = Parse(check.out);
  const std::string head =
      "command: the command and the environment the launcher hands to Java are ";
  const auto command =
      std::find_if(report.problems.begin(), report.problems.end(),
                   [&](const Listed& listed) { return listed.head.starts_with(head); });
  ASSERT_NE(command, report.problems.end()) << check.out;
  EXPECT_TRUE(
      command->head.ends_with(" bytes together, more than Linux hands to a program (262144 "
                              "bytes, a quarter of the stack limit); line 4 takes 100000 "
                              "bytes of it"))
      << command->head;
  EXPECT_EQ(command->fix,
            "shorten line 4, or raise the stack limit before starting the launcher "
            "(ulimit -s)");
  for (const Listed& listed : report.problems)
    EXPECT_FALSE(listed.head.starts_with("line 1:")) << listed.head;
  EXPECT_EQ(report.closing, kFails);
  EXPECT_EQ(report.after_closing, "  EProcess: Failed to execute \"" + app.java_home +
                                      "/bin/java\": Argument list too long");
  EXPECT_FALSE(TakeRecord().present) << "no Java can be asked";
  const RunResult launch = Run(prlimit, {"--stack=1048576", "--", app.launcher});
  EXPECT_EQ(launch.exit_code, 217);
  ExpectFailureReport(launch.err, report.after_closing.substr(2));
}

// What the check shows of the environment that java reads, and of what the launcher does not.
TEST_F(CheckTest, EnvironmentJavaReadsIsShown) {
  WriteSettings("\n{MODS}\nmod.a\napp.Main\n");
  path = app.dir / "on-path";
  env = {"JAVA_HOME=/opt/elsewhere", "JDK_JAVA_OPTIONS=-Xmx1g", "_JAVA_OPTIONS=-Dx=\x1B[2J"};
  const RunResult check = RunCheck();
  EXPECT_EQ(check.exit_code, 0) << check.out;
  EXPECT_TRUE(Contains(check.out,
                       "\n  JAVA_HOME     \"/opt/elsewhere\", which the launcher does not "
                       "read\n"))
      << check.out;
  EXPECT_TRUE(Contains(check.out, "\n  JDK_JAVA_OPTIONS \"-Xmx1g\", which Java reads\n"))
      << check.out;
  EXPECT_TRUE(Contains(check.out, "\n  _JAVA_OPTIONS \"-Dx=\\x1B[2J\", which Java reads\n"))
      << check.out;
}

// The hint of a fix of line 1 names the Java installations of this processor only (this machine
// may have another processor's beside them, as the arm64 set-up installs).
TEST_F(CheckTest, InstalledJavasOfThisProcessorAreNamed) {
  WriteSettings("/nonexistent/jdk\n{MODS}\nmod.a\napp.Main\n");
  const RunResult check = RunCheck();
  const Report report = Parse(check.out);
  ASSERT_EQ(report.problems.size(), 1U) << check.out;
  const std::string& fix = report.problems[0].fix;
  const std::string hint = JavasHint();
  EXPECT_TRUE(fix.ends_with("bin/java" + hint)) << fix;
#if defined(__aarch64__)
  constexpr const char* kOther = "/usr/lib/jvm/java-17-openjdk-amd64";
#else
  constexpr const char* kOther = "/usr/lib/jvm/java-17-openjdk-arm64";
#endif
  if (std::filesystem::exists(kOther)) {
    EXPECT_FALSE(Contains(fix, kOther)) << fix;
  }
}

// Hostile init.ini files: the check neither hangs nor reads without end, and says what it found.
TEST_F(CheckTest, EndlessFirstLineIsReadOnlyUpToItsLimit) {
  std::filesystem::create_symlink("/dev/zero", app.dir / "init.ini");
  std::vector<std::string> prefix;
  const std::string prlimit = FindTool("prlimit", kSystemToolPath);
  // 128 MiB of address space: ample for the check, not for the line.
  if (!kUnderEmulation && !LAUNCHER_SANITIZED) {
    LAUNCHER_REQUIRE_TOOL(!prlimit.empty(), "prlimit (util-linux), to bound the check's memory");
    prefix = {prlimit, "--as=134217728", "--"};
  }
  prefix.push_back(CheckBinary());
  const RunResult check = Run(prefix[0], {prefix.begin() + 1, prefix.end()});
  ASSERT_TRUE(check.exited) << "ended by signal " << check.signal;
  EXPECT_EQ(check.exit_code, 1) << check.err;
  const Report report = Parse(check.out);
  EXPECT_EQ(report.problems,
            (std::vector<Listed>{
                {"init.ini: init.ini is a device (a link to /dev/zero), not a regular file", "",
                 "put a regular file in its place"},
                {"line 1: line 1 does not end within the first 1048576 bytes of init.ini: the "
                 "launcher reads it to its end (an endless file until its memory runs out) and "
                 "cannot hand so long a value to Java",
                 "", "write line 1 as one line of its value"}}))
      << check.out.substr(0, 4000);
  EXPECT_EQ(report.closing,
            "The launcher would not start Java: it would read line 1 to its end "
            "and could not hand it to Java.");
  EXPECT_LT(check.out.size(), 20000U);
  EXPECT_FALSE(TakeRecord().present) << "no Java may be asked";
}

TEST_F(CheckTest, UnreadableInitIniSaysSo) {
  WriteSettings(kGood);
  std::filesystem::permissions(app.dir / "init.ini", std::filesystem::perms::none);
  std::string program = CheckBinary();
  std::vector<std::string> arguments;
  if (geteuid() == 0) {
    // Root reads any file: run the check as nobody, which needs its own copy to be reachable.
    program = FindTool("setpriv", kSystemToolPath);
    LAUNCHER_REQUIRE_TOOL(!program.empty(), "setpriv (util-linux), to drop root");
    std::filesystem::permissions(app.dir.path(), std::filesystem::perms::all);
    CopyFile(CheckBinary(), app.dir / "launcher-check");
    arguments = {"--reuid=65534", "--regid=65534", "--clear-groups", app.dir / "launcher-check"};
  }
  const RunResult check = Run(program, arguments);
  EXPECT_EQ(check.exit_code, 1) << check.err;
  const Report report = Parse(check.out);
  ASSERT_FALSE(report.problems.empty()) << check.out;
  EXPECT_EQ(
      report.problems[0],
      (Listed{"init.ini: init.ini cannot be read (Permission denied), so the launcher starts "
              "Java with four empty values",
              "",
              "let the user who starts the launcher read it: chmod a+r init.ini (and let them "
              "enter the directories on its way)"}))
      << check.out;
}

// A terminal as init.ini: the launcher would wait for lines typed at it, and the check, which must
// neither wait nor be stopped (a read from a background process group stops it with SIGTTIN),
// does not read it: a line typed there stays for whoever reads the terminal.
TEST_F(CheckTest, TerminalAsInitIniIsNotRead) {
  terminal = std::make_unique<Pty>();
  std::filesystem::create_symlink(terminal->slave_path(), app.dir / "init.ini");
  terminal->Type("/opt/typed/jdk\n");
  const RunResult check = RunCheck();
  ASSERT_TRUE(check.exited) << "ended by signal " << check.signal;
  EXPECT_FALSE(check.timed_out);
  EXPECT_EQ(check.exit_code, 1);
  EXPECT_TRUE(Contains(check.out, "\n  lines         not known: what is typed\n")) << check.out;
  EXPECT_FALSE(Contains(check.out, "typed/jdk")) << check.out;
  EXPECT_FALSE(TakeRecord().present) << "no Java may be asked";
}

// A java that never answers the dry run is stopped after the time given, with everything it
// started: a wrapper script that runs the real java as a child of its own leaves nothing behind.
TEST_F(CheckTest, JavaThatHangsIsStoppedAfterTheTimeoutWithItsGroup) {
  WriteSettings(kGood);
  const std::string sh = FindTool("sh", kSystemToolPath);
  LAUNCHER_REQUIRE_TOOL(!sh.empty(), "sh, to wrap java");
  CopyFile(FakeJavaBinary(), app.java_home + "/bin/java.real");
  WriteFile(app.java_home + "/bin/java",
            "#!" + sh + "\n\"$0.real\" \"$@\"\necho the wrapper goes on\n", 0755);
  env = {"FAKE_JAVA_SLEEP_MS=600000"};
  check_arguments = {"--timeout=1"};
  OrphanWatch orphans;
  const double start = Now();
  const RunResult check = RunCheck();
  const double elapsed = Now() - start;
  EXPECT_FALSE(check.timed_out);
  EXPECT_EQ(check.exit_code, 1);
  EXPECT_GE(elapsed, 1.0);
  EXPECT_LT(elapsed, 30.0) << "the timeout of 1 second was not kept";
  EXPECT_TRUE(Contains(check.out,
                       "  Java was still running after 1 seconds: the check stopped it "
                       "and everything it started. It wrote:\n"))
      << check.out;
  const Report report = Parse(check.out);
  EXPECT_EQ(report.problems,
            (std::vector<Listed>{{"java: Java did not finish its dry run within 1 seconds: the "
                                  "check stopped it",
                                  "",
                                  "give it more time with --timeout=SECONDS on a slow or busy "
                                  "machine; a Java that hangs every time would hang the "
                                  "application as well"}}))
      << check.out;
  EXPECT_FALSE(Contains(check.out, "the wrapper goes on"));
  if (orphans.Adopting()) {
    EXPECT_TRUE(orphans.TakeLeftovers().empty()) << "a java was left behind";
  }
}

// SIGTERM or SIGINT to the check while Java runs: Java's group receives it, is ended and collected,
// and the check ends by the same signal. Java itself sees the SIGINT, as it would from the
// terminal.
TEST_F(CheckTest, SignalToTheCheckEndsJavasGroupAndTheCheckBySignal) {
  const std::string timeout = FindTool("timeout", kSystemToolPath);
  LAUNCHER_REQUIRE_TOOL(!timeout.empty(), "timeout (coreutils), to signal the check");
  WriteSettings(kGood);
  const std::string caught = app.dir / "caught";
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sigabbrev_np(signal));
    std::filesystem::remove(caught);
    env = {"FAKE_JAVA_SLEEP_MS=600000", "FAKE_JAVA_CATCH=" + std::to_string(signal),
           "FAKE_JAVA_CAUGHT=" + caught};
    OrphanWatch orphans;
    const double start = Now();
    const RunResult check = Run(
        timeout, {"--preserve-status", "--signal=" + std::to_string(signal), "2", CheckBinary()});
    EXPECT_LT(Now() - start, 30.0);
    // timeout passes on how the check ended: by the signal.
    EXPECT_EQ(check.exit_code, 128 + signal) << check.out << check.err;
    EXPECT_EQ(ReadFile(caught), std::to_string(signal) + "\n") << "Java did not receive the signal";
    if (orphans.Adopting()) {
      EXPECT_TRUE(orphans.TakeLeftovers().empty()) << "a java was left behind";
    }
  }
}

// The dry run learns Java's end whatever the check was started with.
struct Start {
  const char* name;
  std::vector<int> ignored_signals;
  std::vector<int> closed_fds;
  std::vector<std::string> env;
  std::string verdict;  // the verdict's line
  std::string closing;
  friend void PrintTo(const Start& row, std::ostream* out) { *out << row.name; }
};

class Starts : public CheckTest, public testing::WithParamInterface<Start> {};

TEST_P(Starts, JavaEndIsLearnt) {
  const Start& row = GetParam();
  WriteSettings(kGood);
  env = row.env;
  RunOptions options = Options(CheckBinary(), {});
  options.ignored_signals = row.ignored_signals;
  options.closed_fds = row.closed_fds;
  const RunResult check = RunProgram(CheckBinary(), options);
  ASSERT_TRUE(check.exited) << "ended by signal " << check.signal;
  EXPECT_EQ(check.exit_code, 1) << check.out << check.err;
  EXPECT_TRUE(Contains(check.out, "\n  " + row.verdict + "\n")) << check.out;
  EXPECT_EQ(Parse(check.out).closing, row.closing) << check.out;
}

INSTANTIATE_TEST_SUITE_P(
    Check, Starts,
    testing::Values(
        Start{"ChildSignalIgnored",
              {SIGCHLD},
              {},
              {"FAKE_JAVA_EXIT=3"},
              "Java ended with exit status 3 and wrote nothing.",
              "The launcher would start Java, and Java would stop as it did above: the launcher "
              "would end with exit status 3, Java's."},
        Start{"StandardInputClosed",
              {},
              {0},
              {"FAKE_JAVA_EXIT=3"},
              "Java ended with exit status 3 and wrote nothing.",
              "The launcher would start Java, and Java would stop as it did above: the launcher "
              "would end with exit status 3, Java's."},
        Start{"StandardErrorClosed",
              {},
              {2},
              {"FAKE_JAVA_EXIT=3"},
              "Java ended with exit status 3 and wrote nothing.",
              "The launcher would start Java, and Java would stop as it did above: the launcher "
              "would end with exit status 3, Java's."},
        Start{"JavaEndedBySignal",
              {},
              {},
              {"FAKE_JAVA_SIGNAL=15"},
              "Java was ended by signal 15 (SIGTERM). It wrote:",
              "The launcher would start Java, and Java would be ended as above: the launcher would "
              "end by the same signal, 15 (SIGTERM)."}),
    [](const testing::TestParamInfo<Start>& row) { return std::string(row.param.name); });

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

// What Java writes reaches the terminal safe and short: no control byte, no C1 control, no change
// of direction, and a long line once, cut, with its length.
TEST_F(CheckTest, JavaOutputIsShownSafelyAndShortenedOnce) {
  WriteSettings(kGood);
  const std::string name =
      "\xC2\x9B"
      "31m\xE2\x80\xAE" +
      std::string(3000, 'A');
  env = {"FAKE_JAVA_OUT=Error: Could not find or load main class " + name + "\n",
         "FAKE_JAVA_EXIT=1"};
  const RunResult check = RunCheck();
  EXPECT_EQ(check.exit_code, 1);
  for (const std::string& line : SplitLines(check.out)) {
    EXPECT_LT(line.size(), 700U) << line.substr(0, 100);
    EXPECT_FALSE(Contains(line, "\xC2\x9B")) << line.substr(0, 100);
    EXPECT_FALSE(Contains(line, "\xE2\x80\xAE")) << line.substr(0, 100);
  }
  EXPECT_TRUE(Contains(check.out,
                       "    | Error: Could not find or load main class \\u{009B}31m"
                       "\\u{202E}AAAA"))
      << check.out;
  // Cut once where it is shown, with its length: in Java's words and in the problem's.
  std::size_t cut = 0;
  for (const std::string& line : SplitLines(check.out)) {
    if (line.ends_with("AAAA... (3049 bytes)")) {
      ++cut;
      EXPECT_TRUE(line.starts_with("    | Error: ") || line.starts_with("    Java: Error: "))
          << line.substr(0, 100);
    }
  }
  EXPECT_EQ(cut, 2U) << check.out;
}

// A report that cannot be written is no report: exit status 2, and why on standard error.
TEST_F(CheckTest, WriteErrorOnStandardOutputEndsWithTwo) {
  WriteSettings(kGood);
  RunOptions full = Options(CheckBinary(), {});
  full.stdout_path = "/dev/full";
  const RunResult to_full = RunProgram(CheckBinary(), full);
  EXPECT_EQ(to_full.exit_code, 2);
  EXPECT_EQ(to_full.err,
            "launcher-check: cannot write to standard output: No space left on device\n");

  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  RunOptions closed = Options(CheckBinary(), {});
  closed.inherited_fds = {{ends[1], 1}};
  closed.ignored_signals = {SIGPIPE};
  const RunResult to_closed_pipe = RunProgram(CheckBinary(), closed);
  close(ends[1]);
  EXPECT_EQ(to_closed_pipe.exit_code, 2);
  EXPECT_EQ(to_closed_pipe.err, "launcher-check: cannot write to standard output: Broken pipe\n");
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
        Usage{"UnknownOption",
              {"--verbose"},
              "launcher-check: unknown option '--verbose'\n"
              "Usage: launcher-check [--timeout=SECONDS] "
              "[LAUNCHER]\n"},
        Usage{"UnknownOptionShownSafely",
              {"--\xE2\x80\xAE"
               "x"},
              "launcher-check: unknown option '--\\u{202E}x'\n"},
        Usage{"LauncherMissing",
              {"./no-launcher"},
              "launcher-check: ./no-launcher: No such file or directory\n"},
        Usage{"LauncherNameShownSafely",
              {"./no\x1B[2J"},
              "launcher-check: $'./no\\x1B[2J': No such file or directory\n"},
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
  LAUNCHER_REQUIRE_TOOL(!timeout.empty(), "timeout (coreutils), to signal the check");
  WriteSettings(kGood);
  env = {"FAKE_JAVA_SLEEP_MS=600000"};
  OrphanWatch orphans;
  // SIGSEGV while the check waits for Java's answer.
  const RunResult check = Run(timeout, {"--preserve-status", "--signal=SEGV", "2", CheckBinary()});
  EXPECT_EQ(check.exit_code, 217) << check.err;
  ExpectFailureReport(check.err, "EAccessViolation: Access violation");
  orphans.TakeLeftovers();
}

TEST_F(CheckTest, OutOfMemoryEndsWithTheFailureReport) {
  if (kUnderEmulation) GTEST_SKIP() << "strace follows qemu's system calls, not the check's";
  if (LAUNCHER_SANITIZED) GTEST_SKIP() << "the sanitizers allocate memory their own way";
  const std::string strace = FindTool("strace", kSystemToolPath);
  LAUNCHER_REQUIRE_TOOL(!strace.empty(), "strace, to fail the check's allocations");
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
      {"-e", "trace=brk,mmap", "-e", "inject=brk:retval=0:when=" + std::to_string(brks + 1), "-e",
       "inject=mmap:error=ENOMEM:when=" + std::to_string(mmaps + 1)},
      trace, CheckBinary(), options);
  EXPECT_EQ(starved.exit_code, 217) << starved.err;
  ExpectFailureReport(starved.err, "EOutOfMemory: Out of memory");
}

}  // namespace
}  // namespace e2e
