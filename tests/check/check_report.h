// launcher-check's report as its end-to-end tests read it: the problems it lists, in order, with
// Java's words and the fix of each, and the closing line; and the hint of the Java installations
// of this machine that a fix of line 1 ends with.
#pragma once

#include <elf.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/e2e.h"
#include "tests/support/helpers.h"

namespace e2e {

// A problem as the check lists it: "  PLACE: WHAT", then "    Java: ..." lines, then "    fix:
// ...".
struct Listed {
  std::string head;  // "line 3: there is no module ..."
  std::string java;  // Java's lines, joined by line feeds
  std::string fix;
  friend bool operator==(const Listed&, const Listed&) = default;
  friend void PrintTo(const Listed& listed, std::ostream* out) {
    *out << "\n  " << listed.head << (listed.java.empty() ? "" : "\n    Java: " + listed.java)
         << "\n    fix: " << listed.fix;
  }
};

// The check's report: its problems, in order, and its closing line (and the line after it).
struct Report {
  std::optional<std::size_t> count;  // as "Problems found: N." says
  std::vector<Listed> problems;
  std::string closing;
  std::string after_closing;
};

inline Report Parse(const std::string& out) {
  Report report;
  const std::vector<std::string> lines = SplitLines(out);
  std::size_t i = 0;
  for (; i < lines.size(); ++i) {
    if (lines[i].starts_with("Problems found: ")) {
      report.count = std::stoul(lines[i].substr(16));
      break;
    }
    if (lines[i].starts_with("No problem found")) {
      report.closing = lines[i];
      return report;
    }
  }
  for (++i; i < lines.size() && !lines[i].empty(); ++i) {
    const std::string& line = lines[i];
    if (line.starts_with("    Java: ")) {
      Listed& last = report.problems.back();
      last.java += (last.java.empty() ? "" : "\n") + line.substr(10);
    } else if (line.starts_with("    fix: ")) {
      report.problems.back().fix = line.substr(9);
    } else {
      report.problems.push_back({line.substr(2), "", ""});
    }
  }
  if (i + 1 < lines.size()) report.closing = lines[i + 1];
  if (i + 2 < lines.size()) report.after_closing = lines[i + 2];
  return report;
}

// The hint a fix of line 1 ends with: the Java installations of /usr/lib/jvm for this processor.
inline std::string JavasHint() {
#if defined(__aarch64__)
  constexpr unsigned kMachine = EM_AARCH64;
#else
  constexpr unsigned kMachine = EM_X86_64;
#endif
  std::vector<std::string> found;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/jvm", ignored)) {
    const std::string name = entry.path().filename();
    const std::string java = entry.path() / "bin/java";
    if (name.starts_with('.') || entry.is_symlink() || !entry.is_directory() ||
        access(java.c_str(), X_OK) != 0) {
      continue;
    }
    const std::string header = ReadFile(java).substr(0, 20);
    if (header.size() == 20 && header.starts_with(ELFMAG) &&
        (static_cast<unsigned char>(header[18]) | static_cast<unsigned char>(header[19]) << 8) !=
            kMachine) {
      continue;
    }
    found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  std::string hint;
  for (const std::string& path : found) hint += (hint.empty() ? "" : ", ") + path;
  return hint.empty() ? "" : "; Java installations on this machine: " + hint;
}

}  // namespace e2e
