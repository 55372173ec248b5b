// libFuzzer target for launcher-check's readers of what the application brings: arbitrary bytes
// read as a class file, as a module descriptor and as a JAR (ZIP archive). None may crash, read
// outside its input or hang; and what they accept must be well formed:
//   - a class file's name and references are binary names, the references sorted and unique;
//   - a module descriptor has a name;
//   - every entry of an archive that reads gives exactly as many bytes as its directory says
//     (the CRC-32 was checked by the reader).
// The archive is read through a memory file (memfd), opened by its /proc path as the reader opens
// any JAR.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "check/classes/class_file.h"
#include "check/classes/zip_archive.h"

namespace {

using launcher::check::IsBinaryName;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "classes_fuzz: %s\n", what);
    std::abort();
  }
}

// Entries larger than this are not inflated, to keep each input fast; the bound itself is tested
// by the unit tests.
constexpr std::size_t kEntryLimit = 1 << 20;

int g_file = -1;
std::string g_path;

void ReadClass(std::string_view data) {
  if (const auto file = launcher::check::ReadClassFile(data)) {
    Check(IsBinaryName(file->name), "a class name that is no binary name");
    Check(std::is_sorted(file->references.begin(), file->references.end()), "references unsorted");
    Check(std::adjacent_find(file->references.begin(), file->references.end()) ==
              file->references.end(),
          "a reference twice");
    for (const std::string& reference : file->references) {
      Check(IsBinaryName(reference), "a reference that is no binary name");
      Check(reference != file->name, "the class refers to itself");
    }
  }
  if (const auto module = launcher::check::ReadModuleInfo(data)) {
    Check(!module->name.empty(), "a module without a name");
  }
}

void ReadArchive(std::string_view data) {
  Check(ftruncate(g_file, 0) == 0, "ftruncate");
  Check(pwrite(g_file, data.data(), data.size(), 0) == static_cast<ssize_t>(data.size()),
        "pwrite");
  std::string error;
  const auto archive = launcher::check::ZipArchive::Open(g_path, error);
  if (!archive) {
    Check(!error.empty(), "a refused archive without a reason");
    return;
  }
  for (const launcher::check::ZipEntry& entry : archive->entries()) {
    Check(archive->Find(entry.name) != nullptr, "an entry that Find does not find");
    const auto bytes = archive->Read(entry, error, kEntryLimit);
    if (bytes) {
      Check(bytes->size() == entry.size, "an entry of another size than its directory says");
    } else {
      Check(!error.empty(), "an unreadable entry without a reason");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_file = memfd_create("classes-fuzz.jar", MFD_CLOEXEC);
  Check(g_file >= 0, "memfd_create");
  g_path = "/proc/self/fd/" + std::to_string(g_file);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view data(reinterpret_cast<const char*>(bytes), size);
  ReadClass(data);
  ReadArchive(data);
  return 0;
}
