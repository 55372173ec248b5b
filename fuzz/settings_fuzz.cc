// libFuzzer target for the settings reader: arbitrary contents of init.ini, read through the real
// TextLineReader and ReadSettings, must give exactly the lines that a deliberately simple
// reference splitter finds, with no failure recorded and no more of the file read than allowed.
//
// Every input is read three ways:
//   1. ReadSettings on a regular file named init.ini: the four values;
//   2. TextLineReader on the same file: after line 4 the file offset is exactly where the reader
//      must stop (the end of the 256-byte block that holds line 4's line end, or one block more
//      when that line end is a carriage return at the end of its block); then every further line;
//   3. TextLineReader on a pipe in packet mode, so that each read returns one packet of 1 to 256
//      bytes: short reads at arbitrary places, such as a CR and its LF in two reads.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/settings.h"
#include "platform/errors.h"

namespace {

using launcher::ByteString;
using launcher::InOutRes;
using launcher::TextLineReader;

// The fuzzer's own working directory, and the one where init.ini is written and read.
int g_original_directory = -1;
int g_work_directory = -1;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "settings_fuzz: %s\n", what);
  if (g_original_directory >= 0 && fchdir(g_original_directory) != 0) std::perror("fchdir");
  std::abort();  // libFuzzer keeps the input that failed, relative to its working directory
}

void Check(bool condition, const char* what) {
  if (!condition) Fail(what);
}

// The reference: walk the bytes once. LF ends a line; CR ends a line and takes an LF right after
// it along; a last line without a line end still counts. `peek_end` is where the reader must have
// looked to finish the line: one past its LF, two past its CR (it checks the byte after a CR),
// or the end of the data.
struct ReferenceLine {
  std::string text;
  std::size_t peek_end;
};

std::vector<ReferenceLine> ReferenceLines(std::string_view data) {
  std::vector<ReferenceLine> lines;
  std::string current;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (data[i] == '\n') {
      lines.push_back({current, i + 1});
      current.clear();
    } else if (data[i] == '\r') {
      lines.push_back({current, i + 2});
      current.clear();
      if (i + 1 < data.size() && data[i + 1] == '\n') ++i;
    } else {
      current += data[i];
    }
  }
  if (!current.empty()) lines.push_back({current, data.size()});
  return lines;
}

std::string_view Line(const std::vector<ReferenceLine>& lines, std::size_t index) {
  return index < lines.size() ? std::string_view(lines[index].text) : std::string_view();
}

void WriteFile(const char* name, std::string_view data) {
  const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  Check(fd >= 0, "cannot create init.ini");
  Check(write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()), "short write");
  close(fd);
}

// Reads every line of an open reader and compares it with the reference, from line `first` on;
// then one more read must give an empty value, and nothing may fail.
void ExpectRemainingLines(TextLineReader& reader, const std::vector<ReferenceLine>& lines,
                          std::size_t first) {
  ByteString value;
  for (std::size_t i = first; i < lines.size(); ++i) {
    reader.ReadLine(value);
    Check(InOutRes == 0, "a read of a line failed");
    Check(value.view() == lines[i].text, "a line differs from the reference");
  }
  reader.ReadLine(value);
  Check(InOutRes == 0 && value.empty(), "reading past the last line gave something");
}

void ReadSettingsWay(const std::vector<ReferenceLine>& lines) {
  ByteString values[4];
  try {
    launcher::ReadSettings(values[0], values[1], values[2], values[3]);
  } catch (const launcher::EInOutError&) {
    Fail("ReadSettings raised EInOutError on a regular file");
  }
  Check(InOutRes == 0, "ReadSettings left a pending code");
  for (std::size_t i = 0; i < 4; ++i) {
    Check(values[i].view() == Line(lines, i), "a value of ReadSettings differs from the reference");
  }
}

void FileWay(std::string_view data, const std::vector<ReferenceLine>& lines) {
  TextLineReader reader;
  reader.Open("init.ini");
  Check(InOutRes == 0 && reader.IsOpen(), "Open failed");
  ByteString value;
  for (std::size_t i = 0; i < 4; ++i) {
    reader.ReadLine(value);
    Check(InOutRes == 0, "ReadLine failed");
    Check(value.view() == Line(lines, i), "a line differs from the reference");
  }
  const std::size_t block = TextLineReader::kBlockSize;
  std::size_t expected = data.size();
  if (lines.size() >= 4) {
    expected = std::min(data.size(), (lines[3].peek_end + block - 1) / block * block);
  }
  const off_t offset = lseek(reader.Descriptor(), 0, SEEK_CUR);
  Check(offset == static_cast<off_t>(expected), "read more (or less) of the file than allowed");
  ExpectRemainingLines(reader, lines, 4);
  reader.Close();
  Check(InOutRes == 0 && !reader.IsOpen(), "Close failed");
}

void PipeWay(std::string_view data, const std::vector<ReferenceLine>& lines) {
  int ends[2];
  Check(pipe2(ends, O_DIRECT | O_CLOEXEC) == 0, "pipe2");
  // Each packet takes one page of the pipe: room for 256 packets.
  Check(fcntl(ends[1], F_SETPIPE_SZ, 1 << 20) >= 0, "F_SETPIPE_SZ");
  const std::size_t smallest = (data.size() + 199) / 200 > 0 ? (data.size() + 199) / 200 : 1;
  Check(smallest <= 256, "input too long for the pipe");
  // Packet sizes from a generator seeded with the data, so a run is reproducible.
  std::uint64_t state = 1469598103934665603ULL;
  for (char byte : data) state = (state ^ static_cast<unsigned char>(byte)) * 1099511628211ULL;
  for (std::size_t at = 0; at < data.size();) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    const std::size_t span = (state & 1) ? 256 : 8;  // mostly short packets, some long ones
    std::size_t size = smallest + static_cast<std::size_t>((state >> 8) % span);
    if (size > 256) size = 256;
    if (size > data.size() - at) size = data.size() - at;
    Check(write(ends[1], data.data() + at, size) == static_cast<ssize_t>(size), "pipe write");
    at += size;
  }
  TextLineReader reader;
  const std::string name = "/proc/self/fd/" + std::to_string(ends[0]);
  reader.Open(name.c_str());  // while the writing end is open, so the open does not wait
  close(ends[1]);
  close(ends[0]);
  Check(InOutRes == 0 && reader.IsOpen(), "Open of the pipe failed");
  ExpectRemainingLines(reader, lines, 0);
  reader.Close();
  Check(InOutRes == 0, "Close of the pipe failed");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // ReadSettings reads init.ini from the working directory: each input is read in a directory of
  // its own, and the fuzzer's directory (where its corpus paths lead) is back afterwards.
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base ? base : "/tmp") + "/settings-fuzz-XXXXXX";
  Check(mkdtemp(pattern.data()) != nullptr, "cannot make a working directory");
  g_original_directory = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  g_work_directory = open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  Check(g_original_directory >= 0 && g_work_directory >= 0, "cannot open the directories");
  static const std::string directory = pattern;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  const std::vector<ReferenceLine> lines = ReferenceLines(data);
  InOutRes = 0;
  Check(fchdir(g_work_directory) == 0, "fchdir");
  WriteFile("init.ini", data);
  ReadSettingsWay(lines);
  FileWay(data, lines);
  if (size <= 200 * 256) PipeWay(data, lines);
  Check(fchdir(g_original_directory) == 0, "fchdir");
  return 0;
}
