// The channel through which a child reports why it could not start a program: through the pipe
// and through the shared page, with the child made by fork and by vfork, a failure reported and a
// program started.
#include "platform/child_failure.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>

#include "gtest/gtest.h"
#include "tests/support/emulation.h"

namespace launcher {
namespace {

enum class Carrier { kPipe, kSharedPage };
enum class Creation { kFork, kVfork };

void PrintTo(Carrier carrier, std::ostream* out) {
  *out << (carrier == Carrier::kPipe ? "pipe" : "shared page");
}
void PrintTo(Creation creation, std::ostream* out) {
  *out << (creation == Creation::kFork ? "fork" : "vfork");
}

// Keeps the descriptor limit so low while it lives that a pipe cannot be made: the lowest free
// descriptor is the last one allowed.
class NoRoomForAPipe {
 public:
  NoRoomForAPipe() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    const int lowest_free = dup(0);
    close(lowest_free);
    rlimit low = saved_;
    low.rlim_cur = static_cast<rlim_t>(lowest_free) + 1;
    setrlimit(RLIMIT_NOFILE, &low);
  }
  ~NoRoomForAPipe() { setrlimit(RLIMIT_NOFILE, &saved_); }
  NoRoomForAPipe(const NoRoomForAPipe&) = delete;
  NoRoomForAPipe& operator=(const NoRoomForAPipe&) = delete;

 private:
  rlimit saved_{};
};

// In the child: fails at the redirection step with `error` when it is not 0, else starts
// /bin/true. Async-signal-safe.
[[noreturn]] void RunChild(const ChildFailureChannel& channel, int error) {
  if (error != 0) channel.Fail(ChildStage::kRedirect, error);
  char* const argv[] = {const_cast<char*>("true"), nullptr};
  char* const envp[] = {nullptr};
  execve("/bin/true", argv, envp);
  channel.Fail(ChildStage::kExecute, errno);
}

struct Outcome {
  ChildFailure at_creation;  // what Receive gave as soon as the child existed
  ChildFailure after_end;    // what Receive gave once the child had ended
  int status = -1;
};

Outcome RunToTheEnd(ChildFailureChannel& channel, Creation creation, int error) {
  const pid_t pid = creation == Creation::kVfork ? vfork() : fork();
  if (pid == 0) RunChild(channel, error);
  Outcome outcome;
  outcome.at_creation = channel.Receive();
  waitpid(pid, &outcome.status, 0);
  outcome.after_end = channel.Receive();
  return outcome;
}

class ChildFailureChannelTest : public testing::TestWithParam<std::tuple<Carrier, Creation>> {};

TEST_P(ChildFailureChannelTest, ReportsTheFailedStepAndNothingForAStartedProgram) {
  const auto [carrier, creation] = GetParam();
  for (const int error : {ENOENT, 0}) {
    SCOPED_TRACE(error != 0 ? "the child fails" : "the child starts /bin/true");
    ChildFailureChannel channel;
    {
      std::optional<NoRoomForAPipe> limit;
      if (carrier == Carrier::kSharedPage) limit.emplace();
      channel.Open();
    }
    ASSERT_EQ(channel.HasPipe(), carrier == Carrier::kPipe);
    ASSERT_EQ(channel.HasSharedPage(), carrier == Carrier::kSharedPage);
    const Outcome outcome = RunToTheEnd(channel, creation, error);
    ASSERT_TRUE(WIFEXITED(outcome.status));
    EXPECT_EQ(WEXITSTATUS(outcome.status), error != 0 ? 127 : 0);
    EXPECT_EQ(outcome.after_end.stage, error != 0 ? ChildStage::kRedirect : ChildStage::kNone);
    EXPECT_EQ(outcome.after_end.error, error);
    // The pipe's answer is final at once, and so is any answer where the child shared the
    // parent's memory until it ended (vfork, which qemu-user runs as fork).
    const bool final_at_once =
        carrier == Carrier::kPipe || (creation == Creation::kVfork && !e2e::kUnderEmulation);
    if (final_at_once) {
      EXPECT_EQ(outcome.at_creation.stage, outcome.after_end.stage);
      EXPECT_EQ(outcome.at_creation.error, outcome.after_end.error);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryWay, ChildFailureChannelTest,
                         testing::Combine(testing::Values(Carrier::kPipe, Carrier::kSharedPage),
                                          testing::Values(Creation::kFork, Creation::kVfork)),
                         [](const auto& row) {
                           return std::string(std::get<0>(row.param) == Carrier::kPipe
                                                  ? "Pipe"
                                                  : "SharedPage") +
                                  (std::get<1>(row.param) == Creation::kFork ? "Fork" : "Vfork");
                         });

// A parent started with standard descriptors closed gets their numbers for a new pipe. The
// child's moves onto 0, 1 and 2 must not replace an end of it, or its report is lost.
TEST(ChildFailureChannelDescriptors, ChildThatRedirectsItsStandardStreamsStillReports) {
  EXPECT_EXIT(
      {
        close(0);
        close(1);
        ChildFailureChannel channel;
        channel.Open();
        if (!channel.HasPipe()) _exit(1);
        const pid_t pid = fork();
        if (pid == 0) {
          const int null = open("/dev/null", O_RDWR);
          for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
          channel.Fail(ChildStage::kRedirect, EINVAL);
        }
        const ChildFailure failure = channel.Receive();
        waitpid(pid, nullptr, 0);
        _exit(failure.stage != ChildStage::kRedirect ? 2 : failure.error != EINVAL ? 3 : 0);
      },
      testing::ExitedWithCode(0), "");
}

// With neither a pipe (no descriptor left) nor a page (no address space left), the report is
// written into the channel itself, which a child made by vfork shares with its parent. Ends with
// 0 when the report arrived.
[[noreturn]] void ReportThroughTheOwnRecord() {
  ChildFailureChannel channel;
  {
    const NoRoomForAPipe no_descriptors;
    long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) _exit(1);
    std::fclose(statm);
    rlimit no_room{};
    no_room.rlim_cur = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE));
    no_room.rlim_max = RLIM_INFINITY;
    setrlimit(RLIMIT_AS, &no_room);
    channel.Open();
  }
  if (channel.HasPipe() || channel.HasSharedPage()) _exit(2);
  const pid_t pid = vfork();
  if (pid == 0) channel.Fail(ChildStage::kExecute, EACCES);
  const ChildFailure failure = channel.Receive();
  _exit(failure.stage == ChildStage::kExecute && failure.error == EACCES ? 0 : 3);
}

TEST(ChildFailureChannelOwnRecord, CarriesTheReportOfAChildMadeByVfork) {
  if (e2e::kUnderEmulation) GTEST_SKIP() << "qemu-user runs vfork as fork: nothing is shared";
  EXPECT_EXIT(ReportThroughTheOwnRecord(), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace launcher
