// What a program file is, from its bytes: an ELF program for this processor or another, the
// launcher, launcher-check itself, a script or text; and the Java installations of the machine.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace launcher::check {

enum class ProgramKind {
  kUnreadable,    // cannot be opened or read (`error` says why)
  kLauncher,      // an ELF program that holds the launcher's own texts
  kCheck,         // launcher-check itself (or another copy of it)
  kOtherProgram,  // an ELF program for this processor, not the launcher
  kOtherMachine,  // an ELF program for another processor (`machine` names it)
  kScript,        // begins with "#!"
  kText,          // text: no NUL byte and valid UTF-8 in its first bytes
  kData,          // anything else
};

struct ProgramFile {
  ProgramKind kind = ProgramKind::kUnreadable;
  int error = 0;
  std::string machine;     // for an ELF program: its processor ("x86-64", "arm64", "EM 40")
  std::string first_line;  // for a script or text: its first line, at most 200 bytes
};

// Looks at the file `path`: its first bytes, and for an ELF program of this processor its content
// (at most 64 MiB), which for the launcher holds the texts of its failure report and the name of
// its settings file.
ProgramFile IdentifyProgram(const char* path);

// The name of this processor as IdentifyProgram gives a machine: "x86-64" or "arm64".
std::string_view ThisMachine();

// Whether the program `path` is for this processor: an ELF program of its machine, or no ELF
// program at all (a script, say). A Java installation of another processor is no hint to give.
bool ForThisMachine(const char* path);

// The Java installations in `directory` (directories, not links, whose bin/java exists, can be
// executed and is for this processor), sorted by path.
std::vector<std::string> InstalledJavas(const char* directory = "/usr/lib/jvm");

}  // namespace launcher::check
