#include "check/programs.h"

#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <memory>

#include "check/descriptor.h"
#include "platform/process.h"
#include "platform/syscall.h"

namespace launcher::check {
namespace {

#if defined(__aarch64__)
constexpr unsigned kThisMachine = EM_AARCH64;
#else
constexpr unsigned kThisMachine = EM_X86_64;
#endif

constexpr std::size_t kMaxProgramBytes = 64 << 20;

// Texts every launcher holds: the name of its settings file and the opening of the failure text
// of a Java it cannot find. launcher-check holds them too, and its usage besides.
constexpr std::string_view kSettingsName = "init.ini";
constexpr std::string_view kCheckUsage = "Usage: launcher-check";

std::string MachineName(unsigned machine) {
  switch (machine) {
    case EM_X86_64:
      return "x86-64";
    case EM_AARCH64:
      return "arm64";
    case EM_386:
      return "x86 (32-bit)";
    case EM_ARM:
      return "arm (32-bit)";
    case EM_RISCV:
      return "riscv";
    case EM_PPC64:
      return "ppc64";
    case EM_S390:
      return "s390";
    default:
      return "EM " + std::to_string(machine);
  }
}

// Reads up to `limit` bytes of `fd` from where it stands.
std::string ReadUpTo(int fd, std::size_t limit, int& error) {
  std::string bytes;
  constexpr std::size_t kChunk = 1 << 16;
  while (bytes.size() < limit) {
    const std::size_t used = bytes.size();
    bytes.resize(used + std::min(kChunk, limit - used));
    const SysResult read =
        Sys([&] { return ::read(fd, bytes.data() + used, bytes.size() - used); });
    bytes.resize(used + (read.Ok() ? static_cast<std::size_t>(read.value) : 0));
    if (!read.Ok()) error = read.error;
    if (!read.Ok() || read.value == 0) break;
  }
  return bytes;
}

bool IsText(std::string_view bytes) {
  if (bytes.find('\0') != std::string_view::npos) return false;
  for (std::size_t at = 0; at < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    const std::size_t length = lead < 0x80                    ? 1
                               : lead >= 0xC2 && lead <= 0xDF ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0) return false;
    if (at + length > bytes.size()) return true;  // cut at the end of what was read
    for (std::size_t i = 1; i < length; ++i) {
      if ((static_cast<unsigned char>(bytes[at + i]) & 0xC0) != 0x80) return false;
    }
    at += length;
  }
  return true;
}

}  // namespace

std::string_view ThisMachine() {
  static const std::string name = MachineName(kThisMachine);
  return name;
}

ProgramFile IdentifyProgram(const char* path) {
  ProgramFile program;
  const SysResult opened =
      Sys([&] { return ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK); });
  if (!opened.Ok()) {
    program.error = opened.error;
    return program;
  }
  const Descriptor file(static_cast<int>(opened.value));
  int error = 0;
  const std::string head = ReadUpTo(file.get(), 512, error);
  if (error != 0) {
    program.error = error;
    return program;
  }
  if (head.size() >= 20 && std::string_view(head).starts_with(std::string_view(ELFMAG, SELFMAG))) {
    // e_machine, little-endian on both processors the launcher is built for.
    const unsigned machine = static_cast<unsigned char>(head[18]) |
                             static_cast<unsigned>(static_cast<unsigned char>(head[19])) << 8;
    program.machine = MachineName(machine);
    // The content, for the launcher's own texts, whatever processor it is for.
    const std::string rest = ReadUpTo(file.get(), kMaxProgramBytes, error);
    const std::string_view all[] = {head, rest};
    const auto holds = [&](std::string_view text) {
      for (const std::string_view part : all) {
        if (part.find(text) != std::string_view::npos) return true;
      }
      // Across the boundary of the two parts.
      const std::string joint = head.substr(head.size() - std::min(head.size(), text.size())) +
                                rest.substr(0, text.size());
      return joint.find(text) != std::string::npos;
    };
    const ProcessFailureText not_found = NotFoundText("");
    if (holds(kCheckUsage)) {
      program.kind = ProgramKind::kCheck;
    } else if (holds(kSettingsName) && holds(not_found.before)) {
      program.kind = machine == kThisMachine ? ProgramKind::kLauncher : ProgramKind::kOtherMachine;
    } else {
      program.kind =
          machine == kThisMachine ? ProgramKind::kOtherProgram : ProgramKind::kOtherMachine;
    }
    return program;
  }
  const std::string_view first = std::string_view(head).substr(0, head.find('\n'));
  program.first_line = std::string(first.substr(0, 200));
  if (head.starts_with("#!")) {
    program.kind = ProgramKind::kScript;
  } else if (IsText(head)) {
    program.kind = ProgramKind::kText;
  } else {
    program.kind = ProgramKind::kData;
    program.first_line.clear();
  }
  return program;
}

bool ForThisMachine(const char* path) {
  const SysResult opened = Sys([&] { return ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK); });
  if (!opened.Ok()) return false;
  const Descriptor file(static_cast<int>(opened.value));
  unsigned char header[20] = {};  // e_ident, e_type, e_machine (little-endian on both)
  const SysResult read = Sys([&] { return ::read(file.get(), header, sizeof header); });
  if (!read.Ok() || read.value < 20 ||
      std::string_view(reinterpret_cast<char*>(header), SELFMAG) !=
          std::string_view(ELFMAG, SELFMAG)) {
    return true;
  }
  return (header[18] | header[19] << 8) == kThisMachine;
}

std::vector<std::string> InstalledJavas(const char* directory) {
  struct Closer {
    void operator()(DIR* dir) const noexcept { closedir(dir); }
  };
  const std::unique_ptr<DIR, Closer> dir(opendir(directory));
  std::vector<std::string> found;
  if (!dir) return found;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string path = std::string(directory) + "/" + entry->d_name;
    struct stat status {};
    if (entry->d_name[0] == '.' || !Sys([&] { return ::lstat(path.c_str(), &status); }).Ok() ||
        !S_ISDIR(status.st_mode)) {
      continue;
    }
    const std::string java = path + "/bin/java";
    if (ProgramExists(java.c_str()) && Sys([&] { return ::access(java.c_str(), X_OK); }).Ok() &&
        ForThisMachine(java.c_str())) {
      found.push_back(path);
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace launcher::check
