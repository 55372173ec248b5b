#include "check/text.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/support/missing_tool.h"

extern "C" char** environ;

namespace launcher::check {
namespace {

struct VisibleCase {
  const char* name;
  std::string value;
  std::string shown;
  friend void PrintTo(const VisibleCase& row, std::ostream* out) { *out << row.name; }
};

class VisibleValues : public testing::TestWithParam<VisibleCase> {};

TEST_P(VisibleValues, ShowWhatCannotBeSeen) {
  EXPECT_EQ(Visible(GetParam().value), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Text, VisibleValues,
    testing::Values(VisibleCase{"Plain", "/usr/lib/jvm/java-17", "\"/usr/lib/jvm/java-17\""},
                    VisibleCase{"Empty", "", "\"\""},
                    VisibleCase{"TrailingBlankStaysInsideTheQuotes", "app.Main ", "\"app.Main \""},
                    VisibleCase{"ByteOrderMark", "\xEF\xBB\xBF/opt/jdk", "\"\\u{FEFF}/opt/jdk\""},
                    VisibleCase{"TabAndNul", std::string("a\tb\0c", 5), "\"a\\tb\\0c\""},
                    VisibleCase{"ControlBytes", "a\x01\x1B[31mb\x7F", "\"a\\x01\\x1B[31mb\\x7F\""},
                    VisibleCase{"QuoteAndBackslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
                    VisibleCase{"Utf8Letters", "/opt/J\xC3\xBCrgen/\xE6\x97\xA5",
                                "\"/opt/J\xC3\xBCrgen/\xE6\x97\xA5\""},
                    VisibleCase{"NoBreakSpace", "app\xC2\xA0Main", "\"app\\u{00A0}Main\""},
                    VisibleCase{"ZeroWidthSpace", "app\xE2\x80\x8BMain", "\"app\\u{200B}Main\""},
                    VisibleCase{"NotUtf8", "caf\xE9 \xC3", "\"caf\\xE9 \\xC3\""},
                    VisibleCase{"OverlongSlash", "\xC0\xAF", "\"\\xC0\\xAF\""},
                    VisibleCase{"Surrogate", "\xED\xA0\x80", "\"\\xED\\xA0\\x80\""},
                    VisibleCase{"TagCharacter", "a\xF3\xA0\x80\x81", "\"a\\u{E0001}\""}),
    [](const testing::TestParamInfo<VisibleCase>& row) { return row.param.name; });

TEST(Visible, LongValueIsCutAndItsLengthGiven) {
  EXPECT_EQ(Visible(std::string(1000, 'a'), 4), "\"aaaa\"... (1000 bytes)");
  EXPECT_EQ(Visible("abcd", 4), "\"abcd\"");
}

// What bash makes of `word`: the bytes of the one argument it gives printf.
std::string ThroughBash(const std::string& word) {
  int ends[2];
  if (pipe(ends) != 0) return "<no pipe>";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
  posix_spawn_file_actions_addclose(&actions, ends[0]);
  std::string script = "printf %s " + word;
  std::vector<char*> argv = {const_cast<char*>("bash"), const_cast<char*>("-c"), script.data(),
                             nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, "/bin/bash", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  std::string out;
  char buffer[256];
  for (ssize_t n; spawned == 0 && (n = read(ends[0], buffer, sizeof buffer)) > 0;) {
    out.append(buffer, static_cast<std::size_t>(n));
  }
  close(ends[0]);
  int status = 0;
  if (spawned == 0) waitpid(pid, &status, 0);
  return spawned == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : "<bash failed>";
}

struct WordCase {
  const char* name;
  std::string word;
  std::string quoted;
  friend void PrintTo(const WordCase& row, std::ostream* out) { *out << row.name; }
};

class ShellWords : public testing::TestWithParam<WordCase> {};

TEST_P(ShellWords, QuoteAsExpectedAndGiveTheSameBytesBack) {
  EXPECT_EQ(ShellWord(GetParam().word), GetParam().quoted);
  LAUNCHER_REQUIRE_TOOL(access("/bin/bash", X_OK) == 0, "/bin/bash, to paste the word into");
  EXPECT_EQ(ThroughBash(ShellWord(GetParam().word)), GetParam().word);
}

INSTANTIATE_TEST_SUITE_P(
    Text, ShellWords,
    testing::Values(WordCase{"Plain", "/opt/app//", "/opt/app//"},
                    WordCase{"Option", "--module-path", "--module-path"},
                    WordCase{"Empty", "", "''"}, WordCase{"Blank", "/opt/my app", "'/opt/my app'"},
                    WordCase{"SingleQuote", "it's", "'it'\\''s'"},
                    WordCase{"ShellCharacters", "$HOME;`x`*", "'$HOME;`x`*'"},
                    WordCase{"Utf8Letters", "/opt/J\xC3\xBCrgen", "'/opt/J\xC3\xBCrgen'"},
                    WordCase{"ByteOrderMark", "\xEF\xBB\xBF/opt/jdk", "$'\\xEF\\xBB\\xBF/opt/jdk'"},
                    WordCase{"TabQuoteAndBackslash", "a\t'b\\", "$'a\\x09\\'b\\\\'"},
                    WordCase{"NotUtf8", "caf\xE9", "$'caf\\xE9'"},
                    WordCase{"HexDigitAfterEscape",
                             "\x01"
                             "af",
                             "$'\\x01af'"}),
    [](const testing::TestParamInfo<WordCase>& row) { return row.param.name; });

TEST(Blanks, AtEitherEndIncludingInvisibleSpaces) {
  EXPECT_TRUE(BeginsWithBlank(" Main"));
  EXPECT_TRUE(BeginsWithBlank("\tMain"));
  EXPECT_TRUE(BeginsWithBlank("\xC2\xA0Main"));
  EXPECT_FALSE(BeginsWithBlank("Main "));
  EXPECT_FALSE(BeginsWithBlank(""));
  EXPECT_TRUE(EndsWithBlank("Main "));
  EXPECT_TRUE(EndsWithBlank("Main\t"));
  EXPECT_TRUE(EndsWithBlank("Main\xE3\x80\x80"));  // ideographic space
  EXPECT_FALSE(EndsWithBlank("Main"));
  EXPECT_FALSE(EndsWithBlank("J\xC3\xBC"));
  EXPECT_FALSE(EndsWithBlank("\xA0"));  // a lone continuation byte is no character
  EXPECT_FALSE(EndsWithBlank(""));
}

TEST(ControlBytes, NulAndEscapeCountTheTabDoesNot) {
  EXPECT_TRUE(HoldsControlByte(std::string("a\0b", 3)));
  EXPECT_TRUE(HoldsControlByte("a\x1B"));
  EXPECT_FALSE(HoldsControlByte("a\tb"));
  EXPECT_FALSE(HoldsControlByte("J\xC3\xBC"));
}

struct PrintableCase {
  const char* name;
  std::string line;
  std::string shown;
  friend void PrintTo(const PrintableCase& row, std::ostream* out) { *out << row.name; }
};

class PrintableLines : public testing::TestWithParam<PrintableCase> {};

// What comes from outside reaches the terminal with nothing that could steer it: no control
// byte, no C1 control in either form, no change of direction, no bytes that are not UTF-8.
TEST_P(PrintableLines, ShowWhatCouldSteerTheTerminal) {
  EXPECT_EQ(Printable(GetParam().line), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Text, PrintableLines,
    testing::Values(PrintableCase{"TextAndTabsKept", "Error:\tnot found \xC3\xBC",
                                  "Error:\tnot found \xC3\xBC"},
                    PrintableCase{"ControlBytes", "\x1B[2Jgone\r", "\\x1B[2Jgone\\x0D"},
                    PrintableCase{"RawC1Control",
                                  "a\x9B"
                                  "31mb",
                                  "a\\x9B31mb"},
                    PrintableCase{"Utf8C1Control",
                                  "a\xC2\x9B"
                                  "31mb",
                                  "a\\u{009B}31mb"},
                    PrintableCase{"RightToLeftOverride",
                                  "abc\xE2\x80\xAE"
                                  "fed",
                                  "abc\\u{202E}fed"},
                    PrintableCase{"LeftToRightEmbedding", "\xE2\x80\xAAx", "\\u{202A}x"},
                    PrintableCase{"Isolates", "\xE2\x81\xA6x\xE2\x81\xA9", "\\u{2066}x\\u{2069}"},
                    PrintableCase{"LineSeparator",
                                  "a\xE2\x80\xA8"
                                  "b",
                                  "a\\u{2028}b"},
                    PrintableCase{"NotUtf8", "caf\xE9 \xC3", "caf\\xE9 \\xC3"},
                    PrintableCase{"NoBreakSpaceKept",
                                  "a\xC2\xA0"
                                  "b",
                                  "a\xC2\xA0"
                                  "b"},
                    PrintableCase{"EmptyLine", "", ""}),
    [](const testing::TestParamInfo<PrintableCase>& row) { return row.param.name; });

TEST(Printable, LongLineIsCutOnceAndItsLengthGiven) {
  const std::string shown = Printable(std::string(1000, 'x') + "\x1B", 10);
  EXPECT_EQ(shown, "xxxxxxxxxx... (1001 bytes)");
  // A character is never cut in half.
  EXPECT_EQ(Printable("ab\xC3\xBC"
                      "cd",
                      3),
            "ab\xC3\xBC... (6 bytes)");
}

TEST(ShortWord, CutOnceWithItsLength) {
  EXPECT_EQ(ShortWord("/opt/app", 200), "/opt/app");
  EXPECT_EQ(ShortWord(std::string(300, 'a'), 4), "aaaa...(300 bytes)");
}

}  // namespace
}  // namespace launcher::check
