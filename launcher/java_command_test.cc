// The Java command line: the program chosen from JavaHome and the seven arguments, byte-exact.
#include "launcher/java_command.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace launcher {
namespace {

TEST(JavaExecutableTest, ChosenFromJavaHome) {
  const struct {
    const char* java_home;
    const char* executable;
    const char* java_home_after;  // JavaHome gains a "/" when it lacks one
  } kTable[] = {
      {"", "java", ""},
      {"/usr/lib/jvm/jdk-17", "/usr/lib/jvm/jdk-17/bin/java", "/usr/lib/jvm/jdk-17/"},
      {"/usr/lib/jvm/jdk-17/", "/usr/lib/jvm/jdk-17/bin/java", "/usr/lib/jvm/jdk-17/"},
      {"/", "/bin/java", "/"},
      {"jdk", "jdk/bin/java", "jdk/"},
      {"/opt/jdk ", "/opt/jdk /bin/java", "/opt/jdk /"},
      {"/opt/jdk\\", "/opt/jdk\\/bin/java", "/opt/jdk\\/"},
      {"//", "//bin/java", "//"},
  };
  for (const auto& row : kTable) {
    SCOPED_TRACE(testing::Message() << "JavaHome \"" << row.java_home << "\"");
    ByteString java_home(row.java_home);
    EXPECT_EQ(JavaExecutableFor(java_home).view(), row.executable);
    EXPECT_EQ(java_home.view(), row.java_home_after);
  }
}

TEST(JavaExecutableTest, KeepsEveryByteOfJavaHome) {
  ByteString java_home(std::string_view("/o\0pt\xFF", 6));
  EXPECT_EQ(JavaExecutableFor(java_home).view(), std::string_view("/o\0pt\xFF/bin/java", 15));
}

std::vector<std::string> Strings(const JavaArguments& arguments) {
  std::vector<std::string> strings;
  for (const ByteString& argument : arguments) strings.emplace_back(argument.view());
  return strings;
}

TEST(JavaArgumentsTest, SevenArgumentsInOrder) {
  EXPECT_EQ(Strings(JavaArgumentsFor("/opt/modules", "mod.a,mod.b", "/opt/app/", "app.Main")),
            (std::vector<std::string>{"--module-path", "/opt/modules", "--add-modules",
                                      "mod.a,mod.b", "-classpath", "/opt/app//", "app.Main"}));
}

TEST(JavaArgumentsTest, EmptySettingsKeepTheirPlaces) {
  EXPECT_EQ(Strings(JavaArgumentsFor("", "", "/opt/app/", "")),
            (std::vector<std::string>{"--module-path", "", "--add-modules", "", "-classpath",
                                      "/opt/app//", ""}));
}

TEST(JavaArgumentsTest, ClassPathIsLauncherDirFollowedBySlash) {
  const struct {
    const char* launcher_dir;
    const char* class_path;
  } kTable[] = {
      {"/opt/app/", "/opt/app//"},
      {"/", "//"},
      {"", "/"},
      {"/opt/app/run\\", "/opt/app/run\\/"},
      {"/opt//app/./", "/opt//app/.//"},
  };
  for (const auto& row : kTable) {
    EXPECT_EQ(JavaArgumentsFor("m", "a", row.launcher_dir, "C")[5].view(), row.class_path)
        << "LauncherDir \"" << row.launcher_dir << "\"";
  }
}

TEST(JavaArgumentsTest, ValuesPassUnchanged) {
  const ByteString module_path(std::string_view(" /opt/my modules\t\0x", 19));
  const ByteString add_modules("a, b");
  const ByteString main_class("\xEF\xBB\xBFMain ");
  const JavaArguments arguments =
      JavaArgumentsFor(module_path, add_modules, "/opt/app/", main_class);
  EXPECT_EQ(arguments[1], module_path);
  EXPECT_EQ(arguments[3], add_modules);
  EXPECT_EQ(arguments[6], main_class);
}

}  // namespace
}  // namespace launcher
