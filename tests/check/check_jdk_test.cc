// launcher-check with the real JDK: a modular application compiled with javac once per run of
// this binary, and the JavaFX example. Where the check says the application starts, the launcher
// starts it; where it names a line, the real java's words are the ones the README's table gives;
// and the application's main never runs during the check.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/e2e.h"
#include "tests/support/emulation.h"
#include "tests/support/greeting_module.h"
#include "tests/support/helpers.h"

namespace e2e {
namespace {

constexpr double kTimeout = 240;

// main writes a file: the check must never make it run. The static initialiser does not run
// during the dry run either.
constexpr char kMain[] = R"(import app.greeting.Greeting;

public final class Main {
  static {
    System.out.println("Main initialised");
  }

  public static void main(String[] args) throws Exception {
    System.out.println(Greeting.hello());
    java.nio.file.Files.writeString(java.nio.file.Path.of("main-ran"), "yes");
  }
}
)";
constexpr char kNoMain[] = "public final class NoMain {}\n";
constexpr char kInPackage[] =
    "package pkg;\npublic final class Tool { public static void main(String[] a) {} }\n";

// DIR/app holds the launcher, Main.class, NoMain.class and Tool.class (the class pkg.Tool, put
// there without its package directory); DIR/modules the module app.greeting; DIR/work is the
// working directory.
class CheckWithJdk : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string javac = JAVAC_BINARY;
    char real[PATH_MAX];
    if (javac.empty() || realpath(javac.c_str(), real) == nullptr) return;
    const std::string bin = std::string(real).substr(0, std::string(real).rfind('/'));
    const std::string jdk = bin.substr(0, bin.rfind('/'));
    const std::string runtime = JAVA_RUNTIME_HOME;
    java_home_ = new std::string(runtime.empty() ? jdk : runtime);
    dir_ = new TempDir;
    const TempDir& dir = *dir_;
    for (const char* sub : {"src/app.greeting/app/greeting", "app", "work", "classes"}) {
      MakeDirs(dir / sub);
    }
    WriteFile(dir / "src/app.greeting/module-info.java", kGreetingModuleInfo);
    WriteFile(dir / "src/app.greeting/app/greeting/Greeting.java", kGreetingClass);
    WriteFile(dir / "src/Main.java", kMain);
    WriteFile(dir / "src/NoMain.java", kNoMain);
    WriteFile(dir / "src/Tool.java", kInPackage);
    CopyFile(LauncherBinary(), dir / "app/launcher");
    Compile(javac, {"-d", dir / "modules/app.greeting", dir / "src/app.greeting/module-info.java",
                    dir / "src/app.greeting/app/greeting/Greeting.java"});
    Compile(javac, {"--module-path", dir / "modules", "--add-modules", "app.greeting", "-d",
                    dir / "app", dir / "src/Main.java", dir / "src/NoMain.java"});
    Compile(javac, {"-d", dir / "classes", dir / "src/Tool.java"});
    CopyFile(dir / "classes/pkg/Tool.class", dir / "app/Tool.class");
  }

  static void TearDownTestSuite() {
    delete dir_;
    delete java_home_;
    dir_ = nullptr;
    java_home_ = nullptr;
  }

  static void Compile(const std::string& javac, const std::vector<std::string>& arguments) {
    RunOptions options;
    options.argv = {javac};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.env = {"PATH=/usr/bin:/bin"};
    options.timeout_seconds = kTimeout;
    const RunResult result = RunProgram(javac, options);
    if (!result.exited || result.exit_code != 0) compile_errors_ += result.err + "\n";
  }

  void SetUp() override {
    if (java_home_ == nullptr) GTEST_SKIP() << "no javac was found when the tests were built";
    ASSERT_EQ(compile_errors_, "");
    std::filesystem::remove(*dir_ / "work/init.ini");
    std::filesystem::remove(*dir_ / "work/main-ran");
  }

  // "{H}" stands for the Java home, "{M}" for the module directory.
  static void WriteSettings(const std::string& content) {
    WriteFile(*dir_ / "work/init.ini",
              Replace(Replace(content, "{H}", *java_home_), "{M}", *dir_ / "modules"));
  }

  static RunResult Run(const std::string& program, const std::vector<std::string>& arguments) {
    RunOptions options;
    options.cwd = *dir_ / "work";
    options.env = {"PATH=" + *java_home_ + "/bin:/usr/bin:/bin"};
    options.argv = {program};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.timeout_seconds = kTimeout;
    return RunProgram(program, options);
  }
  static RunResult Check() { return Run(CHECK_BINARY, {"--timeout=200", "../app/launcher"}); }
  static RunResult Launch() { return Run(*dir_ / "app/launcher", {}); }

  static TempDir* dir_;
  static std::string* java_home_;
  static std::string compile_errors_;
};

TempDir* CheckWithJdk::dir_ = nullptr;
std::string* CheckWithJdk::java_home_ = nullptr;
std::string CheckWithJdk::compile_errors_;

TEST_F(CheckWithJdk, WorkingApplicationPassesAndMainNeverRuns) {
  WriteSettings("{H}\n{M}\napp.greeting\nMain\n");
  const RunResult check = Check();
  ASSERT_TRUE(check.exited) << "ended by signal " << check.signal;
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  EXPECT_TRUE(Contains(check.out, "  Java ended with exit status 0 and wrote nothing.\n"))
      << check.out;
  EXPECT_TRUE(Contains(check.out, "\nNo problem found: the launcher starts the application.\n"));
  EXPECT_FALSE(Contains(check.out, "Main initialised"));
  EXPECT_FALSE(std::filesystem::exists(*dir_ / "work/main-ran")) << "the check ran main";

  const RunResult launch = Launch();
  EXPECT_EQ(launch.exit_code, 0) << launch.err;
  EXPECT_EQ(launch.out, "Main initialised\nHello from module app.greeting\n") << launch.err;
  EXPECT_TRUE(std::filesystem::exists(*dir_ / "work/main-ran"));
}

// What the real java says for each mistake, the line the check names for it, and that the
// launcher then starts Java all the same (which stops with those words).
struct JavaMistake {
  const char* name;
  const char* settings;  // nullptr: no init.ini
  const char* problem;   // the problem's line in the check's output
  const char* java;      // what the real java wrote, as the check quotes it
  friend void PrintTo(const JavaMistake& row, std::ostream* out) { *out << row.name; }
};

class RealJavaMistakes : public CheckWithJdk, public testing::WithParamInterface<JavaMistake> {};

TEST_P(RealJavaMistakes, NameTheLineAndQuoteJava) {
  const JavaMistake& row = GetParam();
  if (row.settings != nullptr) WriteSettings(row.settings);
  const RunResult check = Check();
  ASSERT_TRUE(check.exited) << "ended by signal " << check.signal;
  EXPECT_EQ(check.exit_code, 1) << check.out << check.err;
  EXPECT_TRUE(Contains(check.out, std::string("\n  ") + row.problem)) << check.out;
  EXPECT_TRUE(Contains(check.out, std::string("\n    Java: ") + row.java + "\n")) << check.out;
  EXPECT_TRUE(Contains(check.out, "\nThe launcher would start Java, and Java would stop as it did "
                                  "above; the launcher itself would still end with exit status "
                                  "0.\n"))
      << check.out;
  const RunResult launch = Launch();
  EXPECT_EQ(launch.exit_code, 1);  // Java's own status, passed on
  EXPECT_TRUE(Contains(launch.out + launch.err, row.java)) << launch.out << launch.err;
  EXPECT_FALSE(std::filesystem::exists(*dir_ / "work/main-ran"));
}

INSTANTIATE_TEST_SUITE_P(
    Check, RealJavaMistakes,
    testing::Values(
        JavaMistake{"NoInitIni", nullptr,
                    "init.ini: there is no init.ini in the working directory ",
                    "Error: --module-path requires module path specification"},
        JavaMistake{"NoModules", "{H}\n{M}\n\nMain\n",
                    "line 3: there are no modules to add: the line is empty",
                    "Error: --add-modules requires modules to be specified"},
        JavaMistake{"UnknownModule", "{H}\n{M}\napp.greting\nMain\n",
                    "line 3: there is no module \"app.greting\" on the module path of line 2",
                    "java.lang.module.FindException: Module app.greting not found"},
        JavaMistake{"UnknownMainClass", "{H}\n{M}\napp.greeting\nMian\n",
                    "line 4: there is no class \"Mian\" below the launcher's directory",
                    "Error: Could not find or load main class Mian"},
        JavaMistake{"ClassWithoutItsPackage", "{H}\n{M}\napp.greeting\nTool\n",
                    "line 4: the class file of \"Tool\" holds the class pkg.Tool",
                    "Caused by: java.lang.NoClassDefFoundError: Tool (wrong name: pkg/Tool)"},
        JavaMistake{"NoMainMethod", "{H}\n{M}\napp.greeting\nNoMain\n",
                    "line 4: the class \"NoMain\" has no main method",
                    "Error: Main method not found in class NoMain, please define the main method "
                    "as:"}),
    [](const testing::TestParamInfo<JavaMistake>& row) { return std::string(row.param.name); });

// The JavaFX example (as the build compiled it): with Debian's JavaFX modules the check passes
// it and the launcher shows its window (under a virtual X server); without them the check names
// line 3.
TEST_F(CheckWithJdk, JavaFxExample) {
  const std::string classes = JAVAFX_CLASSES;
  if (classes.empty()) GTEST_SKIP() << "javac or the JavaFX modules (openjfx) were not found";
  TempDir fx;
  MakeDirs(fx / "app/hello");
  CopyFile(LauncherBinary(), fx / "app/launcher");
  CopyFile(classes + "/hello/HelloFx.class", fx / "app/hello/HelloFx.class");
  RunOptions options;
  options.cwd = fx.path();
  options.env = {"PATH=/usr/bin:/bin", "HOME=" + fx.path(), "TMPDIR=" + fx.path()};
  options.argv = {CHECK_BINARY, "--timeout=200", "app/launcher"};
  options.timeout_seconds = kTimeout;

  WriteFile(fx / "init.ini", *java_home_ + "\n" + OPENJFX_LIB + "\njavafx.controls\nhello.HelloFx\n");
  const RunResult check = RunProgram(CHECK_BINARY, options);
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
  // The window needs JavaFX's native libraries of the Java's processor, which the arm64 set-up
  // does not install: under emulation only the check's side is shown.
  const std::string xvfb_run = XVFB_RUN;
  if (!xvfb_run.empty() && !kUnderEmulation) {
    RunOptions launch = options;
    launch.argv = {xvfb_run, "-a", fx / "app/launcher"};
    const RunResult shown = RunProgram(xvfb_run, launch);
    EXPECT_EQ(shown.out, "HelloFx showed a window with the label \"Hello from JavaFX\"\n")
        << shown.err;
  }

  WriteFile(fx / "init.ini", *java_home_ + "\n" + fx.path() + "\njavafx.controls\nhello.HelloFx\n");
  const RunResult without = RunProgram(CHECK_BINARY, options);
  EXPECT_EQ(without.exit_code, 1);
  EXPECT_TRUE(Contains(without.out, "\n  line 3: there is no module \"javafx.controls\" on the "
                                    "module path of line 2\n"))
      << without.out;
}

}  // namespace
}  // namespace e2e
