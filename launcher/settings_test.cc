// The settings file init.ini: line splitting and values through the real reader on real files,
// the codes of the file layer, and failures of open, read and close on the way (made to happen
// by a supervisor that decides the fate of the reader's system calls).
#include "launcher/settings.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/errors.h"
#include "platform/report.h"
#include "tests/support/emulation.h"

namespace launcher {
namespace {

namespace fs = std::filesystem;

using Values = std::array<std::string, 4>;  // JavaHome, ModulePath, AddModules, MainClass

// What ReadSettings left: the four values and the code of the EInOutError it raised (0: none).
struct Outcome {
  Values values;
  int error = 0;
};

Outcome ReadSettingsHere() {
  ByteString JavaHome, ModulePath, AddModules, MainClass;
  Outcome outcome;
  try {
    ReadSettings(JavaHome, ModulePath, AddModules, MainClass);
  } catch (const EInOutError& error) {
    outcome.error = error.ErrorCode();
  }
  outcome.values = {std::string(JavaHome.view()), std::string(ModulePath.view()),
                    std::string(AddModules.view()), std::string(MainClass.view())};
  return outcome;
}

// The descriptors of this process that lead to `path`.
std::vector<int> DescriptorsOf(const fs::path& path) {
  std::vector<int> found;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const fs::path target = fs::read_symlink(entry.path(), error);
    if (!error && target == path) found.push_back(std::stoi(entry.path().filename().string()));
  }
  return found;
}

// Runs each test in a fresh temporary directory that is the working directory meanwhile.
class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/settings_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    previous_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(dir_);
    EXPECT_EQ(InOutRes, 0) << "a failure code was left pending";
    InOutRes = 0;
  }

  void WriteSettings(const std::string& content) const {
    std::ofstream(dir_ / "init.ini", std::ios::binary) << content;
  }
  std::vector<int> SettingsDescriptors() const { return DescriptorsOf(dir_ / "init.ini"); }

  fs::path dir_;
  fs::path previous_;
};

// --- Line splitting and values ----------------------------------------------------------------

struct SplitCase {
  const char* name;
  std::string content;
  Values expected;
};

std::string Bytes(std::size_t count, char byte) { return std::string(count, byte); }

// All bytes of a literal, NUL bytes included.
template <std::size_t N>
std::string Raw(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

// Names a parameterised case after the `name` of its row.
struct CaseName {
  template <typename Info>
  std::string operator()(const Info& test) const {
    return test.param.name;
  }
};

const SplitCase kSplitCases[] = {
    {"EmptyFile", "", {"", "", "", ""}},
    {"OneLineWithoutLineEnd", "/usr/lib/jvm/jdk-17", {"/usr/lib/jvm/jdk-17", "", "", ""}},
    {"LineFeeds", "/jdk\n/mods\na,b\napp.Main\n", {"/jdk", "/mods", "a,b", "app.Main"}},
    {"CarriageReturnLineFeeds",
     "/jdk\r\n/mods\r\na,b\r\napp.Main\r\n",
     {"/jdk", "/mods", "a,b", "app.Main"}},
    {"LoneCarriageReturns", "/jdk\r/mods\ra,b\rapp.Main", {"/jdk", "/mods", "a,b", "app.Main"}},
    {"CrCrLfIsTwoLineEnds", "/jdk\r\r\nmods\nMain\n", {"/jdk", "", "mods", "Main"}},
    {"LfCrIsTwoLineEnds", "/jdk\n\rmods\nMain\n", {"/jdk", "", "mods", "Main"}},
    {"CrAtByte256LfAt257IsOneLineEnd",
     Bytes(255, 'a') + "\r\nsecond\nthird",
     {Bytes(255, 'a'), "second", "third", ""}},
    {"CrAtByte256ThenOtherByte", Bytes(255, 'a') + "\rb\nc", {Bytes(255, 'a'), "b", "c", ""}},
    {"CrAsLastByteOfFile", Bytes(255, 'a') + "\r", {Bytes(255, 'a'), "", "", ""}},
    {"LfAtByte256", Bytes(255, 'a') + "\nb", {Bytes(255, 'a'), "b", "", ""}},
    {"LineFillsBlockLfAt257", Bytes(256, 'a') + "\nb", {Bytes(256, 'a'), "b", "", ""}},
    {"LineLongerThanBlock",
     Bytes(1000, 'x') + "\n" + Bytes(600, 'y') + "\r\nz",
     {Bytes(1000, 'x'), Bytes(600, 'y'), "z", ""}},
    {"ByteOrderMarkKept", "\xEF\xBB\xBF/jdk\nm\n", {"\xEF\xBB\xBF/jdk", "m", "", ""}},
    {"NulAndCtrlZKept",
     Raw("/j\0dk\x1A!\nmo\x1A\nad\0\nMain"),
     {Raw("/j\0dk\x1A!"), "mo\x1A", Raw("ad\0"), "Main"}},
    {"HighBytesAndTabsKept",
     "\t/opt/j\xC3\xA9 \n\xFF\x80\n",
     {"\t/opt/j\xC3\xA9 ", "\xFF\x80", "", ""}},
    {"TrailingBlanksKept",
     "/opt/jdk \nmods  \nm\t\nMain \r\n",
     {"/opt/jdk ", "mods  ", "m\t", "Main "}},
    {"FifthLineIgnored", "a\nb\nc\nd\ne\nf\n", {"a", "b", "c", "d"}},
    {"BlankLinesThenClass", "\n\n\napp.Main\n", {"", "", "", "app.Main"}},
    {"BlankCrLfLinesThenClass", "\r\n\r\n\r\napp.Main", {"", "", "", "app.Main"}},
    {"TwoLines", "/jdk\n/mods\n", {"/jdk", "/mods", "", ""}},
};

void PrintTo(const SplitCase& row, std::ostream* out) { *out << row.name; }

class LineSplittingTest : public SettingsFileTest,
                          public ::testing::WithParamInterface<SplitCase> {};

TEST_P(LineSplittingTest, ReadsValuesByteForByteAndClosesTheFile) {
  WriteSettings(GetParam().content);
  const Outcome outcome = ReadSettingsHere();
  EXPECT_EQ(outcome.error, 0);
  for (std::size_t line = 0; line < 4; ++line) {
    EXPECT_EQ(outcome.values[line], GetParam().expected[line]) << "line " << line + 1;
  }
  EXPECT_TRUE(SettingsDescriptors().empty());
}

INSTANTIATE_TEST_SUITE_P(Settings, LineSplittingTest, ::testing::ValuesIn(kSplitCases), CaseName());

TEST_F(SettingsFileTest, CrLfAndLfFilesGiveTheSameValues) {
  const std::string lines[] = {"/usr/lib/jvm/jdk-17", "/opt/app modules", "mod.a,mod.b", "Main"};
  Values values[2];
  for (int crlf = 0; crlf < 2; ++crlf) {
    std::string content;
    for (const std::string& line : lines) content += line + (crlf ? "\r\n" : "\n");
    WriteSettings(content);
    const Outcome outcome = ReadSettingsHere();
    EXPECT_EQ(outcome.error, 0);
    values[crlf] = outcome.values;
  }
  EXPECT_EQ(values[0], values[1]);
  EXPECT_EQ(values[0][1], "/opt/app modules");
}

// --- Failures of the file itself -------------------------------------------------------------

TEST_F(SettingsFileTest, MissingFileIsCodeTwoWithValuesEmpty) {
  const Outcome outcome = ReadSettingsHere();
  EXPECT_EQ(outcome.error, 2);
  EXPECT_EQ(outcome.values, Values{});
}

TEST_F(SettingsFileTest, DanglingLinkIsCodeTwo) {
  fs::create_symlink(dir_ / "nowhere", dir_ / "init.ini");
  EXPECT_EQ(ReadSettingsHere().error, 2);
}

TEST_F(SettingsFileTest, LoopOfLinksIsCodeForty) {
  fs::create_symlink("init.ini", dir_ / "init.ini");
  EXPECT_EQ(ReadSettingsHere().error, 40);
}

TEST_F(SettingsFileTest, LinkToAFileIsFollowed) {
  std::ofstream(dir_ / "real.ini") << "/jdk\nm\n";
  fs::create_symlink(dir_ / "real.ini", dir_ / "init.ini");
  EXPECT_EQ(ReadSettingsHere().values, (Values{"/jdk", "m", "", ""}));
}

TEST_F(SettingsFileTest, DirectoryFailsOnFirstReadAndIsClosedAfterwards) {
  fs::create_directory(dir_ / "init.ini");
  ASSERT_TRUE(SettingsDescriptors().empty());

  // Reader level: open succeeds, the first read fails with code 5.
  {
    TextLineReader reader;
    reader.Open("init.ini");
    ASSERT_EQ(InOutRes, 0);
    ASSERT_TRUE(reader.IsOpen());
    ByteString value("stale");
    reader.ReadLine(value);
    EXPECT_EQ(InOutRes, 5);
    EXPECT_TRUE(value.empty());
    InOutRes = 0;
  }
  EXPECT_TRUE(SettingsDescriptors().empty()) << "the reader's destructor closes the file";

  const Outcome outcome = ReadSettingsHere();
  EXPECT_EQ(outcome.error, 5);
  EXPECT_EQ(outcome.values, Values{});
  EXPECT_TRUE(SettingsDescriptors().empty());
}

TEST_F(SettingsFileTest, ReaderThatIsNotOpenRecordsCode103) {
  TextLineReader reader;
  ByteString value("stale");
  reader.ReadLine(value);
  EXPECT_EQ(InOutRes, 103);
  EXPECT_TRUE(value.empty());
  InOutRes = 0;

  reader.Close();
  EXPECT_EQ(InOutRes, 103);
  InOutRes = 0;

  // After a successful Close the reader is not open again.
  WriteSettings("a\n");
  reader.Open("init.ini");
  reader.Close();
  ASSERT_EQ(InOutRes, 0);
  reader.Close();
  EXPECT_EQ(InOutRes, 103);
  InOutRes = 0;
}

TEST_F(SettingsFileTest, PendingCodeMakesEveryOperationDoNothingButEmptyTheValue) {
  WriteSettings("a\nb\n");
  TextLineReader reader;
  InOutRes = 6;
  reader.Open("init.ini");
  EXPECT_FALSE(reader.IsOpen());
  InOutRes = 0;

  reader.Open("init.ini");
  ASSERT_TRUE(reader.IsOpen());
  InOutRes = 6;
  ByteString value("stale");
  reader.ReadLine(value);
  EXPECT_TRUE(value.empty());
  reader.Close();
  EXPECT_TRUE(reader.IsOpen());
  EXPECT_EQ(InOutRes, 6) << "the pending code is kept";
  InOutRes = 0;

  reader.ReadLine(value);  // nothing was consumed while the code was pending
  EXPECT_EQ(value.view(), "a");
}

// --- The codes of the file layer and the check that raises them ------------------------------

TEST(FileErrorCodeTest, MapsSystemErrorsToFileCodes) {
  const struct {
    int error;
    int code;
  } kTable[] = {
      {ENOENT, 2},  {ENAMETOOLONG, 3}, {ENFILE, 4},    {EMFILE, 4},
      {EACCES, 5},  {EBUSY, 5},        {EEXIST, 5},    {ENOTDIR, 5},
      {EISDIR, 5},  {EROFS, 5},        {ENOTEMPTY, 5}, {EBADF, 6},
      {EINTR, 101}, {EIO, 101},        {EAGAIN, 101},  {ENOSPC, 101},
      {EPIPE, 101}, {ENOMEM, 217},     {EFAULT, 217},  {EINVAL, 218},
      {EPERM, 1},   {ELOOP, 40},       {ENXIO, ENXIO}, {EOVERFLOW, EOVERFLOW},
  };
  for (const auto& row : kTable) {
    EXPECT_EQ(FileErrorCode(row.error), row.code) << std::strerror(row.error);
  }
}

// Every pending code is raised as an EInOutError carrying it, also the codes that the general
// run-time error table gives to other kinds (1, 217, 218), and also once start-up has set the
// run-time error hook.
TEST(CheckFileResultTest, RaisesEInOutErrorCarryingEveryCode) {
  const TErrorProc saved_error_proc = ErrorProc;
  const TExceptProc saved_except_proc = ExceptProc;
  for (const bool hooks_set : {false, true}) {
    if (hooks_set) SetUpErrorHooks();
    for (const int code : {1, 2, 3, 4, 5, 6, 40, 101, 103, 217, 218}) {
      SCOPED_TRACE(testing::Message() << "code " << code << (hooks_set ? " with hooks" : ""));
      InOutRes = static_cast<std::uint16_t>(code);
      int raised = -1;
      try {
        CheckFileResult();
      } catch (const EInOutError& error) {
        raised = error.ErrorCode();
      } catch (const Exception& error) {
        ADD_FAILURE() << "raised " << error.ClassName() << ": " << std::string(error.Message());
      }
      EXPECT_EQ(raised, code);
      EXPECT_EQ(InOutRes, 0);
    }
  }
  ErrorProc = saved_error_proc;
  ExceptProc = saved_except_proc;

  InOutRes = 0;
  EXPECT_NO_THROW(CheckFileResult());
}

// --- Failures of the reader's system calls ---------------------------------------------------
//
// The body runs on a thread of its own with a seccomp filter that hands its opens, its closes
// and its reads of one block (256 bytes: only the reader asks for that) to this thread. Each is
// counted and then either carried out as asked or failed with the error chosen for it.

struct Injection {
  enum Call { kOpen, kRead, kClose } call;
  int nth;    // 1-based, among the calls of that kind
  int error;  // the error number it fails with
};

struct CallCounts {
  int opens = 0;  // opens of "init.ini"
  int reads = 0;
  int closes = 0;
};

// The system calls of this processor's kind, which the filter looks at.
#if defined(__aarch64__)
constexpr unsigned kAuditArch = AUDIT_ARCH_AARCH64;
#else
constexpr unsigned kAuditArch = AUDIT_ARCH_X86_64;
#endif

CallCounts RunWithInjections(const std::function<void()>& body,
                             const std::vector<Injection>& injections) {
  CallCounts counts;
  const int ready = eventfd(0, EFD_CLOEXEC);
  int listener = -1;
  std::thread worker([&] {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 5, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_close, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_read, 0, 2),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TextLineReader::kBlockSize, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    listener = static_cast<int>(
        syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &program));
    const std::uint64_t one = 1;
    if (write(ready, &one, sizeof one) != sizeof one) std::abort();
    if (listener >= 0) body();
  });

  std::uint64_t count = 0;
  EXPECT_EQ(read(ready, &count, sizeof count), static_cast<ssize_t>(sizeof count));
  EXPECT_GE(listener, 0) << "seccomp: " << std::strerror(errno);
  // Serves calls until the worker has ended: the listener then reports a hang-up.
  while (listener >= 0) {
    pollfd waiting = {listener, POLLIN, 0};
    if (poll(&waiting, 1, 20000) <= 0) {
      ADD_FAILURE() << "the body neither made a call nor ended in time";
      break;  // closing the listener lets every pending call fail and the body end
    }
    if (waiting.revents & POLLIN) {
      seccomp_notif notification{};
      if (ioctl(listener, SECCOMP_IOCTL_NOTIF_RECV, &notification) != 0) continue;
      seccomp_notif_resp response{};
      response.id = notification.id;
      response.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
      int nth = 0;
      Injection::Call call = Injection::kRead;
      if (notification.data.nr == __NR_openat) {
        const auto* name = reinterpret_cast<const char*>(notification.data.args[1]);
        if (std::strcmp(name, "init.ini") == 0) nth = ++counts.opens;
        call = Injection::kOpen;
      } else if (notification.data.nr == __NR_close) {
        // Only closes of init.ini count: a run-time library (the sanitizers') may close
        // descriptors of its own on this thread. The descriptor is still open here.
        const std::string link = "/proc/" + std::to_string(notification.pid) + "/fd/" +
                                 std::to_string(notification.data.args[0]);
        std::error_code unreadable;
        if (fs::read_symlink(link, unreadable).filename() == "init.ini") nth = ++counts.closes;
        call = Injection::kClose;
      } else {
        nth = ++counts.reads;
      }
      for (const Injection& injection : injections) {
        if (injection.call == call && injection.nth == nth) {
          response.flags = 0;
          response.error = -injection.error;
        }
      }
      ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, &response);
    } else {
      break;
    }
  }
  if (listener >= 0) close(listener);
  worker.join();
  close(ready);
  return counts;
}

class InjectedFailureTest : public SettingsFileTest {
 protected:
  void SetUp() override {
    SettingsFileTest::SetUp();
    if (e2e::kUnderEmulation) {
      GTEST_SKIP() << "qemu-user installs no seccomp filter (it would apply to the emulator's own "
                      "system calls)";
    }
  }

  // ReadSettings under the given injections; also checks that no descriptor of the file is
  // left open and no code is left pending.
  Outcome ReadWith(const std::vector<Injection>& injections, CallCounts* counts = nullptr) {
    Outcome outcome;
    const CallCounts made = RunWithInjections([&] { outcome = ReadSettingsHere(); }, injections);
    if (counts != nullptr) *counts = made;
    EXPECT_TRUE(SettingsDescriptors().empty()) << "init.ini is still open";
    return outcome;
  }
};

// A line of 300 bytes as line 2: the second block read ends in the middle of it.
const std::string kLongSecondLine = "home\n" + Bytes(300, 'm') + "\nmods\nMain\n";

struct ReadFailureCase {
  const char* name;
  std::string content;
  int nth_read;
  int error;
  int code;
  Values expected;
};

const ReadFailureCase kReadFailures[] = {
    {"IoErrorPartWayKeepsGatheredBytes",
     kLongSecondLine,
     2,
     EIO,
     101,
     {"home", Bytes(251, 'm'), "", ""}},
    {"OutOfMemoryIsInOutError", kLongSecondLine, 2, ENOMEM, 217, {"home", Bytes(251, 'm'), "", ""}},
    {"InvalidArgumentIsInOutError",
     kLongSecondLine,
     2,
     EINVAL,
     218,
     {"home", Bytes(251, 'm'), "", ""}},
    {"NotPermittedIsInOutError", kLongSecondLine, 2, EPERM, 1, {"home", Bytes(251, 'm'), "", ""}},
    {"BadDescriptor", kLongSecondLine, 2, EBADF, 6, {"home", Bytes(251, 'm'), "", ""}},
    {"FirstReadFails", kLongSecondLine, 1, EIO, 101, {"", "", "", ""}},
    // The CR is the last byte of the first block: the value is complete when the read that
    // would tell whether an LF follows fails, and the next value is not touched.
    {"FailureWhileConsumingLineEnd",
     Bytes(255, 'a') + "\r\nb\n",
     2,
     EIO,
     101,
     {Bytes(255, 'a'), "", "", ""}},
};

void PrintTo(const ReadFailureCase& row, std::ostream* out) { *out << row.name; }

class ReadFailureTest : public InjectedFailureTest,
                        public ::testing::WithParamInterface<ReadFailureCase> {};

TEST_P(ReadFailureTest, KeepsWhatWasReadAndRaisesTheCode) {
  const ReadFailureCase& row = GetParam();
  WriteSettings(row.content);
  CallCounts counts;
  const Outcome outcome = ReadWith({{Injection::kRead, row.nth_read, row.error}}, &counts);
  EXPECT_EQ(outcome.error, row.code);
  EXPECT_EQ(counts.reads, row.nth_read) << "nothing is read after the failure";
  for (std::size_t line = 0; line < 4; ++line) {
    EXPECT_EQ(outcome.values[line], row.expected[line]) << "line " << line + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, ReadFailureTest, ::testing::ValuesIn(kReadFailures), CaseName());

TEST_F(InjectedFailureTest, OpenFailuresAreInOutErrorsWithValuesEmpty) {
  WriteSettings("/jdk\nm\na\nMain\n");
  const struct {
    int error;
    int code;
  } kTable[] = {{EACCES, 5}, {EMFILE, 4},   {ENFILE, 4},   {ELOOP, 40},
                {EPERM, 1},  {ENOMEM, 217}, {EINVAL, 218}, {ENAMETOOLONG, 3}};
  for (const auto& row : kTable) {
    SCOPED_TRACE(std::strerror(row.error));
    const Outcome outcome = ReadWith({{Injection::kOpen, 1, row.error}});
    EXPECT_EQ(outcome.error, row.code);
    EXPECT_EQ(outcome.values, Values{});
  }
}

TEST_F(InjectedFailureTest, InterruptedAndRetryableCallsAreRepeated) {
  const std::string content = "/jdk\n" + Bytes(300, 'm') + "\na\nMain\n";
  const Values expected = {"/jdk", Bytes(300, 'm'), "a", "Main"};
  WriteSettings(content);
  CallCounts plain;
  ASSERT_EQ(ReadWith({}, &plain).values, expected);
  ASSERT_EQ(plain.opens, 1);
  ASSERT_EQ(plain.closes, 1);

  const Injection kTable[] = {{Injection::kOpen, 1, EINTR},
                              {Injection::kRead, 1, EINTR},
                              {Injection::kRead, 2, EAGAIN},
                              {Injection::kClose, 1, EINTR}};
  for (const Injection& injection : kTable) {
    SCOPED_TRACE(testing::Message()
                 << "call kind " << injection.call << " " << std::strerror(injection.error));
    CallCounts counts;
    const Outcome outcome = ReadWith({injection}, &counts);
    EXPECT_EQ(outcome.error, 0);
    EXPECT_EQ(outcome.values, expected);
    EXPECT_EQ(counts.opens + counts.reads + counts.closes,
              plain.opens + plain.reads + plain.closes + 1)
        << "the interrupted call is repeated once";
  }
}

TEST_F(InjectedFailureTest, FailingCloseRaisesAfterAllFourValues) {
  WriteSettings("/jdk\nm\na\nMain\n");
  Outcome outcome;
  RunWithInjections([&] { outcome = ReadSettingsHere(); }, {{Injection::kClose, 1, EIO}});
  // The injected failure kept the kernel from closing it: release it here.
  const std::vector<int> left = SettingsDescriptors();
  EXPECT_EQ(left.size(), 1U);
  for (const int fd : left) close(fd);
  EXPECT_EQ(outcome.error, 101);
  EXPECT_EQ(outcome.values, (Values{"/jdk", "m", "a", "Main"}));
}

// Nothing after line 4 is read, beyond the block that holds its line end, or one more block
// when line 4 ends with a CR that is the last byte of its block; and lines are read in blocks.
TEST_F(InjectedFailureTest, ReadsWholeBlocksAndStopsAfterLineFour) {
  const struct {
    const char* name;
    std::string content;
    int reads;
  } kTable[] = {
      {"short lines and a long tail", "a\nb\nc\nd\n" + Bytes(100000, 'z'), 1},
      {"line 4 ends with CR at byte 256", "a\nb\nc\n" + Bytes(249, 'd') + "\r\n" + Bytes(1000, 'z'),
       2},
      {"lines of 1000 bytes",
       Bytes(1000, 'a') + "\n" + Bytes(1000, 'b') + "\nc\nd\n" + Bytes(5000, 'z'), 8},
  };
  for (const auto& row : kTable) {
    SCOPED_TRACE(row.name);
    WriteSettings(row.content);
    CallCounts counts;
    EXPECT_EQ(ReadWith({}, &counts).error, 0);
    EXPECT_EQ(counts.reads, row.reads);
  }
}

}  // namespace
}  // namespace launcher
