#include "check/classes/zip_archive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <ostream>
#include <string>

#include "tests/support/class_fixtures.h"
#include "tests/support/e2e.h"

namespace launcher::check {
namespace {

using class_fixtures::Deflate;
using class_fixtures::ZipBuilder;

class ZipArchiveTest : public testing::Test {
 protected:
  // Writes `bytes` as a file of the test's directory and opens it as an archive.
  std::optional<ZipArchive> Open(const std::string& bytes, std::string& error) {
    e2e::WriteFile(path_, bytes);
    return ZipArchive::Open(path_, error);
  }
  // The bytes of the entry `name` of the archive `bytes`, or the error of opening or reading.
  std::string ReadEntry(const std::string& bytes, const std::string& name) {
    std::string error;
    const std::optional<ZipArchive> archive = Open(bytes, error);
    if (!archive) return "open: " + error;
    const ZipEntry* entry = archive->Find(name);
    if (!entry) return "no entry";
    const std::optional<std::string> read = archive->Read(*entry, error);
    return read ? *read : "read: " + error;
  }

  e2e::TempDir dir_;
  std::string path_ = dir_ / "archive.jar";
};

TEST_F(ZipArchiveTest, ReadsStoredAndDeflatedEntries) {
  ZipBuilder zip;
  zip.Add("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n");
  zip.Add("app/", "", false);
  zip.Add("app/Main.class", std::string(5000, 'x') + "end");
  zip.Add("app/empty.txt", "", true);
  zip.Add("stored.txt", "kept as it is", false);
  zip.comment = "a comment";
  const std::string bytes = zip.Build();
  std::string error;
  const std::optional<ZipArchive> archive = Open(bytes, error);
  ASSERT_TRUE(archive) << error;
  ASSERT_EQ(archive->entries().size(), 5u);
  EXPECT_EQ(archive->entries()[2].name, "app/Main.class");
  EXPECT_EQ(archive->Find("app/"), &archive->entries()[1]);
  EXPECT_EQ(archive->Find("app/Missing.class"), nullptr);
  EXPECT_EQ(ReadEntry(bytes, "app/Main.class"), std::string(5000, 'x') + "end");
  EXPECT_EQ(ReadEntry(bytes, "app/empty.txt"), "");
  EXPECT_EQ(ReadEntry(bytes, "stored.txt"), "kept as it is");
}

// A start script before the archive (a self-running JAR) shifts every offset; ZIP64 records
// stand in for fields that do not fit 32 bits.
TEST_F(ZipArchiveTest, ReadsArchivesAfterAPrefixAndZip64Records) {
  ZipBuilder prefixed;
  prefixed.prefix = "#!/bin/sh\nexec java -jar \"$0\" \"$@\"\n";
  prefixed.Add("a.txt", "after a script");
  EXPECT_EQ(ReadEntry(prefixed.Build(), "a.txt"), "after a script");

  ZipBuilder zip64;
  zip64.zip64_end = true;
  zip64.Add("first.txt", "one").zip64 = true;
  zip64.Add("second.txt", "two", false);
  EXPECT_EQ(ReadEntry(zip64.Build(), "first.txt"), "one");
  EXPECT_EQ(ReadEntry(zip64.Build(), "second.txt"), "two");
}

// The first of two entries of one name is the one found.
TEST_F(ZipArchiveTest, FirstOfTwoEntriesOfOneName) {
  ZipBuilder zip;
  zip.Add("b", "1");
  zip.Add("a", "first");
  zip.Add("a", "second");
  EXPECT_EQ(ReadEntry(zip.Build(), "a"), "first");
}

struct BrokenCase {
  const char* name;
  std::function<std::string()> bytes;
  std::string error;  // a part of the error, "open: ..." or "read: ..."
  friend void PrintTo(const BrokenCase& row, std::ostream* out) { *out << row.name; }
};

class BrokenArchive : public ZipArchiveTest, public testing::WithParamInterface<BrokenCase> {};

// A damaged, lying or hostile archive is an error with a reason, for the archive or the entry.
TEST_P(BrokenArchive, IsAnErrorWithItsReason) {
  const std::string result = ReadEntry(GetParam().bytes(), "a");
  EXPECT_NE(result.find(GetParam().error), std::string::npos) << result;
}

// An archive of the entry "a" with `content`, changed by `change` before it is built.
std::string Archive(std::string_view content, const std::function<void(ZipBuilder&)>& change,
                    bool deflated = true) {
  ZipBuilder zip;
  zip.Add("a", content, deflated);
  change(zip);
  return zip.Build();
}

const auto kNoChange = [](ZipBuilder&) {};

INSTANTIATE_TEST_SUITE_P(
    ZipArchive, BrokenArchive,
    testing::Values(
        BrokenCase{"Empty", [] { return std::string(); }, "open: not a ZIP archive: too short"},
        BrokenCase{"Text", [] { return std::string(100, 't'); }, "open: not a ZIP archive: no end"},
        BrokenCase{"SplitArchive",
                   [] {
                     std::string bytes = Archive("x", kNoChange);
                     bytes[bytes.size() - 18] = 1;  // number of this disk
                     return bytes;
                   },
                   "open: an archive split over several files"},
        BrokenCase{"DirectoryOffsetPastItself",
                   [] {
                     std::string bytes = Archive("x", kNoChange);
                     bytes[bytes.size() - 3] = '\x7F';  // top byte of the directory's offset
                     return bytes;
                   },
                   "open: the central directory's recorded offset lies past where it is"},
        BrokenCase{"DirectoryLargerThanTheFile",
                   [] {
                     std::string bytes = Archive("x", kNoChange);
                     bytes[bytes.size() - 7] = '\x7F';  // top byte of the directory's size
                     return bytes;
                   },
                   "open: the central directory would start before the file"},
        BrokenCase{"MoreEntriesDeclared",
                   [] { return Archive("x", [](ZipBuilder& z) { z.entry_count_change = 1; }); },
                   "open: the central directory holds 1 entries, its end record says 2"},
        BrokenCase{"FewerEntriesDeclared",
                   [] {
                     return Archive("x", [](ZipBuilder& z) {
                       z.Add("b", "y");
                       z.entry_count_change = -1;
                     });
                   },
                   "open: the central directory holds more entries than its end record says"},
        BrokenCase{"TooManyEntriesDeclared",
                   [] {
                     return Archive("x", [](ZipBuilder& z) {
                       z.zip64_end = true;
                       z.entry_count_change = 1 << 20;
                     });
                   },
                   "open: more than 262144 entries"},
        BrokenCase{"Zip64LocatorPointsOutside",
                   [] {
                     std::string bytes = Archive("x", [](ZipBuilder& z) { z.zip64_end = true; });
                     bytes[bytes.size() - 22 - 20 + 15] = '\x10';  // the locator's record offset
                     return bytes;
                   },
                   "open: the ZIP64 end record lies outside the archive"},
        BrokenCase{"HeaderOffsetWrong",
                   [] {
                     return Archive("x", [](ZipBuilder& z) {
                       z.entries[0].offset = 3;
                       z.entries[0].keep_offset = true;
                     });
                   },
                   "read: entry a: no local header where the directory says"},
        BrokenCase{"HeaderOffsetPastTheDirectory",
                   [] {
                     return Archive("x", [](ZipBuilder& z) {
                       z.entries[0].offset = 1 << 20;
                       z.entries[0].keep_offset = true;
                     });
                   },
                   "open: entry a lies past the central directory"},
        BrokenCase{"DataRunsIntoTheDirectory",
                   [] {
                     return Archive(
                         "stored data",
                         [](ZipBuilder& z) {
                           z.entries[0].compressed_size = z.entries[0].size = 500;
                         },
                         false);
                   },
                   "read: entry a: its data runs into the central directory"},
        BrokenCase{"InflatesToMoreThanRecorded",
                   [] {
                     // 1 MB of zeros deflates to about a kilobyte; the directory says 2000 bytes.
                     return Archive(std::string(1 << 20, '\0'),
                                    [](ZipBuilder& z) { z.entries[0].size = 2000; });
                   },
                   "read: entry a: inflates to more than its recorded size"},
        BrokenCase{"ZipBombLargerThanTheLimit",
                   [] { return Archive(std::string(kZipMaxEntryBytes + 1, '\0'), kNoChange); },
                   "read: entry a: larger than 16777216 bytes"},
        BrokenCase{
            "ImpossibleRatio",
            [] { return Archive("abc", [](ZipBuilder& z) { z.entries[0].size = 1 << 20; }); },
            "read: entry a: its sizes are impossible"},
        BrokenCase{"StoredSizesDiffer",
                   [] {
                     return Archive(
                         "abc", [](ZipBuilder& z) { z.entries[0].size = 2; }, false);
                   },
                   "read: entry a: its sizes are impossible"},
        BrokenCase{"InflatesToLess",
                   [] { return Archive("abcdef", [](ZipBuilder& z) { z.entries[0].size = 9; }); },
                   "read: entry a: damaged compressed data"},
        BrokenCase{"DamagedDeflateData",
                   [] {
                     return Archive("abcdef", [](ZipBuilder& z) {
                       z.entries[0].data.assign(z.entries[0].data.size(), '\xFF');
                     });
                   },
                   "read: entry a: damaged compressed data"},
        BrokenCase{"WrongCrc",
                   [] { return Archive("abc", [](ZipBuilder& z) { z.entries[0].crc ^= 1; }); },
                   "read: entry a: its CRC-32 does not match"},
        BrokenCase{"Encrypted",
                   [] { return Archive("abc", [](ZipBuilder& z) { z.entries[0].flags = 1; }); },
                   "read: entry a: encrypted"},
        BrokenCase{"OtherMethod",
                   [] { return Archive("abc", [](ZipBuilder& z) { z.entries[0].method = 12; }); },
                   "read: entry a: compressed by method 12, not stored or deflated"}),
    [](const testing::TestParamInfo<BrokenCase>& row) { return row.param.name; });

// Every prefix of an archive is refused (its end record is at its end) without a crash.
TEST_F(ZipArchiveTest, EveryTruncationIsRefused) {
  ZipBuilder zip;
  zip.Add("app/Main.class", "class bytes");
  zip.Add("module-info.class", "module bytes", false);
  const std::string bytes = zip.Build();
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    std::string error;
    EXPECT_FALSE(Open(bytes.substr(0, size), error)) << "cut at " << size;
    EXPECT_FALSE(error.empty());
  }
}

// A file that changed after its directory was read is an error for the entry, and anything but a
// regular file is refused without waiting (a FIFO would block a plain open).
TEST_F(ZipArchiveTest, ChangedFilesAndFilesThatAreNoFiles) {
  ZipBuilder zip;
  zip.Add("a", "content");
  std::string error;
  const std::optional<ZipArchive> archive = Open(zip.Build(), error);
  ASSERT_TRUE(archive) << error;
  e2e::WriteFile(path_, zip.Build() + "more");
  EXPECT_FALSE(archive->Read(archive->entries()[0], error));
  EXPECT_EQ(error, "entry a: the file changed since its directory was read");

  const std::string fifo = dir_ / "pipe.jar";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(ZipArchive::Open(fifo, error));
  EXPECT_EQ(error, "not a regular file");
  EXPECT_FALSE(ZipArchive::Open(dir_.path(), error));
  EXPECT_FALSE(ZipArchive::Open(dir_ / "missing.jar", error));
  EXPECT_EQ(error, "No such file or directory");
}

// What the JDK's jar tool writes is read entry for entry.
TEST_F(ZipArchiveTest, ReadsWhatJarWrites) {
  REQUIRE_JAVAC();
  const std::string dir = class_fixtures::Build(
      {{{"src/app/Main.java", "package app;\npublic class Main {}\n"},
        {"src/app/data.txt", std::string(10000, 'd')}},
       {{"javac", "-d", "classes", "src/app/Main.java"},
        {"jar", "--create", "--file", "app.jar", "-C", "classes", ".", "-C", "src", "app/data.txt"},
        {"jar", "--create", "--no-compress", "--file", "stored.jar", "-C", "classes", "."}}});
  ASSERT_FALSE(dir.empty());
  for (const char* name : {"app.jar", "stored.jar"}) {
    std::string error;
    const std::optional<ZipArchive> archive = ZipArchive::Open(dir + "/" + name, error);
    ASSERT_TRUE(archive) << error;
    ASSERT_NE(archive->Find("META-INF/MANIFEST.MF"), nullptr);
    const ZipEntry* main = archive->Find("app/Main.class");
    ASSERT_NE(main, nullptr);
    const std::optional<std::string> bytes = archive->Read(*main, error);
    ASSERT_TRUE(bytes) << error;
    EXPECT_EQ(*bytes, e2e::ReadFile(dir + "/classes/app/Main.class"));
  }
  std::string error;
  const std::optional<ZipArchive> archive = ZipArchive::Open(dir + "/app.jar", error);
  ASSERT_TRUE(archive) << error;
  const ZipEntry* data = archive->Find("app/data.txt");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->method, 8);
  EXPECT_EQ(archive->Read(*data, error), std::string(10000, 'd'));
}

}  // namespace
}  // namespace launcher::check
