#include "check/classes/zip_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>

#include "check/classes/files.h"
#include "platform/descriptor.h"
#include "platform/syscall.h"

namespace launcher::check {
namespace {

// Record signatures and sizes (the ZIP format's application note, 4.3).
constexpr std::uint32_t kLocalHeader = 0x04034b50;
constexpr std::uint32_t kDirectoryHeader = 0x02014b50;
constexpr std::uint32_t kEndRecord = 0x06054b50;
constexpr std::uint32_t kZip64EndRecord = 0x06064b50;
constexpr std::uint32_t kZip64Locator = 0x07064b50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kDirectoryHeaderSize = 46;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kZip64EndRecordSize = 56;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kMaxComment = 0xFFFF;
constexpr std::uint16_t kZip64Extra = 0x0001;
constexpr std::uint16_t kEncrypted = 0x0001;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
// Deflate writes at most 258 bytes for a match of 1 bit at best, so no stream inflates to more
// than about 1032 times its size; a deflated entry that does not compress grows by a few bytes per
// block of 16 kB.
constexpr std::uint64_t kMaxDeflateRatio = 1032;

// Little-endian numbers out of a buffer whose size was checked before.
std::uint64_t Little(const char* at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;) value = value << 8 | static_cast<unsigned char>(at[i]);
  return value;
}
std::uint16_t U2(const char* at) { return static_cast<std::uint16_t>(Little(at, 2)); }
std::uint32_t U4(const char* at) { return static_cast<std::uint32_t>(Little(at, 4)); }
std::uint64_t U8(const char* at) { return Little(at, 8); }

// Reads exactly `size` bytes at `offset` into `buffer`; a short file is an error (EIO says it).
int ReadAt(int fd, char* buffer, std::size_t size, std::uint64_t offset) {
  while (size > 0) {
    const SysResult read =
        Sys([&] { return ::pread(fd, buffer, size, static_cast<off_t>(offset)); });
    if (!read.Ok()) return read.error;
    if (read.value == 0) return EIO;
    const auto got = static_cast<std::size_t>(read.value);
    buffer += got;
    size -= got;
    offset += got;
  }
  return 0;
}

// Opens `path` for reading without waiting (a FIFO named like a JAR) and checks that it is a
// regular file; returns its size.
Descriptor OpenRegular(const std::string& path, std::uint64_t& size, std::string& error) {
  const SysResult opened =
      Sys([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY); });
  if (!opened.Ok()) {
    error = Describe(opened.error);
    return Descriptor();
  }
  Descriptor file(static_cast<int>(opened.value));
  struct stat status {};
  const SysResult looked = Sys([&] { return ::fstat(file.get(), &status); });
  if (!looked.Ok()) {
    error = Describe(looked.error);
    return Descriptor();
  }
  if (!S_ISREG(status.st_mode)) {
    error = "not a regular file";
    return Descriptor();
  }
  size = static_cast<std::uint64_t>(status.st_size);
  return file;
}

// The fields of the end records that locate the central directory.
struct End {
  std::uint64_t entries = 0;
  std::uint64_t directory_size = 0;
  std::uint64_t directory_offset = 0;  // as recorded, from the archive's start
  std::uint64_t position = 0;          // in the file: where the directory must end
  bool zip64 = false;
};

bool FindEnd(int fd, std::uint64_t file_size, End& end, std::string& error) {
  if (file_size < kEndRecordSize) {
    error = "not a ZIP archive: too short";
    return false;
  }
  const std::size_t tail_size =
      static_cast<std::size_t>(std::min<std::uint64_t>(file_size, kEndRecordSize + kMaxComment));
  const std::uint64_t tail_start = file_size - tail_size;
  std::string tail(tail_size, '\0');
  if (const int failed = ReadAt(fd, tail.data(), tail_size, tail_start)) {
    error = Describe(failed);
    return false;
  }
  // The last end record whose comment fits in the file.
  std::size_t at = tail_size - kEndRecordSize + 1;
  const char* record = nullptr;
  while (at-- > 0) {
    const char* candidate = tail.data() + at;
    if (U4(candidate) == kEndRecord && at + kEndRecordSize + U2(candidate + 20) <= tail_size) {
      record = candidate;
      break;
    }
  }
  if (!record) {
    error = "not a ZIP archive: no end of central directory record";
    return false;
  }
  if (U2(record + 4) != 0 || U2(record + 6) != 0) {
    error = "an archive split over several files";
    return false;
  }
  end.entries = U2(record + 10);
  end.directory_size = U4(record + 12);
  end.directory_offset = U4(record + 16);
  end.position = tail_start + at;
  const bool saturated = end.entries == 0xFFFF || end.directory_size == 0xFFFFFFFF ||
                         end.directory_offset == 0xFFFFFFFF;
  if (!saturated || at < kZip64LocatorSize) return true;
  const char* locator = record - kZip64LocatorSize;
  if (U4(locator) != kZip64Locator) return true;  // fields that merely hold their largest value
  const std::uint64_t record64_at = U8(locator + 8);
  if (record64_at > end.position - kZip64LocatorSize ||
      end.position - kZip64LocatorSize - record64_at < kZip64EndRecordSize) {
    error = "the ZIP64 end record lies outside the archive";
    return false;
  }
  char record64[kZip64EndRecordSize];
  if (const int failed = ReadAt(fd, record64, sizeof record64, record64_at)) {
    error = Describe(failed);
    return false;
  }
  if (U4(record64) != kZip64EndRecord) {
    error = "no ZIP64 end record where its locator points";
    return false;
  }
  end.entries = U8(record64 + 32);
  end.directory_size = U8(record64 + 40);
  end.directory_offset = U8(record64 + 48);
  end.position = record64_at;
  end.zip64 = true;
  return true;
}

// The ZIP64 extra field of a directory entry: the 64-bit values of the fields that hold their
// largest 32-bit value, in the order size, compressed size, header offset.
bool ReadZip64Extra(std::string_view extra, ZipEntry& entry, std::uint32_t size32,
                    std::uint32_t compressed32, std::uint32_t offset32) {
  while (extra.size() >= 4) {
    const std::uint16_t id = U2(extra.data());
    const std::size_t length = U2(extra.data() + 2);
    if (extra.size() - 4 < length) return false;
    std::string_view data = extra.substr(4, length);
    extra.remove_prefix(4 + length);
    if (id != kZip64Extra) continue;
    for (auto [value, field] :
         {std::pair{size32, &entry.size}, std::pair{compressed32, &entry.compressed_size},
          std::pair{offset32, &entry.header_offset}}) {
      if (value != 0xFFFFFFFF) continue;
      if (data.size() < 8) return false;
      *field = U8(data.data());
      data.remove_prefix(8);
    }
    return true;
  }
  return size32 != 0xFFFFFFFF && compressed32 != 0xFFFFFFFF && offset32 != 0xFFFFFFFF;
}

}  // namespace

std::optional<ZipArchive> ZipArchive::Open(std::string path, std::string& error) {
  ZipArchive archive;
  archive.path_ = std::move(path);
  const Descriptor file = OpenRegular(archive.path_, archive.file_size_, error);
  if (!file.valid()) return std::nullopt;
  End end;
  if (!FindEnd(file.get(), archive.file_size_, end, error)) return std::nullopt;
  if (end.directory_size > end.position) {
    error = "the central directory would start before the file";
    return std::nullopt;
  }
  const std::uint64_t directory_start = end.position - end.directory_size;
  if (directory_start < end.directory_offset) {
    error = "the central directory's recorded offset lies past where it is";
    return std::nullopt;
  }
  if (end.entries > kZipMaxEntries || end.directory_size > kZipMaxDirectoryBytes) {
    error = "more than " + std::to_string(kZipMaxEntries) + " entries or " +
            std::to_string(kZipMaxDirectoryBytes >> 20) + " MB of central directory";
    return std::nullopt;
  }
  // Bytes before the archive proper (a start script before the JAR) shift every offset.
  archive.base_ = directory_start - end.directory_offset;
  archive.directory_offset_ = directory_start;

  const auto directory_size = static_cast<std::size_t>(end.directory_size);
  std::string directory(directory_size, '\0');
  if (const int failed = ReadAt(file.get(), directory.data(), directory_size, directory_start)) {
    error = Describe(failed);
    return std::nullopt;
  }
  std::size_t at = 0;
  while (at < directory_size) {
    const char* header = directory.data() + at;
    if (directory_size - at < kDirectoryHeaderSize || U4(header) != kDirectoryHeader) {
      error =
          "a damaged central directory (entry " + std::to_string(archive.entries_.size() + 1) + ")";
      return std::nullopt;
    }
    const std::size_t name_size = U2(header + 28);
    const std::size_t extra_size = U2(header + 30);
    const std::size_t comment_size = U2(header + 32);
    const std::size_t record_size = kDirectoryHeaderSize + name_size + extra_size + comment_size;
    if (directory_size - at < record_size) {
      error = "a damaged central directory (entry " + std::to_string(archive.entries_.size() + 1) +
              " runs past its end)";
      return std::nullopt;
    }
    if (archive.entries_.size() == end.entries || archive.entries_.size() == kZipMaxEntries) {
      error = "the central directory holds more entries than its end record says";
      return std::nullopt;
    }
    ZipEntry entry;
    entry.flags = U2(header + 8);
    entry.method = U2(header + 10);
    entry.crc = U4(header + 16);
    entry.compressed_size = U4(header + 20);
    entry.size = U4(header + 24);
    entry.header_offset = U4(header + 42);
    entry.name.assign(header + kDirectoryHeaderSize, name_size);
    const std::string_view extra(header + kDirectoryHeaderSize + name_size, extra_size);
    if (!ReadZip64Extra(extra, entry, U4(header + 24), U4(header + 20), U4(header + 42))) {
      error = "a damaged ZIP64 field in entry " + entry.name;
      return std::nullopt;
    }
    if (entry.header_offset > end.directory_offset) {
      error = "entry " + entry.name + " lies past the central directory";
      return std::nullopt;
    }
    archive.entries_.push_back(std::move(entry));
    at += record_size;
  }
  if (archive.entries_.size() != end.entries) {
    error = "the central directory holds " + std::to_string(archive.entries_.size()) +
            " entries, its end record says " + std::to_string(end.entries);
    return std::nullopt;
  }
  archive.by_name_.resize(archive.entries_.size());
  for (std::uint32_t i = 0; i < archive.by_name_.size(); ++i) archive.by_name_[i] = i;
  std::stable_sort(archive.by_name_.begin(), archive.by_name_.end(),
                   [&](std::uint32_t a, std::uint32_t b) {
                     return archive.entries_[a].name < archive.entries_[b].name;
                   });
  return archive;
}

const ZipEntry* ZipArchive::Find(std::string_view name) const {
  const auto found = std::lower_bound(
      by_name_.begin(), by_name_.end(), name,
      [&](std::uint32_t index, std::string_view wanted) { return entries_[index].name < wanted; });
  if (found == by_name_.end() || entries_[*found].name != name) return nullptr;
  return &entries_[*found];
}

std::optional<std::string> ZipArchive::Read(const ZipEntry& entry, std::string& error,
                                            std::size_t limit) const {
  const std::string prefix = "entry " + entry.name + ": ";
  if (entry.size > limit) {
    error = prefix + "larger than " + std::to_string(limit) + " bytes";
    return std::nullopt;
  }
  if (entry.flags & kEncrypted) {
    error = prefix + "encrypted";
    return std::nullopt;
  }
  if (entry.method != kStored && entry.method != kDeflated) {
    error = prefix + "compressed by method " + std::to_string(entry.method) +
            ", not stored or deflated";
    return std::nullopt;
  }
  // The sizes a stored entry and a deflate stream can have for the entry's size: this keeps a
  // lying directory from making the data read or the output written larger than the entry.
  const bool sizes_possible =
      entry.method == kStored ? entry.compressed_size == entry.size
                              : entry.size <= entry.compressed_size * kMaxDeflateRatio &&
                                    entry.compressed_size <= entry.size + entry.size / 64 + 1024;
  if (!sizes_possible) {
    error = prefix + "its sizes are impossible (" + std::to_string(entry.compressed_size) +
            " bytes for " + std::to_string(entry.size) + ")";
    return std::nullopt;
  }

  std::uint64_t file_size = 0;
  std::string open_error;
  const Descriptor file = OpenRegular(path_, file_size, open_error);
  if (!file.valid()) {
    error = prefix + open_error;
    return std::nullopt;
  }
  if (file_size != file_size_) {
    error = prefix + "the file changed since its directory was read";
    return std::nullopt;
  }
  // The local header, then the data, all before the central directory.
  const std::uint64_t header_at = base_ + entry.header_offset;
  char header[kLocalHeaderSize];
  if (directory_offset_ - header_at < kLocalHeaderSize ||
      ReadAt(file.get(), header, sizeof header, header_at) != 0 || U4(header) != kLocalHeader) {
    error = prefix + "no local header where the directory says";
    return std::nullopt;
  }
  const std::uint64_t data_at = header_at + kLocalHeaderSize + U2(header + 26) + U2(header + 28);
  if (data_at > directory_offset_ || directory_offset_ - data_at < entry.compressed_size) {
    error = prefix + "its data runs into the central directory";
    return std::nullopt;
  }
  const auto compressed_size = static_cast<std::size_t>(entry.compressed_size);
  const auto size = static_cast<std::size_t>(entry.size);
  std::string data(compressed_size, '\0');
  if (const int failed = ReadAt(file.get(), data.data(), compressed_size, data_at)) {
    error = prefix + Describe(failed);
    return std::nullopt;
  }
  std::string bytes;
  if (entry.method == kStored) {
    bytes = std::move(data);
  } else {
    // One byte more than the entry's size: a stream that fills it inflates to more than the
    // directory says.
    bytes.assign(size + 1, '\0');
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
      error = prefix + "zlib could not start";
      return std::nullopt;
    }
    stream.next_in = reinterpret_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(compressed_size);
    stream.next_out = reinterpret_cast<Bytef*>(bytes.data());
    stream.avail_out = static_cast<uInt>(size + 1);
    const int result = inflate(&stream, Z_FINISH);
    const uLong produced = stream.total_out;
    inflateEnd(&stream);
    if (result != Z_STREAM_END || produced != size) {
      error = prefix + (produced > size ? "inflates to more than its recorded size"
                                        : "damaged compressed data");
      return std::nullopt;
    }
    bytes.resize(size);
  }
  const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()),
                          static_cast<uInt>(bytes.size()));
  if (crc != entry.crc) {
    error = prefix + "its CRC-32 does not match";
    return std::nullopt;
  }
  return bytes;
}

}  // namespace launcher::check
