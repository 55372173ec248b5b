// The JavaFX example through the real launcher: the launcher and the compiled example's class
// files in one directory, init.ini (the JDK, Debian's JavaFX modules, javafx.controls and the
// main class) in another, from which the launcher is started under a virtual X server
// (xvfb-run). The example shows a window, prints one line once it is shown, and exits by itself.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/e2e.h"

namespace e2e {
namespace {

constexpr char kShown[] = "HelloFx showed a window with the label \"Hello from JavaFX\"\n";

class JavaFxExample : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDirs(dir_ / "app/hello");
    MakeDirs(dir_ / "work");
    CopyFile(LauncherBinary(), dir_ / "app/launcher");
    CopyFile(JAVAFX_CLASSES "/hello/HelloFx.class", dir_ / "app/hello/HelloFx.class");
  }

  RunResult Launch() const {
    RunOptions options;
    options.argv = {XVFB_RUN, "-a", dir_ / "app/launcher"};
    options.cwd = dir_ / "work";
    options.env = {"PATH=/usr/bin:/bin", "HOME=" + dir_.path(), "TMPDIR=" + dir_.path()};
    options.timeout_seconds = 100;
    return RunProgram(XVFB_RUN, options);
  }

  TempDir dir_;
};

TEST_F(JavaFxExample, ShowsItsWindowAndEndsByItself) {
  WriteFile(dir_ / "work/init.ini",
            std::string(JAVA_HOME) + "\n" + OPENJFX_LIB + "\njavafx.controls\nhello.HelloFx\n");
  const RunResult result = Launch();
  ASSERT_FALSE(result.timed_out);
  ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, kShown) << result.err;
  EXPECT_EQ(result.err.find("Exception"), std::string::npos) << result.err;
}

// Without the JavaFX modules on the module path, the same class is not started: java says what
// it misses, the window is never shown, and the launcher ends with Java's status 1.
TEST_F(JavaFxExample, WithoutTheJavaFxModulesJavaSaysSo) {
  WriteFile(dir_ / "work/init.ini",
            std::string(JAVA_HOME) + "\n" + dir_.path() + "\njavafx.controls\nhello.HelloFx\n");
  const RunResult result = Launch();
  ASSERT_FALSE(result.timed_out);
  ASSERT_TRUE(result.exited) << "ended by signal " << result.signal;
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out,
            "Error occurred during initialization of boot layer\n"
            "java.lang.module.FindException: Module javafx.controls not found\n");
}

}  // namespace
}  // namespace e2e
