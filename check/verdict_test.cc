#include "check/verdict.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <ostream>
#include <string>

namespace launcher::check {
namespace {

DryRun Exited(int status, std::string output) {
  DryRun run;
  run.end = DryRun::End::kExited;
  run.status = status;
  run.output = std::move(output);
  return run;
}

// What OpenJDK 17 writes for each mistake, and the line of init.ini the verdict names, with a
// piece of what it says is wrong and the Java line it quotes.
struct VerdictCase {
  const char* name;
  std::string output;
  int line;
  std::string what;
  std::string java;
  std::string topic;  // what a rule that knows more would claim
  friend void PrintTo(const VerdictCase& row, std::ostream* out) { *out << row.name; }
};

class JavaSays : public testing::TestWithParam<VerdictCase> {};

TEST_P(JavaSays, TheLineToFix) {
  const VerdictCase& row = GetParam();
  const std::optional<Problem> problem = JavaVerdict(Exited(1, row.output), {"/opt/app/", 60, {}});
  ASSERT_TRUE(problem.has_value());
  EXPECT_EQ(problem->line, row.line);
  EXPECT_NE(problem->what.find(row.what), std::string::npos) << problem->what;
  EXPECT_EQ(problem->java, row.java);
  EXPECT_FALSE(problem->fix.empty());
  EXPECT_EQ(problem->topic, row.topic);
  EXPECT_EQ(problem->precision, Precision::kJava);
}

INSTANTIATE_TEST_SUITE_P(
    Verdict, JavaSays,
    testing::Values(
        VerdictCase{"NoModulePath", "Error: --module-path requires module path specification\n", 2,
                    "no module path: the line is empty",
                    "Error: --module-path requires module path specification", "empty line 2"},
        VerdictCase{"NoModules", "Error: --add-modules requires modules to be specified\n", 3,
                    "no modules to add: the line is empty",
                    "Error: --add-modules requires modules to be specified", "empty line 3"},
        VerdictCase{"UnknownModule",
                    "Error occurred during initialization of boot layer\n"
                    "java.lang.module.FindException: Module app.greting not found\n",
                    3, "no module \"app.greting\"",
                    "java.lang.module.FindException: Module app.greting not found",
                    "module app.greting"},
        VerdictCase{"ModuleNameWithTrailingBlank",
                    "Error occurred during initialization of boot layer\n"
                    "java.lang.module.FindException: Module app.greeting  not found\n",
                    3, "no module \"app.greeting \"",
                    "java.lang.module.FindException: Module app.greeting  not found",
                    "module app.greeting "},
        VerdictCase{"RequiredModuleMissing",
                    "Error occurred during initialization of boot layer\n"
                    "java.lang.module.FindException: Module base.lib not found, required by "
                    "app.greeting\n",
                    2, "module \"app.greeting\" needs module \"base.lib\"",
                    "java.lang.module.FindException: Module base.lib not found, required by "
                    "app.greeting",
                    "module base.lib"},
        VerdictCase{"UnreadableModule",
                    "Error occurred during initialization of boot layer\n"
                    "java.lang.module.FindException: Error reading /opt/mods/bad.jar\n"
                    "Caused by: java.util.zip.ZipException: zip END header not found\n",
                    2, "cannot set up the modules",
                    "java.lang.module.FindException: Error reading /opt/mods/bad.jar",
                    "boot layer"},
        VerdictCase{"NoMainClass",
                    "Error: Could not find or load main class \n"
                    "Caused by: java.lang.ClassNotFoundException: \n",
                    4, "no main class: the line is empty",
                    "Error: Could not find or load main class \n"
                    "Caused by: java.lang.ClassNotFoundException: ",
                    "empty line 4"},
        VerdictCase{"UnknownMainClass",
                    "Error: Could not find or load main class Mian\n"
                    "Caused by: java.lang.ClassNotFoundException: Mian\n",
                    4, "no class \"Mian\" below the launcher's directory /opt/app/",
                    "Error: Could not find or load main class Mian\n"
                    "Caused by: java.lang.ClassNotFoundException: Mian",
                    "main class"},
        VerdictCase{"ClassInAPackage",
                    "Error: Could not find or load main class P\n"
                    "Caused by: java.lang.NoClassDefFoundError: P (wrong name: pkg/P)\n",
                    4, "holds the class pkg.P",
                    "Error: Could not find or load main class P\n"
                    "Caused by: java.lang.NoClassDefFoundError: P (wrong name: pkg/P)",
                    "main class"},
        VerdictCase{"JavaFxNotAdded",
                    "Error: Could not find or load main class hello.HelloFx\n"
                    "Caused by: java.lang.NoClassDefFoundError: javafx/application/Application\n",
                    3, "needs JavaFX",
                    "Error: Could not find or load main class hello.HelloFx\n"
                    "Caused by: java.lang.NoClassDefFoundError: javafx/application/Application",
                    "javafx"},
        VerdictCase{"JavaFxRuntimeMissing",
                    "Error: JavaFX runtime components are missing, and are required to run this "
                    "application\n",
                    3, "JavaFX application",
                    "Error: JavaFX runtime components are missing, and are required to run this "
                    "application",
                    "javafx"},
        VerdictCase{"NoMainMethod",
                    "Error: Main method not found in class NoMain, please define the main method "
                    "as:\n   public static void main(String[] args)\n",
                    4, "\"NoMain\" has no main method",
                    "Error: Main method not found in class NoMain, please define the main method "
                    "as:",
                    "main class"},
        VerdictCase{"CompiledForNewerJava",
                    "Error: LinkageError occurred while loading main class Main\n"
                    "\tjava.lang.UnsupportedClassVersionError: Main has been compiled by a more "
                    "recent version of the Java Runtime (class file version 69.0)\n",
                    1, "newer Java",
                    "UnsupportedClassVersionError: Main has been compiled by a more recent "
                    "version of the Java Runtime (class file version 69.0)",
                    "class version"},
        VerdictCase{"JavaWithoutModules",
                    "Unrecognized option: --module-path\n"
                    "Error: Could not create the Java Virtual Machine.\n",
                    1, "too old", "Unrecognized option: --module-path", "java version"},
        VerdictCase{"SomethingElse", "Exception in thread \"main\" boom\n", 0, "exit status 1", "",
                    "java exit"}),
    [](const testing::TestParamInfo<VerdictCase>& row) { return row.param.name; });

TEST(Verdict, StatusZeroIsNoProblemWhateverJavaWrote) {
  EXPECT_FALSE(JavaVerdict(Exited(0, ""), {}).has_value());
  EXPECT_FALSE(JavaVerdict(Exited(0, "NOTE: Picked up JDK_JAVA_OPTIONS: -Xmx1g\n"), {}));
}

TEST(Verdict, BadOptionsFromTheEnvironmentAreNotALine) {
  const std::string output =
      "NOTE: Picked up JDK_JAVA_OPTIONS: -Xfoo\nUnrecognized option: -Xfoo\n"
      "Error: Could not create the Java Virtual Machine.\n";
  const std::optional<Problem> from_environment =
      JavaVerdict(Exited(1, output), {"/opt/app/", 60, {"JDK_JAVA_OPTIONS"}});
  ASSERT_TRUE(from_environment);
  EXPECT_EQ(from_environment->line, 0);
  EXPECT_EQ(from_environment->subject, "environment");
  EXPECT_EQ(from_environment->java, "Unrecognized option: -Xfoo");
  EXPECT_EQ(from_environment->fix, "correct or unset JDK_JAVA_OPTIONS");
  // The same words without such a variable: the Java of line 1 does not start.
  const std::optional<Problem> own = JavaVerdict(Exited(1, output), {"/opt/app/", 60, {}});
  ASSERT_TRUE(own);
  EXPECT_EQ(own->line, 1);
}

// When the check itself cannot start the dry run (no pipe, no process), nothing is said of the
// launcher's start: the problem is the check's, and says what it could not learn.
TEST(Verdict, DryRunTheCheckCouldNotStartIsNoLinesFault) {
  DryRun not_asked;
  not_asked.end = DryRun::End::kNotAsked;
  not_asked.error = EMFILE;
  const std::optional<Problem> problem = JavaVerdict(not_asked, {"/opt/app/", 60, {}});
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->line, 0);
  EXPECT_EQ(problem->what,
            "the check could not ask Java for its verdict (Too many open files), so it knows less "
            "of what Java would say");
}

TEST(Verdict, TimeoutAndSignalAreProblemsOfJava) {
  DryRun stopped;
  stopped.end = DryRun::End::kTimedOut;
  const std::optional<Problem> timed_out = JavaVerdict(stopped, {"/opt/app/", 7, {}});
  ASSERT_TRUE(timed_out);
  EXPECT_EQ(timed_out->subject, "java");
  EXPECT_NE(timed_out->what.find("within 7 seconds"), std::string::npos) << timed_out->what;
  EXPECT_EQ(timed_out->fix.find("OPTIONS"), std::string::npos) << timed_out->fix;
  // An options variable can keep Java waiting (a debugger's suspend=y): its closing words name it.
  const std::optional<Problem> with_options =
      JavaVerdict(stopped, {"/opt/app/", 7, {"JDK_JAVA_OPTIONS", "JAVA_TOOL_OPTIONS"}});
  ASSERT_TRUE(with_options);
  EXPECT_NE(with_options->fix.find("; JDK_JAVA_OPTIONS and JAVA_TOOL_OPTIONS are set, and an "
                                   "option there can keep Java waiting"),
            std::string::npos)
      << with_options->fix;
  DryRun killed;
  killed.end = DryRun::End::kSignalled;
  killed.status = SIGSEGV;
  const std::optional<Problem> signalled = JavaVerdict(killed, {});
  ASSERT_TRUE(signalled);
  EXPECT_NE(signalled->what.find("(SIGSEGV)"), std::string::npos) << signalled->what;
}

}  // namespace
}  // namespace launcher::check
