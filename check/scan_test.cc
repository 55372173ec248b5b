#include "check/scan.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

namespace launcher::check {
namespace {

using E = LineEnd;

struct SplitCase {
  const char* name;
  std::string text;
  std::array<std::string, 4> lines;
  std::array<LineEnd, 4> ends;
  std::size_t lines_after = 0;
  friend void PrintTo(const SplitCase& row, std::ostream* out) { *out << row.name; }
};

class SplitComplete : public testing::TestWithParam<SplitCase> {};

// The lines as the launcher's reader takes them, and how each ended.
TEST_P(SplitComplete, LinesAndTheirEnds) {
  SettingsScan scan;
  SplitSettings(GetParam().text, true, scan);
  EXPECT_EQ(scan.lines, GetParam().lines);
  EXPECT_EQ(scan.ends, GetParam().ends);
  EXPECT_EQ(scan.lines_after, GetParam().lines_after);
  EXPECT_EQ(scan.unfinished_line, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Scan, SplitComplete,
    testing::Values(
        SplitCase{"Empty", "", {}, {E::kAbsent, E::kAbsent, E::kAbsent, E::kAbsent}},
        SplitCase{"FourLf", "a\nb\nc\nd\n", {"a", "b", "c", "d"}, {E::kLf, E::kLf, E::kLf, E::kLf}},
        SplitCase{"FourCrLf",
                  "a\r\nb\r\nc\r\nd\r\n",
                  {"a", "b", "c", "d"},
                  {E::kCrLf, E::kCrLf, E::kCrLf, E::kCrLf}},
        SplitCase{"LoneCr", "a\rb\rc\rd", {"a", "b", "c", "d"}, {E::kCr, E::kCr, E::kCr, E::kEndOfFile}},
        SplitCase{"CrCrLfIsTwoEnds",
                  "a\r\r\nb\n",
                  {"a", "", "b", ""},
                  {E::kCr, E::kCrLf, E::kLf, E::kAbsent}},
        SplitCase{"LfCrIsTwoEnds", "a\n\rb", {"a", "", "b", ""}, {E::kLf, E::kCr, E::kEndOfFile, E::kAbsent}},
        SplitCase{"OneLineWithoutEnd", "/opt/jdk", {"/opt/jdk", "", "", ""},
                  {E::kEndOfFile, E::kAbsent, E::kAbsent, E::kAbsent}},
        SplitCase{"TwoLines", "h\nm\n", {"h", "m", "", ""}, {E::kLf, E::kLf, E::kAbsent, E::kAbsent}},
        SplitCase{"EmptyLinesArePresent", "\n\n\nMain\n", {"", "", "", "Main"},
                  {E::kLf, E::kLf, E::kLf, E::kLf}},
        SplitCase{"LinesAfterFourCounted",
                  "a\nb\nc\nd\ne\r\nf\rg",
                  {"a", "b", "c", "d"},
                  {E::kLf, E::kLf, E::kLf, E::kLf},
                  3},
        SplitCase{"CrLfAfterFourIsOneLine", "a\nb\nc\nd\r\n\r\n", {"a", "b", "c", "d"},
                  {E::kLf, E::kLf, E::kLf, E::kCrLf}, 1},
        SplitCase{"NulAndBomAreBytesOfTheValue", std::string("\xEF\xBB\xBFh\0x\nm", 8),
                  {std::string("\xEF\xBB\xBFh\0x", 6), "m", "", ""},
                  {E::kLf, E::kEndOfFile, E::kAbsent, E::kAbsent}}),
    [](const testing::TestParamInfo<SplitCase>& row) { return row.param.name; });

TEST(SplitIncomplete, TheLineStillOpenAtTheLimitIsUnfinished) {
  SettingsScan scan;
  SplitSettings("/opt/jdk\n/opt/mo", false, scan);
  EXPECT_EQ(scan.unfinished_line, 2);
  EXPECT_EQ(scan.lines[1], "/opt/mo");
  SettingsScan four;
  SplitSettings("a\nb\nc\nd\ne\nf", false, four);
  EXPECT_EQ(four.unfinished_line, 0);
  EXPECT_EQ(four.lines_after, 2);
}

class ScanFile : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/launcher-scan-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/init.ini";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  void Write(const std::string& content) const {
    std::ofstream(path_, std::ios::binary) << content;
  }

  std::string dir_;
  std::string path_;
};

TEST_F(ScanFile, RegularFile) {
  Write("/opt/jdk\r\n/opt/mods\r\napp\r\nMain\r\nnotes\r\n");
  const SettingsScan scan = ScanSettings(path_.c_str());
  EXPECT_EQ(scan.kind, FileKind::kRegular);
  EXPECT_EQ(scan.lines[3], "Main");
  EXPECT_EQ(scan.ends[0], LineEnd::kCrLf);
  EXPECT_EQ(scan.lines_after, 1);
  EXPECT_FALSE(scan.cut);
}

TEST_F(ScanFile, MissingDanglingDirectoryAndFifo) {
  EXPECT_EQ(ScanSettings(path_.c_str()).kind, FileKind::kMissing);
  std::filesystem::create_symlink(dir_ + "/nowhere", path_);
  const SettingsScan dangling = ScanSettings(path_.c_str());
  EXPECT_EQ(dangling.kind, FileKind::kDanglingLink);
  EXPECT_EQ(dangling.link_target, dir_ + "/nowhere");
  std::filesystem::remove(path_);
  std::filesystem::create_directory(path_);
  EXPECT_EQ(ScanSettings(path_.c_str()).kind, FileKind::kDirectory);
  std::filesystem::remove(path_);
  ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
  // Opening a FIFO for reading waits for a writer: the scan must not open it.
  EXPECT_EQ(ScanSettings(path_.c_str()).kind, FileKind::kFifo);
}

TEST_F(ScanFile, EndlessFirstLineIsReadOnlyUpToTheLimit) {
  std::filesystem::create_symlink("/dev/zero", path_);
  const SettingsScan scan = ScanSettings(path_.c_str(), 4096);
  EXPECT_EQ(scan.kind, FileKind::kCharDevice);
  EXPECT_EQ(scan.unfinished_line, 1);
  EXPECT_EQ(scan.lines[0].size(), 4096u);
  EXPECT_TRUE(scan.cut);
}

TEST_F(ScanFile, LongFileAfterLineFourIsCut) {
  std::string content = "a\nb\nc\nd\n";
  for (int i = 0; i < 1000; ++i) content += "more\n";
  Write(content);
  const SettingsScan scan = ScanSettings(path_.c_str(), 100);
  EXPECT_EQ(scan.unfinished_line, 0);
  EXPECT_EQ(scan.lines[3], "d");
  EXPECT_TRUE(scan.cut);
  EXPECT_LT(scan.lines_after, 1000u);
}

TEST_F(ScanFile, UnreadableFileSaysWhy) {
  Write("x\n");
  chmod(path_.c_str(), 0);
  if (geteuid() == 0) GTEST_SKIP() << "root reads a file without read permission";
  const SettingsScan scan = ScanSettings(path_.c_str());
  EXPECT_EQ(scan.kind, FileKind::kUnreadable);
  EXPECT_EQ(scan.error, EACCES);
}

}  // namespace
}  // namespace launcher::check
