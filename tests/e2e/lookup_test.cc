// How the launcher finds the Java program, end to end: the name itself (so the working directory
// first), then each PATH element with the name appended.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/e2e.h"
#include "tests/support/helpers.h"

namespace e2e {
namespace {

enum class Kind { kJava, kDirectory, kDanglingLink, kLinkToOtherJava };

struct Entry {
  const char* path;  // below the test's root; the working directory is "work"
  Kind kind;
};

struct LookupCase {
  const char* name;
  const char* settings;  // line 1 of init.ini in the working directory; none when empty
  std::vector<Entry> entries;
  const char* path_variable;     // "{R}" is the root, "{R\}" the root with backslashes for slashes
  const char* expected_program;  // below the root
  const char* expected_argument_zero;
};

// Failure messages name the case rather than dump its bytes.
void PrintTo(const LookupCase& value, std::ostream* out) { *out << value.name; }

class Lookup : public testing::TestWithParam<LookupCase> {};

TEST_P(Lookup, RunsTheJavaThatTheRulesName) {
  const LookupCase& param = GetParam();
  App app;
  TempDir root;
  const std::string work = root / "work";
  MakeDirs(work);
  // Every candidate that should not win is a stand-in too, so a wrong pick shows in the record.
  for (const Entry& entry : param.entries) {
    const std::string path = root / entry.path;
    MakeDirs(std::filesystem::path(path).parent_path());
    switch (entry.kind) {
      case Kind::kJava:
        CopyFile(FakeJavaBinary(), path);
        break;
      case Kind::kDirectory:
        MakeDirs(path);
        break;
      case Kind::kDanglingLink:
        std::filesystem::create_symlink(root / "nothing-here", path);
        break;
      case Kind::kLinkToOtherJava:
        MakeDirs(root / "other");
        CopyFile(FakeJavaBinary(), root / "other/java");
        std::filesystem::create_symlink(root / "other/java", path);
        break;
    }
  }
  if (*param.settings != '\0') app.WriteSettings(std::string(param.settings) + "\n", work);
  std::string backslashed = root.path();
  std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
  RunOptions options;
  options.cwd = work;
  options.env = LaunchEnv(
      Replace(Replace(param.path_variable, "{R}", root.path()), "{R\\}", backslashed), app.record);
  const RunResult result = RunProgram(app.launcher, options);
  ASSERT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  const JavaRecord record = ReadJavaRecord(app.record);
  ASSERT_TRUE(record.present);
  EXPECT_EQ(record.exe, root / param.expected_program);
  ASSERT_FALSE(record.args.empty());
  EXPECT_EQ(record.args[0], param.expected_argument_zero);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Lookup,
    testing::Values(
        LookupCase{
            "OnPathOnly", "", {{"a/java", Kind::kJava}}, "{R}/empty:{R}/a", "a/java", "java"},
        LookupCase{"WorkingDirectoryWinsOverPath",
                   "",
                   {{"work/java", Kind::kJava}, {"a/java", Kind::kJava}},
                   "{R}/a",
                   "work/java",
                   "java"},
        LookupCase{"DirectoryNamedJavaInWorkingDirectorySkipped",
                   "",
                   {{"work/java", Kind::kDirectory}, {"a/java", Kind::kJava}},
                   "{R}/a",
                   "a/java",
                   "java"},
        LookupCase{"DanglingLinkInWorkingDirectorySkipped",
                   "",
                   {{"work/java", Kind::kDanglingLink}, {"a/java", Kind::kJava}},
                   "{R}/a",
                   "a/java",
                   "java"},
        LookupCase{"LinkToAFileInWorkingDirectoryTaken",
                   "",
                   {{"work/java", Kind::kLinkToOtherJava}, {"a/java", Kind::kJava}},
                   "{R}/a",
                   "other/java",
                   "java"},
        LookupCase{"DirectoryAndDanglingLinkOnPathSkipped",
                   "",
                   {{"d/java", Kind::kDirectory},
                    {"l/java", Kind::kDanglingLink},
                    {"a/java", Kind::kJava}},
                   "{R}/d:{R}/l:{R}/a",
                   "a/java",
                   "java"},
        LookupCase{"EmptyElementsYieldNothing",
                   "",
                   {{"a/java", Kind::kJava}},
                   "::{R}/a:",
                   "a/java",
                   "java"},
        LookupCase{"TrailingSlash", "", {{"a/java", Kind::kJava}}, "{R}/a/", "a/java", "java"},
        LookupCase{
            "BackslashActsAsSlash", "", {{"a/java", Kind::kJava}}, "{R\\}\\a", "a/java", "java"},
        LookupCase{"RelativeElementIsRelativeToTheWorkingDirectory",
                   "",
                   {{"work/sub/java", Kind::kJava}, {"a/java", Kind::kJava}},
                   "sub:{R}/a",
                   "work/sub/java",
                   "java"},
        LookupCase{"FirstFoundWins",
                   "",
                   {{"a/java", Kind::kJava}, {"b/java", Kind::kJava}},
                   "{R}/b:{R}/a",
                   "b/java",
                   "java"},
        // A Java home gives a name with slashes; PATH is still searched with the whole name
        // appended, an absolute one included.
        LookupCase{"AbsoluteNameAppendedToPathElements",
                   "/nonexistent",
                   {{"a/nonexistent/bin/java", Kind::kJava}},
                   "{R}/a",
                   "a/nonexistent/bin/java",
                   "/nonexistent/bin/java"},
        LookupCase{"RelativeJavaHomeInWorkingDirectory",
                   "jdk",
                   {{"work/jdk/bin/java", Kind::kJava}, {"a/jdk/bin/java", Kind::kJava}},
                   "{R}/a",
                   "work/jdk/bin/java",
                   "jdk/bin/java"},
        LookupCase{"RelativeJavaHomeThroughPath",
                   "jdk/",
                   {{"a/jdk/bin/java", Kind::kJava}},
                   "{R}/a",
                   "a/jdk/bin/java",
                   "jdk/bin/java"}),
    [](const testing::TestParamInfo<LookupCase>& param_info) { return param_info.param.name; });

}  // namespace
}  // namespace e2e
