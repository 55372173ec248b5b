// How the failure report reaches standard error, seen in the launcher's write calls: on a
// terminal each line is handed to the system at its line end; to a file the text collects in the
// 256-byte buffer and is written when the buffer is full and when the launcher shuts down.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/support/e2e.h"
#include "tests/support/helpers.h"
#include "tests/system/system_support.h"

namespace e2e {
namespace {

constexpr double kTimeout = 60;
constexpr std::size_t kBufferSize = 256;

// The bytes of each write call on descriptor 2 in a trace written by "strace -xx -e trace=write".
std::vector<std::string> WritesToStandardError(const std::string& trace) {
  static const std::regex call(R"re(write\(2, "((?:\\x[0-9a-f]{2})*)", \d+\) += (\d+))re");
  std::vector<std::string> writes;
  for (auto it = std::sregex_iterator(trace.begin(), trace.end(), call);
       it != std::sregex_iterator(); ++it) {
    const std::string hex = (*it)[1].str();
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 4) {
      bytes += static_cast<char>(std::stoi(hex.substr(i + 2, 2), nullptr, 16));
    }
    EXPECT_EQ(std::to_string(bytes.size()), (*it)[2].str()) << "a partial write";
    writes.push_back(bytes);
  }
  return writes;
}

// The launcher in an application directory whose init.ini names a Java home that does not exist,
// run under strace, which records its write calls.
class ReportStream : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "strace is not installed";
    app_.WriteSettings("/nonexistent/jdk\n/opt/modules\nmod.a\napp.Main\n");
  }

  // Runs the launcher with standard error on `stderr_path`; returns its write calls on
  // descriptor 2.
  std::vector<std::string> RunTraced(const std::string& stderr_path) {
    StartOptions options;
    options.argv = {"/usr/bin/strace", "-qq", "-o", trace_,    "-e", "trace=write", "-e",
                    "signal=none",     "-xx", "-s", "1000000", "--", app_.launcher};
    options.cwd = app_.dir.path();
    options.env = LaunchEnv("/usr/bin:/bin", app_.record);
    options.stdout_path = app_.dir / "out.txt";
    options.stderr_path = stderr_path;
    Background traced("/usr/bin/strace", options);
    const std::optional<int> status = traced.WaitForEnd(kTimeout);
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 217)
        << "status " << status.value_or(-1);
    EXPECT_EQ(ReadFile(options.stdout_path), "");
    return WritesToStandardError(ReadFile(trace_));
  }

  static std::string Joined(const std::vector<std::string>& writes) {
    std::string text;
    for (const std::string& piece : writes) text += piece;
    return text;
  }

  // The report as written: its first two lines as expected, ending with an empty line.
  static void ExpectReport(const std::string& report) {
    EXPECT_TRUE(report.starts_with("An unhandled exception occurred at $")) << report;
    EXPECT_NE(report.find("\nEProcess: Executable not found: \"/nonexistent/jdk/bin/java\"\n"),
              std::string::npos)
        << report;
    EXPECT_TRUE(report.ends_with("\n\n")) << report;
  }

  App app_;
  std::string trace_ = app_.dir / "trace.txt";
};

TEST_F(ReportStream, TerminalGetsOneWritePerLine) {
  Pty pty;
  const std::vector<std::string> writes = RunTraced(pty.slave_path());
  const std::string report = Joined(writes);
  ExpectReport(report);
  ASSERT_GE(writes.size(), 4u);
  for (const std::string& line : writes) {
    EXPECT_TRUE(line.ends_with("\n")) << "not a whole line: " << line;
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "more than one line: " << line;
  }
  // What the terminal shows is the report, with the terminal's CR LF line ends.
  EXPECT_EQ(pty.ReadUntilClosed(kTimeout), Replace(report, "\n", "\r\n"));
}

TEST_F(ReportStream, FileGetsTheBufferWhenFullAndTheRestAtShutdown) {
  const std::string file = app_.dir / "err.txt";
  const std::vector<std::string> writes = RunTraced(file);
  const std::string report = ReadFile(file);
  ExpectReport(report);
  EXPECT_EQ(Joined(writes), report);
  // A report that fits the buffer is one write; a longer one is full buffers and the rest.
  ASSERT_EQ(writes.size(), (report.size() + kBufferSize - 1) / kBufferSize) << report;
  for (std::size_t i = 0; i + 1 < writes.size(); ++i) EXPECT_EQ(writes[i].size(), kBufferSize);
}

}  // namespace
}  // namespace e2e
