// JAR files read as ZIP archives: the entries of the central directory, and the bytes of one entry,
// stored or deflated.
//
// Inflating is zlib's (Debian's zlib1g-dev, linked statically into launcher-check). The container
// around it is read here: zlib has no reader of it (minizip is another package, and libzip would
// bring bzip2, xz, zstd and a cryptography library into the static link), and what a JAR needs of
// it is a handful of fixed-layout records. Every record is checked against the file before it is
// used: the end record found within the last 64 kB, the central directory within the file and
// before the end record, each entry's local header and data within the file and before the
// central directory, sizes that deflate can reach (at most about 1032 bytes out per byte in), the
// inflated bytes exactly as many as the directory says and with its CRC-32. Entry counts and sizes
// are bounded, so a zip bomb or a damaged or lying archive is an error for that archive, never a
// crash, a hang or an unbounded allocation. ZIP64 records are read; encrypted entries and methods
// other than stored and deflated are errors for that entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher::check {

struct ZipEntry {
  std::string name;                 // as stored: '/' separated; a directory's ends in '/'
  std::uint64_t header_offset = 0;  // where its local header starts, from the archive's start
  std::uint64_t compressed_size = 0;
  std::uint64_t size = 0;  // once inflated
  std::uint32_t crc = 0;
  std::uint16_t method = 0;  // 0 stored, 8 deflated
  std::uint16_t flags = 0;
};

// At most this many entries in one archive, and this many bytes of its central directory.
inline constexpr std::size_t kZipMaxEntries = 1 << 18;
inline constexpr std::size_t kZipMaxDirectoryBytes = 64 << 20;
// At most this many bytes in one entry read (a class file, a manifest, a module descriptor).
inline constexpr std::size_t kZipMaxEntryBytes = 16 << 20;

class ZipArchive {
 public:
  // Reads the central directory of the file `path`. On failure returns nullopt and sets `error`
  // to why, for a person ("not a ZIP archive: no end of central directory record").
  static std::optional<ZipArchive> Open(std::string path, std::string& error);

  const std::string& path() const { return path_; }
  const std::vector<ZipEntry>& entries() const { return entries_; }

  // The entry named `name` (the first, when several have it), or null.
  const ZipEntry* Find(std::string_view name) const;

  // The bytes of `entry`, at most `limit` of them once inflated, read from the file again (it is
  // not held open between reads, so that a module path of many JARs holds no descriptors). On
  // failure returns nullopt and sets `error` (the file changed, a damaged entry, too large).
  std::optional<std::string> Read(const ZipEntry& entry, std::string& error,
                                  std::size_t limit = kZipMaxEntryBytes) const;

 private:
  ZipArchive() = default;

  std::string path_;
  std::uint64_t file_size_ = 0;
  std::uint64_t base_ = 0;  // bytes before the archive proper (a start script put before a JAR)
  std::uint64_t directory_offset_ = 0;  // where the central directory starts in the file
  std::vector<ZipEntry> entries_;
  std::vector<std::uint32_t> by_name_;  // indexes of entries_, sorted by name
};

}  // namespace launcher::check
