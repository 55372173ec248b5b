// The launcher with the real JDK: a small modular application, compiled with javac once per run
// of this binary, started through the launcher from another directory; and what the real java
// says when init.ini is missing or incomplete.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/e2e.h"
#include "tests/support/greeting_module.h"
#include "tests/support/helpers.h"
#include "tests/support/missing_tool.h"

namespace e2e {
namespace {

constexpr double kTimeout = 120;

// The main class, in the launcher's directory (the class path); it ends with the status that
// APP_EXIT names.
constexpr char kMain[] = R"(import app.greeting.Greeting;

public final class Main {
  public static void main(String[] args) {
    System.out.println(Greeting.hello());
    System.out.println("main class named module: " + Main.class.getModule().isNamed());
    System.out.println("class path: " + System.getProperty("java.class.path"));
    System.out.println("working directory: " + System.getProperty("user.dir"));
    System.out.println("arguments: " + args.length);
    System.out.flush();
    System.exit(Integer.parseInt(System.getenv("APP_EXIT")));
  }
}
)";

// The application, built once: DIR/app holds the launcher and Main.class, DIR/modules the module
// app.greeting, DIR/work is the working directory from which the launcher is started.
class RealJdk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string javac = JAVAC_BINARY;
    char real[PATH_MAX];
    if (javac.empty() || realpath(javac.c_str(), real) == nullptr) return;
    // JAVA_HOME/bin/javac
    const std::string bin = std::string(real).substr(0, std::string(real).rfind('/'));
    jdk_home_ = new std::string(bin.substr(0, bin.rfind('/')));
    // The Java the launcher starts: another processor's, when the launcher is built for one.
    const std::string runtime = JAVA_RUNTIME_HOME;
    java_home_ = new std::string(runtime.empty() ? *jdk_home_ : runtime);
    dir_ = new TempDir;
    const TempDir& dir = *dir_;
    MakeDirs(dir / "src/app.greeting/app/greeting");
    MakeDirs(dir / "app");
    MakeDirs(dir / "work");
    WriteFile(dir / "src/app.greeting/module-info.java", kGreetingModuleInfo);
    WriteFile(dir / "src/app.greeting/app/greeting/Greeting.java", kGreetingClass);
    WriteFile(dir / "src/Main.java", kMain);
    CopyFile(LauncherBinary(), dir / "app/launcher");
    Compile({"-d", dir / "modules/app.greeting", dir / "src/app.greeting/module-info.java",
             dir / "src/app.greeting/app/greeting/Greeting.java"});
    Compile({"--module-path", dir / "modules", "--add-modules", "app.greeting", "-d", dir / "app",
             dir / "src/Main.java"});
  }

  static void TearDownTestSuite() {
    delete dir_;
    delete java_home_;
    delete jdk_home_;
    dir_ = nullptr;
    java_home_ = nullptr;
    jdk_home_ = nullptr;
  }

  static void Compile(const std::vector<std::string>& arguments) {
    RunOptions options;
    options.argv = {*jdk_home_ + "/bin/javac"};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.env = {"PATH=/usr/bin:/bin"};
    options.timeout_seconds = kTimeout;
    const RunResult result = RunProgram(options.argv[0], options);
    if (!result.exited || result.exit_code != 0) compile_errors_ += result.err + "\n";
  }

  void SetUp() override {
    LAUNCHER_REQUIRE_TOOL(java_home_ != nullptr, "javac (a JDK), for the tests with the real Java");
    ASSERT_EQ(compile_errors_, "");
    unlink((*dir_ / "work/init.ini").c_str());
  }

  // "{H}" stands for the Java home, "{M}" for the module directory.
  void WriteSettings(const std::string& content) const {
    WriteFile(*dir_ / "work/init.ini",
              Replace(Replace(content, "{H}", *java_home_), "{M}", *dir_ / "modules"));
  }

  // Starts the launcher from the working directory; Java is found through PATH only when
  // init.ini names no Java home.
  RunResult Launch(int app_exit) const {
    RunOptions options;
    options.cwd = *dir_ / "work";
    options.env = {"PATH=" + *java_home_ + "/bin:/usr/bin:/bin",
                   "APP_EXIT=" + std::to_string(app_exit)};
    options.timeout_seconds = kTimeout;
    return RunProgram(*dir_ / "app/launcher", options);
  }

  static TempDir* dir_;
  static std::string* jdk_home_;   // the JDK whose javac compiles
  static std::string* java_home_;  // the Java that the launcher starts
  static std::string compile_errors_;
};

TempDir* RealJdk::dir_ = nullptr;
std::string* RealJdk::jdk_home_ = nullptr;
std::string* RealJdk::java_home_ = nullptr;
std::string RealJdk::compile_errors_;

class ModularApplication : public RealJdk, public ::testing::WithParamInterface<int> {};

TEST_P(ModularApplication, RunsFromAnotherDirectoryAndTheLauncherEndsWithItsStatus) {
  WriteSettings("{H}\n{M}\napp.greeting\nMain\n");
  const RunResult result = Launch(GetParam());
  EXPECT_FALSE(result.timed_out);
  ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
  EXPECT_EQ(result.exit_code, GetParam());
  EXPECT_EQ(result.err, "");
  const std::string app = *dir_ / "app";
  EXPECT_TRUE(
      result.out.starts_with("Hello from module app.greeting\n"
                             "main class named module: false\n"
                             "class path: " +
                             app + "/"))
      << result.out;
  EXPECT_NE(result.out.find("\nworking directory: " + *dir_ / "work" + "\narguments: 0\n"),
            std::string::npos)
      << result.out;
}

INSTANTIATE_TEST_SUITE_P(ExitStatus, ModularApplication, ::testing::Values(0, 3));

// The bundled demo (examples/demo, as the build compiled it): a copy of the launcher beside its
// main class, its module on the module path, started from another working directory.
TEST_F(RealJdk, BundledDemoRunsFromAnotherDirectory) {
  const std::string demo = DEMO_DIR;
  TempDir layout;
  MakeDirs(layout / "app/modules");
  MakeDirs(layout / "work");
  CopyFile(demo + "/Main.class", layout / "app/Main.class");
  std::filesystem::copy(demo + "/modules", layout / "app/modules",
                        std::filesystem::copy_options::recursive);
  CopyFile(LauncherBinary(), layout / "app/launcher");
  WriteFile(layout / "work/init.ini",
            *java_home_ + "\n" + layout / "app/modules" + "\ndemo.greeting\nMain\n");
  RunOptions options;
  options.cwd = layout / "work";
  options.env = {"PATH=/usr/bin:/bin"};
  options.timeout_seconds = kTimeout;
  const RunResult result = RunProgram(layout / "app/launcher", options);
  EXPECT_FALSE(result.timed_out);
  ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  // The class path is the launcher's directory as it takes it from its own path (ending in "/"),
  // and a "/".
  EXPECT_EQ(result.out, "Hello, launcher, from module demo.greeting!\nClass path: " +
                            (layout / "app") + "//\n");
}

// What the real java says when init.ini leaves out what it needs (most on standard error, a
// failure to set up the modules on standard output), and ends with status 1, which the launcher
// passes on.
struct Incomplete {
  const char* name;
  const char* settings;  // nullptr: no init.ini
  const char* err;
  const char* out = "";
  friend void PrintTo(const Incomplete& incomplete, std::ostream* os) { *os << incomplete.name; }
};

class IncompleteSettings : public RealJdk, public ::testing::WithParamInterface<Incomplete> {};

TEST_P(IncompleteSettings, JavaSaysWhatIsMissing) {
  const Incomplete& param = GetParam();
  if (param.settings != nullptr) WriteSettings(param.settings);
  const RunResult result = Launch(0);
  EXPECT_FALSE(result.timed_out);
  ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, param.err);
  EXPECT_EQ(result.out, param.out);
}

INSTANTIATE_TEST_SUITE_P(
    RealJava, IncompleteSettings,
    ::testing::Values(Incomplete{"NoInitIni", nullptr,
                                 "Error: --module-path requires module path specification\n"},
                      Incomplete{"EmptyLines", "\n\n\n\n",
                                 "Error: --module-path requires module path specification\n"},
                      Incomplete{"NoModulePath", "{H}\n\napp.greeting\nMain\n",
                                 "Error: --module-path requires module path specification\n"},
                      Incomplete{"NoModules", "{H}\n{M}\n\nMain\n",
                                 "Error: --add-modules requires modules to be specified\n"},
                      Incomplete{"NoMainClass", "{H}\n{M}\napp.greeting\n",
                                 "Error: Could not find or load main class \n"
                                 "Caused by: java.lang.ClassNotFoundException: \n"},
                      Incomplete{"UnknownModule", "{H}\n{M}\napp.greting\nMain\n", "",
                                 "Error occurred during initialization of boot layer\n"
                                 "java.lang.module.FindException: Module app.greting not found\n"},
                      Incomplete{"UnknownMainClass", "{H}\n{M}\napp.greeting\nMian\n",
                                 "Error: Could not find or load main class Mian\n"
                                 "Caused by: java.lang.ClassNotFoundException: Mian\n"},
                      // The blank is part of the class name, and invisible in the message.
                      Incomplete{"BlankAfterMainClass", "{H}\n{M}\napp.greeting\nMain \n",
                                 "Error: Could not find or load main class Main \n"
                                 "Caused by: java.lang.ClassNotFoundException: Main \n"}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace e2e
