#include "check/settings_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "launcher/settings.h"
#include "platform/errors.h"

namespace launcher::check {
namespace {

using E = LineEnd;

// A fresh working directory for each test, where init.ini is read, and the previous one back
// afterwards.
class InitIniAsRead : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/launcher-settings-file-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    previous_ = cwd;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    EXPECT_EQ(chdir(previous_.c_str()), 0);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  static void Write(const std::string& content) {
    std::ofstream("init.ini", std::ios::binary) << content;
  }
  static std::array<std::string, 4> Values(const SettingsFile& file) {
    std::array<std::string, 4> values;
    for (std::size_t i = 0; i < 4; ++i) values[i] = std::string(file.values[i].view());
    return values;
  }

  std::string dir_;
  std::string previous_;
};

struct ContentCase {
  const char* name;
  std::string content;
  std::array<std::string, 4> values;
  std::array<LineEnd, 4> ends;
  std::size_t lines_after = 0;
  friend void PrintTo(const ContentCase& row, std::ostream* out) { *out << row.name; }
};

class Content : public InitIniAsRead, public testing::WithParamInterface<ContentCase> {};

// The values are the launcher's reader's, the line ends those its reader consumed, and the lines
// after line 4 are counted.
TEST_P(Content, ValuesAndLineEndsAsTheLauncherReadsThem) {
  const ContentCase& row = GetParam();
  Write(row.content);
  const SettingsFile file = ReadSettingsFile();
  EXPECT_EQ(file.kind, FileKind::kRegular);
  EXPECT_TRUE(file.read);
  EXPECT_EQ(Values(file), row.values);
  EXPECT_EQ(file.ends, row.ends);
  EXPECT_EQ(file.lines_after, row.lines_after);
  EXPECT_EQ(file.unfinished_line, 0);
  EXPECT_EQ(file.failed_line, 0);
  EXPECT_EQ(file.error, 0);
  EXPECT_TRUE(SettingsReadToAnEnd(file));
  // Whatever the check reads, no failure of the file layer is left pending.
  EXPECT_EQ(InOutRes, 0);
}

INSTANTIATE_TEST_SUITE_P(
    SettingsFile, Content,
    testing::Values(
        ContentCase{"Empty", "", {}, {E::kAbsent, E::kAbsent, E::kAbsent, E::kAbsent}},
        ContentCase{
            "FourLf", "a\nb\nc\nd\n", {"a", "b", "c", "d"}, {E::kLf, E::kLf, E::kLf, E::kLf}},
        ContentCase{"FourCrLf",
                    "a\r\nb\r\nc\r\nd\r\n",
                    {"a", "b", "c", "d"},
                    {E::kCrLf, E::kCrLf, E::kCrLf, E::kCrLf}},
        ContentCase{
            "LoneCr", "a\rb\rc\rd", {"a", "b", "c", "d"}, {E::kCr, E::kCr, E::kCr, E::kEndOfFile}},
        ContentCase{"CrCrLfIsTwoEnds",
                    "a\r\r\nb\n",
                    {"a", "", "b", ""},
                    {E::kCr, E::kCrLf, E::kLf, E::kAbsent}},
        ContentCase{"LfCrIsTwoEnds",
                    "a\n\rb",
                    {"a", "", "b", ""},
                    {E::kLf, E::kCr, E::kEndOfFile, E::kAbsent}},
        ContentCase{"OneLineWithoutEnd",
                    "/opt/jdk",
                    {"/opt/jdk", "", "", ""},
                    {E::kEndOfFile, E::kAbsent, E::kAbsent, E::kAbsent}},
        ContentCase{"EmptyLinesArePresent",
                    "\n\n\nMain\n",
                    {"", "", "", "Main"},
                    {E::kLf, E::kLf, E::kLf, E::kLf}},
        ContentCase{"LinesAfterFourCounted",
                    "a\nb\nc\nd\ne\r\nf\rg",
                    {"a", "b", "c", "d"},
                    {E::kLf, E::kLf, E::kLf, E::kLf},
                    3},
        ContentCase{"CrLfAfterFourIsOneLine",
                    "a\nb\nc\nd\r\n\r\n",
                    {"a", "b", "c", "d"},
                    {E::kLf, E::kLf, E::kLf, E::kCrLf},
                    1},
        // A CR and its LF across the reader's 256-byte blocks are still one line end.
        ContentCase{"CrLfAcrossBlocks",
                    std::string(255, 'h') + "\r\nm\n",
                    {std::string(255, 'h'), "m", "", ""},
                    {E::kCrLf, E::kLf, E::kAbsent, E::kAbsent}},
        ContentCase{"NulAndBomAreBytesOfTheValue",
                    std::string("\xEF\xBB\xBFh\0x\nm", 8),
                    {std::string("\xEF\xBB\xBFh\0x", 6), "m", "", ""},
                    {E::kLf, E::kEndOfFile, E::kAbsent, E::kAbsent}}),
    [](const testing::TestParamInfo<ContentCase>& row) { return row.param.name; });

TEST_F(InitIniAsRead, LineThatDoesNotEndWithinTheLimitIsNotReadToItsEnd) {
  Write("/opt/jdk\n/opt/mo" + std::string(500, 'd'));
  const SettingsFile file = ReadSettingsFile(100);
  EXPECT_EQ(file.unfinished_line, 2);
  EXPECT_EQ(file.values[0].view(), "/opt/jdk");
  EXPECT_EQ(file.values[1].view(), "/opt/mo" + std::string(84, 'd'));  // what the check read of it
  EXPECT_EQ(file.ends[0], E::kLf);
  EXPECT_TRUE(file.cut);
  EXPECT_FALSE(SettingsReadToAnEnd(file));
  EXPECT_EQ(InOutRes, 0);
}

TEST_F(InitIniAsRead, LongFileAfterLineFourIsCut) {
  std::string content = "a\nb\nc\nd\n";
  for (int i = 0; i < 1000; ++i) content += "more\n";
  Write(content);
  const SettingsFile file = ReadSettingsFile(100);
  EXPECT_EQ(file.unfinished_line, 0);
  EXPECT_EQ(file.values[3].view(), "d");
  EXPECT_TRUE(file.cut);
  EXPECT_LT(file.lines_after, 1000u);
}

// Where the launcher's reader would wait or read without end, the check does neither.
TEST_F(InitIniAsRead, FifoIsNeitherOpenedNorRead) {
  ASSERT_EQ(mkfifo("init.ini", 0600), 0);
  const SettingsFile file = ReadSettingsFile();
  EXPECT_EQ(file.kind, FileKind::kFifo);
  EXPECT_FALSE(file.read);
  EXPECT_FALSE(SettingsReadToAnEnd(file));
}

TEST_F(InitIniAsRead, TerminalIsNotRead) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::filesystem::create_symlink(ptsname(master), "init.ini");
  const SettingsFile file = ReadSettingsFile();
  close(master);
  EXPECT_EQ(file.kind, FileKind::kTerminal);
  EXPECT_FALSE(file.read);
  EXPECT_FALSE(SettingsReadToAnEnd(file));
}

TEST_F(InitIniAsRead, EndlessDeviceLeavesTheFirstLineUnfinished) {
  std::filesystem::create_symlink("/dev/zero", "init.ini");
  const SettingsFile file = ReadSettingsFile(4096);
  EXPECT_EQ(file.kind, FileKind::kCharDevice);
  EXPECT_EQ(file.link_target, "/dev/zero");
  EXPECT_EQ(file.unfinished_line, 1);
  EXPECT_FALSE(SettingsReadToAnEnd(file));
}

TEST_F(InitIniAsRead, DeviceThatEndsAtOnceGivesFourEmptyValues) {
  std::filesystem::create_symlink("/dev/null", "init.ini");
  const SettingsFile file = ReadSettingsFile();
  EXPECT_EQ(file.kind, FileKind::kCharDevice);
  EXPECT_TRUE(file.read);
  EXPECT_EQ(Values(file), (std::array<std::string, 4>{}));
  EXPECT_TRUE(SettingsReadToAnEnd(file));
}

// Failures the launcher's reader meets, each with its system error; none can be got past by root.
TEST_F(InitIniAsRead, FailuresOfTheLookTheOpenAndTheRead) {
  EXPECT_EQ(ReadSettingsFile().kind, FileKind::kMissing);

  std::filesystem::create_symlink(dir_ + "/nowhere", "init.ini");
  const SettingsFile dangling = ReadSettingsFile();
  EXPECT_EQ(dangling.kind, FileKind::kDanglingLink);
  EXPECT_EQ(dangling.link_target, dir_ + "/nowhere");
  std::filesystem::remove("init.ini");

  std::filesystem::create_symlink("init.ini", "init.ini");
  const SettingsFile loop = ReadSettingsFile();
  EXPECT_EQ(loop.kind, FileKind::kUnreachable);
  EXPECT_EQ(loop.error, ELOOP);
  EXPECT_TRUE(SettingsReadToAnEnd(loop));  // the launcher goes on with four empty values
  std::filesystem::remove("init.ini");

  Write("x\n");
  std::filesystem::rename("init.ini", "file");
  std::filesystem::create_symlink("file/init.ini", "init.ini");
  const SettingsFile not_directory = ReadSettingsFile();
  EXPECT_EQ(not_directory.kind, FileKind::kUnreachable);
  EXPECT_EQ(not_directory.error, ENOTDIR);
  std::filesystem::remove("init.ini");

  std::filesystem::create_directory("init.ini");
  const SettingsFile directory = ReadSettingsFile();
  EXPECT_EQ(directory.kind, FileKind::kDirectory);
  EXPECT_EQ(directory.error, EISDIR);
  EXPECT_EQ(directory.failed_line, 1);
  EXPECT_EQ(Values(directory), (std::array<std::string, 4>{}));
  std::filesystem::remove("init.ini");

  std::filesystem::create_symlink("/proc/self/mem", "init.ini");
  const SettingsFile memory = ReadSettingsFile();
  EXPECT_EQ(memory.kind, FileKind::kRegular);
  EXPECT_EQ(memory.error, EIO);
  EXPECT_EQ(memory.failed_line, 1);
  EXPECT_TRUE(SettingsReadToAnEnd(memory));
  EXPECT_EQ(InOutRes, 0);
}

TEST_F(InitIniAsRead, SocketCannotBeOpened) {
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, "init.ini");
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const SettingsFile file = ReadSettingsFile();
  close(listener);
  EXPECT_EQ(file.kind, FileKind::kSocket);
  EXPECT_EQ(file.error, ENXIO);
  EXPECT_EQ(Values(file), (std::array<std::string, 4>{}));
}

}  // namespace
}  // namespace launcher::check
