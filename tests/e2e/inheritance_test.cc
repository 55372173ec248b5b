// What Java inherits from the launcher, end to end: the environment as it stands, the working
// directory, the launcher's descriptors and nothing more, and signal dispositions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "tests/support/e2e.h"
#include "tests/support/emulation.h"

namespace e2e {
namespace {

// The numbers of the descriptors in a record, and the target of one of them.
std::set<int> Numbers(const JavaRecord& record) {
  std::set<int> numbers;
  for (const std::string& fd : record.fds) numbers.insert(std::stoi(fd));
  return numbers;
}

std::string TargetOf(const JavaRecord& record, int number) {
  for (const std::string& fd : record.fds) {
    if (std::stoi(fd) == number) return fd.substr(fd.find(' ') + 1);
  }
  return "";
}

TEST(Inheritance, EnvironmentReachesJavaEntryForEntryInOrder) {
  App app;
  TempDir work;
  app.WriteSettings(app.java_home + "\n", work.path());
  RunOptions options;
  options.cwd = work.path();
  // Odd entries too: no "=", bytes above 0x7F, blanks and tabs, a second PATH, an empty value.
  options.env = LaunchEnv("/usr/bin:/bin", app.record,
                          {"NO_EQUALS_SIGN", "LATIN=caf\xE9", "SPACED= a \tb ",
                           "EMPTY=", "PATH=/second/path", "JAVA_TOOL_OPTIONS=-Xmx1m"});
  const RunResult result = RunProgram(app.launcher, options);
  ASSERT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
  const JavaRecord record = ReadJavaRecord(app.record);
  ASSERT_TRUE(record.present);
  if (kUnderEmulation) {
    // qemu-user hands the emulated launcher its own copy of the environment: one entry per name
    // (the last), none without "=", in an order of its own. The launcher passes on what it has:
    // those entries, each byte for byte.
    std::map<std::string, std::string> kept;
    for (const std::string& entry : options.env) {
      const std::size_t equals = entry.find('=');
      if (equals != std::string::npos) kept[entry.substr(0, equals)] = entry;
    }
    std::vector<std::string> expected;
    for (const auto& [name, entry] : kept) expected.push_back(entry);
    std::vector<std::string> received = record.env;
    std::sort(received.begin(), received.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(received, expected);
  } else {
    EXPECT_EQ(record.env, options.env);
  }
  // The working directory is the launcher's, not the launcher's own directory.
  EXPECT_EQ(record.cwd, work.path());
}

TEST(Inheritance, JavaGetsTheLaunchersDescriptorsUnchangedAndNoOther) {
  App app;
  app.WriteSettings(app.java_home + "\n/opt/modules\nmod.a\napp.Main\n");
  const std::string extra_file = app.dir / "extra.txt";
  WriteFile(extra_file, "extra");
  const int extra = open(extra_file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(extra, 0);
  RunOptions options;
  options.cwd = app.dir.path();
  options.env = LaunchEnv("/usr/bin:/bin", app.record);
  options.inherited_fds = {{extra, 5}};
  options.close_other_fds = true;
  const RunResult result = RunProgram(app.launcher, options);
  close(extra);
  ASSERT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 0);
  const JavaRecord record = ReadJavaRecord(app.record);
  ASSERT_TRUE(record.present);
  // Standard input, output and error are the launcher's pipes; 5 is the test's file; init.ini
  // is closed again and nothing of the launcher's own (such as a pipe of the exec report) leaks.
  EXPECT_EQ(Numbers(record), (std::set<int>{0, 1, 2, 5})) << testing::PrintToString(record.fds);
  EXPECT_EQ(TargetOf(record, 5), extra_file);
  for (int fd = 0; fd < 3; ++fd) EXPECT_TRUE(TargetOf(record, fd).starts_with("pipe:")) << fd;
}

TEST(Inheritance, SignalsAndProcessGroup) {
  App app;
  app.WriteSettings(app.java_home + "\n");
  RunOptions options;
  options.cwd = app.dir.path();
  options.env = LaunchEnv("/usr/bin:/bin", app.record);
  options.ignored_signals = {SIGINT, SIGPIPE};
  const RunResult result = RunProgram(app.launcher, options);
  ASSERT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 0);
  const JavaRecord record = ReadJavaRecord(app.record);
  ASSERT_TRUE(record.present);
  // The launcher handles SIGFPE, SIGSEGV, SIGBUS, SIGILL and SIGABRT itself; exec puts them back
  // to the default. What its parent ignored stays ignored, and nothing else is changed or blocked.
  const std::vector<std::string> expected = {std::to_string(SIGINT) + " ignore",
                                             std::to_string(SIGPIPE) + " ignore"};
  if (kUnderEmulation) {
    // qemu-user catches every signal whose default action ends the process on the host, also an
    // ignored one, and execve resets caught signals: what the launcher inherited as ignored does
    // not reach a Java that the emulated launcher starts. Nothing may be caught there either.
    for (const std::string& line : record.signals) EXPECT_TRUE(line.ends_with(" ignore")) << line;
  } else {
    EXPECT_EQ(record.signals, expected);
  }
  EXPECT_EQ(record.blocked, std::vector<std::string>{});
  // The launcher's fault handlers run on a stack of their own; execve gives Java none.
  EXPECT_EQ(record.altstack, "disabled");
  // Java stays in the launcher's process group, which is the test's.
  EXPECT_EQ(record.pgrp.substr(0, record.pgrp.find(' ')), std::to_string(getpgrp()));
}

}  // namespace
}  // namespace e2e
