// The launcher's command line to Java, end to end: the real binary and the stand-in java.
#include <gtest/gtest.h>

#include "tests/support/e2e.h"

namespace e2e {
namespace {

TEST(Launch, WorkedExampleGivesTheSevenArgumentsByteExact) {
  App app;
  app.WriteSettings(app.java_home + "\n/opt/modules\nmod.a,mod.b\napp.Main\n");
  RunOptions options;
  options.cwd = app.dir.path();
  options.env = LaunchEnv("/usr/bin:/bin", app.record);
  const RunResult result = RunProgram(app.launcher, options);
  ASSERT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  const JavaRecord record = ReadJavaRecord(app.record);
  ASSERT_TRUE(record.present);
  const std::vector<std::string> expected = {
      app.java_home + "/bin/java", "--module-path", "/opt/modules", "--add-modules",
      "mod.a,mod.b",               "-classpath",    app.dir.path() + "//", "app.Main"};
  EXPECT_EQ(record.args, expected);
  EXPECT_EQ(record.cwd, app.dir.path());
}

}  // namespace
}  // namespace e2e
