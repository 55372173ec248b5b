// The rules that recognise the mistakes a new user makes in init.ini by name: the file written
// as another kind of configuration file (sections, keys, comments, quotes, ~), a blank after a
// comma, and lines in the wrong order.
#include <stdlib.h>

#include <algorithm>

#include "check/classes/files.h"
#include "check/facts.h"
#include "check/rules/rules.h"
#include "check/text.h"

namespace launcher::check {
namespace {

constexpr std::string_view kOrder =
    "the Java installation, the module path, the modules to add, the main class";

// The lines whose values are known in full.
int KnownLines(const Configuration& configuration) {
  const SettingsFile& settings = configuration.settings;
  if (!settings.read || NothingRead(configuration)) return 0;
  if (settings.unfinished_line != 0) return settings.unfinished_line - 1;
  if (settings.failed_line != 0) return settings.failed_line - 1;
  return 4;
}

bool IniStyle(const Configuration& configuration) {
  int keys = 0;
  for (int line = 1; line <= KnownLines(configuration); ++line) {
    const std::string_view value = configuration.Received(line);
    if (IsSectionHeader(value)) return true;
    if (ValueOfKey(value)) ++keys;
  }
  return keys >= 2;
}

bool AnyComment(const Configuration& configuration) {
  for (int line = 1; line <= KnownLines(configuration); ++line) {
    if (IsComment(configuration.Received(line))) return true;
  }
  return false;
}

Problem& Diagnosis(Problems& problems, const Configuration& configuration, int line,
                   std::string what, std::string fix) {
  Problem& problem = problems.Add(line, std::move(what), std::move(fix));
  problem.precision = Precision::kDiagnosis;
  problem.claims = LineTopics(configuration, line);
  return problem;
}

void ClaimLines(const Configuration& configuration, Problem& problem, int first, int last) {
  for (int line = first; line <= last; ++line) {
    for (std::string& topic : LineTopics(configuration, line))
      problem.claims.push_back(std::move(topic));
  }
}

// What a value holds, by its shape and by what exists.
enum class Role { kEmpty, kJavaHome, kPath, kModules, kClass, kOther };

bool AllBinaryNames(std::string_view value) {
  if (value.empty()) return false;
  for (std::size_t at = 0; at <= value.size();) {
    const std::size_t comma = std::min(value.find(',', at), value.size());
    if (!IsBinaryName(value.substr(at, comma - at))) return false;
    at = comma + 1;
  }
  return true;
}

Role RoleOf(const Configuration& configuration, int line) {
  const std::string value(configuration.Received(line));
  if (value.empty()) return Role::kEmpty;
  if (value.find('/') != std::string::npos || Exists(value)) {
    if (Exists(value + "/bin/java")) return Role::kJavaHome;
    return Role::kPath;
  }
  if (!AllBinaryNames(value)) return Role::kOther;
  if (value.find(',') != std::string::npos) return Role::kModules;
  if (Exists(ClassFilePath(configuration.launcher.directory.view(), value))) return Role::kClass;
  const Application& application = configuration.application;
  if (application.module_path.Find(value) != nullptr ||
      application.runtime.modules.contains(value)) {
    return Role::kModules;
  }
  const std::size_t dot = value.rfind('.');
  const char first = value[dot == std::string::npos ? 0 : dot + 1];
  return first >= 'A' && first <= 'Z' ? Role::kClass : Role::kModules;
}

// The module names a directory of modules holds, for a fix: "a, b".
std::string ModulesIn(const std::string& path) {
  const ModulePath found = ScanModulePath(path);
  std::string names;
  for (const Module& module : found.modules) {
    names += (names.empty() ? "" : ",") + module.descriptor.name;
  }
  return names;
}

}  // namespace

void IniStyleRule(const Configuration& configuration, Problems& problems) {
  if (!IniStyle(configuration)) return;
  std::string values;
  for (int line = 1; line <= KnownLines(configuration); ++line) {
    const std::string_view value = configuration.Received(line);
    if (IsSectionHeader(value) || IsComment(value)) continue;
    const std::optional<std::string> kept = ValueOfKey(value);
    values += std::string(values.empty() ? "" : ", then ") + Visible(kept ? *kept : value);
  }
  Problem& problem = problems.Add(
      "init.ini",
      "init.ini is written as an INI file, with a [section] or key=value lines: the launcher knows "
      "no sections and no keys, it takes each of the first four lines whole as a value",
      "write the four values alone, one on each line, in this order: " + std::string(kOrder) +
          (values.empty() ? "" : " (the values found here: " + values + ")"));
  problem.precision = Precision::kDiagnosis;
  ClaimLines(configuration, problem, 1, 4);
  problem.claims.push_back("line order");
}

void CommentRule(const Configuration& configuration, Problems& problems) {
  if (IniStyle(configuration)) return;
  for (int line = 1; line <= KnownLines(configuration); ++line) {
    const std::string_view value = configuration.Received(line);
    if (!IsComment(value)) continue;
    Problem& problem = Diagnosis(
        problems, configuration, line,
        "the line is a comment (" + Visible(value, 60) +
            "): init.ini has none, each of its first four lines is a value, read by its position",
        "remove the comment, so that the values are lines 1 to 4 in this order: " +
            std::string(kOrder));
    ClaimLines(configuration, problem, line, 4);
    problem.claims.push_back("line order");
  }
}

void QuotesRule(const Configuration& configuration, Problems& problems) {
  for (int line = 1; line <= KnownLines(configuration); ++line) {
    const std::string_view value = configuration.Received(line);
    if (value.size() < 2 || (value.front() != '"' && value.front() != '\'') ||
        value.back() != value.front()) {
      continue;
    }
    Diagnosis(problems, configuration, line,
              "the value is in quotes, which the launcher takes as part of it: it hands the value "
              "to Java as it is, with no shell to remove them",
              "write line " + std::to_string(line) +
                  " without the quotes: " + Visible(value.substr(1, value.size() - 2)));
  }
}

void TildeRule(const Configuration& configuration, Problems& problems) {
  const char* home = getenv("HOME");
  for (int line = 1; line <= std::min(2, KnownLines(configuration)); ++line) {
    const std::string_view value = configuration.Received(line);
    // Each element of the module path, and line 1 whole.
    std::string expanded;
    bool tilde = false;
    bool exists = true;
    for (std::size_t at = 0; at <= value.size();) {
      const std::size_t end =
          line == 2 ? std::min(value.find(':', at), value.size()) : value.size();
      std::string element(value.substr(at, end - at));
      if (element == "~" || element.starts_with("~/")) {
        tilde = true;
        if (home != nullptr) element = home + element.substr(1);
        exists = exists && home != nullptr && Exists(element);
      }
      expanded += (at == 0 ? "" : ":") + element;
      at = end + 1;
    }
    if (!tilde) continue;
    Diagnosis(problems, configuration, line,
              "the value begins with ~, which the launcher does not replace by the home directory "
              "(a shell does): it names a directory called ~" +
                  std::string(
                      exists && home != nullptr ? ", though " + Visible(expanded) + " exists" : ""),
              home != nullptr ? "write the full path: " + Visible(expanded)
                              : "write the full path, without ~");
  }
}

void CommaBlankRule(const Configuration& configuration, Problems& problems) {
  if (KnownLines(configuration) < 3) return;
  const std::string_view value = configuration.Received(3);
  if (value.find(", ") == std::string_view::npos && value.find(" ,") == std::string_view::npos &&
      value.find(",\t") == std::string_view::npos && value.find("\t,") == std::string_view::npos) {
    return;
  }
  Problem& problem = problems.Add(
      3,
      "a blank stands beside a comma, and Java takes it as part of a module's name (it splits "
      "line 3 at the commas alone)",
      "remove the blanks: " + Visible(Line3Without(configuration, "")));
  problem.precision = Precision::kDiagnosis;
  for (const std::string& root : configuration.application.roots) {
    problem.claims.push_back("module " + root);
    // The module named with a blank is not the module meant, which then is not added.
    const std::size_t first = root.find_first_not_of(" \t");
    const std::size_t last = root.find_last_not_of(" \t");
    if (first != std::string::npos) {
      problem.claims.push_back("module " + root.substr(first, last - first + 1));
    }
  }
  problem.claims.push_back("boot layer");
}

void LineOrderRule(const Configuration& configuration, Problems& problems) {
  if (KnownLines(configuration) < 4 || IniStyle(configuration) || AnyComment(configuration)) return;
  const Role r1 = RoleOf(configuration, 1);
  const Role r2 = RoleOf(configuration, 2);
  const Role r3 = RoleOf(configuration, 3);
  const Role r4 = RoleOf(configuration, 4);
  const auto all = [&](std::string what, std::string fix) {
    Problem& problem = problems.Add(1, std::move(what), std::move(fix));
    problem.precision = Precision::kDiagnosis;
    ClaimLines(configuration, problem, 1, 4);
    problem.claims.push_back("line order");
  };
  if (r1 == Role::kPath && r2 == Role::kModules && r3 == Role::kClass && r4 == Role::kEmpty) {
    all("the lines are shifted up by one: line 1 holds the module path, line 2 the modules, line 3 "
        "the main class, and the Java installation is missing",
        "put the Java installation first, on a line of its own (an empty line 1 takes java from "
        "the working directory or PATH), so that the lines are, in this order: " +
            std::string(kOrder));
    return;
  }
  if (r1 != Role::kJavaHome && r2 == Role::kJavaHome && r3 == Role::kPath && r4 == Role::kModules) {
    all("the lines are shifted down by one: line 2 holds the Java installation, line 3 the module "
        "path, line 4 the modules, after a line 1 of " +
            Visible(configuration.Received(1), 60),
        "remove line 1, so that the lines are, in this order: " + std::string(kOrder));
    return;
  }
  if (r2 == Role::kModules && r3 == Role::kPath) {
    Problem& problem = problems.Add(
        2,
        "lines 2 and 3 are the wrong way round: line 2 holds the names of modules, line 3 a path",
        "write the module path (the directories of the modules) on line 2, and the names of the "
        "modules to add on line 3");
    problem.precision = Precision::kDiagnosis;
    ClaimLines(configuration, problem, 2, 3);
    return;
  }
  if (r1 == Role::kClass) {
    Diagnosis(problems, configuration, 1,
              "line 1 names a class, " + Visible(configuration.Received(1), 100) +
                  ", not a Java installation",
              "write on line 1 the Java installation (the directory that holds bin/java), and the "
              "main class on line 4" +
                  InstalledJavasHint());
  }
  if (r2 == Role::kModules && !Exists(std::string(configuration.Received(2)))) {
    Diagnosis(problems, configuration, 2,
              "line 2 holds the names of modules, not the directories that hold them",
              "write on line 2 the directory of the modules (for JavaFX with Debian's openjfx: "
              "/usr/share/openjfx/lib), and the names of the modules to add on line 3");
  }
  if (r3 == Role::kPath) {
    const std::string names = ModulesIn(std::string(configuration.Received(3)));
    Diagnosis(problems, configuration, 3, "line 3 holds a path, not the names of modules",
              "write on line 3 the names of the modules to add, separated by commas" +
                  (names.empty() ? std::string(" (such as app.greeting)")
                                 : " (that directory holds " + Visible(names) + ")") +
                  ", and their directory on line 2");
  }
  // A class file's name is the main class rule's (it names the class meant).
  const std::string_view line4 = configuration.Received(4);
  if (r4 == Role::kPath && !line4.ends_with(".class") && !line4.ends_with(".java") &&
      (line4.starts_with('/') || line4.ends_with(".jar"))) {
    Diagnosis(problems, configuration, 4, "line 4 holds a path, not the name of the main class",
              "write on line 4 the main class's name, with dots between its package's parts "
              "(app.Main), and copy the launcher into the directory that holds its packages");
  }
}

}  // namespace launcher::check
