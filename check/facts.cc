#include "check/facts.h"

#include <sys/stat.h>

#include <algorithm>

#include "check/classes/files.h"
#include "check/programs.h"
#include "check/suggest.h"
#include "check/text.h"
#include "platform/syscall.h"

namespace launcher::check {
namespace {

constexpr std::string_view kAllNames[] = {"ALL-MODULE-PATH", "ALL-DEFAULT", "ALL-SYSTEM"};

bool Blank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view value) {
  while (!value.empty() && Blank(value.front())) value.remove_prefix(1);
  while (!value.empty() && Blank(value.back())) value.remove_suffix(1);
  return value;
}

}  // namespace

std::string InstalledJavasHint() {
  const std::vector<std::string> found = InstalledJavas();
  if (found.empty()) return "";
  std::string hint = "; Java installations on this machine: ";
  for (std::size_t i = 0; i < found.size(); ++i) hint += (i ? ", " : "") + ShellWord(found[i]);
  return hint;
}

bool ValuesKnown(const Configuration& configuration) {
  return SettingsReadToAnEnd(configuration.settings);
}

bool NothingRead(const Configuration& configuration) {
  const SettingsFile& settings = configuration.settings;
  if (!ValuesKnown(configuration)) return false;
  if (settings.kind == FileKind::kMissing || settings.kind == FileKind::kDanglingLink ||
      settings.kind == FileKind::kUnreachable) {
    return true;
  }
  return settings.error != 0 && (settings.failed_line == 0 || settings.failed_line == 1) &&
         settings.values[0].empty();
}

std::vector<std::string> LineTopics(const Configuration& configuration, int line) {
  std::vector<std::string> topics = {"empty line " + std::to_string(line)};
  switch (line) {
    case 1:
      topics.insert(topics.end(), {"java home", "java start", "class version", "java version"});
      break;
    case 2:
      topics.push_back("module path entries");
      [[fallthrough]];
    case 3:
      topics.push_back("boot layer");
      for (const std::string& root : configuration.application.roots)
        topics.push_back("module " + root);
      for (const MissingClass& missing : configuration.application.references.missing) {
        topics.push_back("class " + missing.referenced);
        if (!missing.module.empty()) topics.push_back("module " + missing.module);
      }
      topics.push_back("javafx");
      break;
    default:
      topics.push_back("main class");
      break;
  }
  return topics;
}

std::string MainClassName(const Configuration& configuration) {
  std::string name(configuration.Received(4));
  std::replace(name.begin(), name.end(), '/', '.');
  return name;
}

std::vector<std::string> UnknownRoots(const Configuration& configuration) {
  const Application& application = configuration.application;
  std::vector<std::string> unknown;
  if (!application.analysed || application.runtime.modules.empty()) return unknown;
  for (const std::string& root : application.roots) {
    if (std::find(std::begin(kAllNames), std::end(kAllNames), root) != std::end(kAllNames))
      continue;
    if (application.module_path.Find(root) != nullptr ||
        application.runtime.modules.contains(root)) {
      continue;
    }
    unknown.push_back(root);
  }
  return unknown;
}

std::optional<std::string> ClosestModule(const Configuration& configuration,
                                         std::string_view root) {
  const Application& application = configuration.application;
  std::vector<std::string> names(application.runtime.modules.begin(),
                                 application.runtime.modules.end());
  for (const Module& module : application.module_path.modules)
    names.push_back(module.descriptor.name);
  return Closest(Trimmed(root) == root ? root : Trimmed(root), names);
}

bool ModulePathEntryMissing(const Configuration& configuration) {
  std::string_view rest = configuration.Received(2);
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string entry(rest.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    struct stat status {};
    if (!entry.empty() && !Sys([&] { return ::stat(entry.c_str(), &status); }).Ok()) return true;
  }
  return false;
}

std::string Line3With(const Configuration& configuration, std::string_view module) {
  std::string line;
  for (const std::string& root : configuration.application.roots) {
    if (!line.empty()) line += ',';
    line += Trimmed(root);
  }
  if (!line.empty()) line += ',';
  line += module;
  return line;
}

std::string Line3Without(const Configuration& configuration, std::string_view module) {
  std::string line;
  for (const std::string& root : configuration.application.roots) {
    if (Trimmed(root) == module) continue;
    if (!line.empty()) line += ',';
    line += Trimmed(root);
  }
  return line;
}

bool IsComment(std::string_view value) {
  const std::string_view trimmed = Trimmed(value);
  return trimmed.starts_with('#') || trimmed.starts_with(';') || trimmed.starts_with("//");
}

bool IsSectionHeader(std::string_view value) {
  const std::string_view trimmed = Trimmed(value);
  return trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']' &&
         trimmed.find(']') == trimmed.size() - 1;
}

std::optional<std::string> ValueOfKey(std::string_view value) {
  const std::string_view trimmed = Trimmed(value);
  const std::size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos || equals == 0) return std::nullopt;
  const std::string_view key = Trimmed(trimmed.substr(0, equals));
  if (key.empty()) return std::nullopt;
  for (const char c : key) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
    if (!allowed) return std::nullopt;
  }
  return std::string(Trimmed(trimmed.substr(equals + 1)));
}

}  // namespace launcher::check
