#include "check/classes/module_path.h"

#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <utility>

#include "check/classes/files.h"

namespace launcher::check {
namespace {

constexpr std::size_t kMaxManifestBytes = 1 << 20;
constexpr std::size_t kMaxServiceFileBytes = 64 << 10;
constexpr std::size_t kMaxServiceFiles = 256;
constexpr std::size_t kMaxReleaseBytes = 64 << 10;
constexpr std::string_view kModuleInfo = "module-info.class";
constexpr std::string_view kVersions = "META-INF/versions/";
constexpr std::string_view kServices = "META-INF/services/";
// Multi-release JARs have versioned entries from Java 9 on.
constexpr int kFirstRelease = 9;

bool IsAsciiAlphanumeric(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string_view FileName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The main section of a JAR manifest: attribute names in lower case (Java compares them so), a
// value continued on lines that start with a blank.
std::map<std::string, std::string> MainAttributes(std::string_view manifest) {
  std::map<std::string, std::string> attributes;
  std::string* last = nullptr;
  while (!manifest.empty()) {
    const std::size_t end = manifest.find_first_of("\r\n");
    const std::string_view line = manifest.substr(0, end);
    if (end == std::string_view::npos) {
      manifest = {};
    } else {
      manifest.remove_prefix(end + (manifest.substr(end, 2) == "\r\n" ? 2 : 1));
    }
    if (line.empty()) break;  // the end of the main section
    if (line[0] == ' ') {
      if (last) last->append(line.substr(1));
      continue;
    }
    const std::size_t colon = line.find(": ");
    if (colon == std::string_view::npos) {
      last = nullptr;
      continue;
    }
    last = &attributes[Lower(line.substr(0, colon))];
    *last = std::string(line.substr(colon + 2));
  }
  return attributes;
}

// The module name Java derives from a JAR's file name: without ".jar" and without a version
// ("-" then digits, then "." or the end) and what follows it; every character other than an
// ASCII letter or digit a dot, runs of dots one dot, no dot at either end.
std::string DerivedName(std::string_view file_name) {
  std::string_view base = file_name.substr(0, file_name.size() - 4);
  for (std::size_t dash = base.find('-'); dash != std::string_view::npos;
       dash = base.find('-', dash + 1)) {
    std::size_t digits = dash + 1;
    while (digits < base.size() && base[digits] >= '0' && base[digits] <= '9') ++digits;
    if (digits > dash + 1 && (digits == base.size() || base[digits] == '.')) {
      base = base.substr(0, dash);
      break;
    }
  }
  std::string name;
  for (const char c : base) {
    const char kept = IsAsciiAlphanumeric(c) ? c : '.';
    if (kept == '.' && (name.empty() || name.back() == '.')) continue;
    name += kept;
  }
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

// The release of a versioned entry "META-INF/versions/N/...", and the name without that prefix;
// 0 for any other entry.
int VersionOf(std::string_view entry, std::string_view& rest) {
  if (entry.substr(0, kVersions.size()) != kVersions) return 0;
  entry.remove_prefix(kVersions.size());
  const std::size_t slash = entry.find('/');
  if (slash == 0 || slash == std::string_view::npos || slash > 4) return 0;
  int release = 0;
  for (const char c : entry.substr(0, slash)) {
    if (c < '0' || c > '9') return 0;
    release = release * 10 + (c - '0');
  }
  rest = entry.substr(slash + 1);
  return release;
}

// The entry `name` of a JAR as Java reads it for `release`: the newest versioned one at or below
// it, else the base one.
const ZipEntry* FindVersioned(const ZipArchive& jar, std::string_view name, int release) {
  for (int version = release; version >= kFirstRelease; --version) {
    const std::string versioned =
        std::string(kVersions) + std::to_string(version) + "/" + std::string(name);
    if (const ZipEntry* entry = jar.Find(versioned)) return entry;
  }
  return jar.Find(name);
}

// The package of a file below a module's root ("app/util/Text.class": "app.util"); empty for a
// file at the root or one whose directory is no package name.
std::string PackageOfFile(std::string_view relative) {
  const std::size_t slash = relative.rfind('/');
  if (slash == std::string_view::npos) return {};
  std::string package(relative.substr(0, slash));
  std::replace(package.begin(), package.end(), '/', '.');
  return IsQualifiedName(package) ? package : std::string();
}

// What the scan of one module path may still read, across all its entries: entries of JARs, kept
// in memory to read classes from, and files looked at in exploded modules.
struct Budget {
  std::size_t jar_entries = kMaxJarEntries;
  std::size_t exploded_files = kMaxExplodedEntries;
};

// The services of an automatic module: each META-INF/services/S whose lines name a provider class
// of the module (at most kMaxServiceFiles of them are read).
void ReadServices(const ZipArchive& jar, ModuleDescriptor& descriptor) {
  std::size_t files = 0;
  for (const ZipEntry& entry : jar.entries()) {
    const std::string_view name = entry.name;
    if (name.substr(0, kServices.size()) != kServices) continue;
    const std::string_view service = name.substr(kServices.size());
    if (!IsQualifiedName(service) || ++files > kMaxServiceFiles) continue;
    std::string error;
    const std::optional<std::string> text = jar.Read(entry, error, kMaxServiceFileBytes);
    if (!text) continue;
    std::string_view lines = *text;
    while (!lines.empty()) {
      const std::size_t end = lines.find('\n');
      std::string_view line = lines.substr(0, end);
      lines = end == std::string_view::npos ? std::string_view() : lines.substr(end + 1);
      line = Trim(line.substr(0, line.find('#')));
      const std::string_view package = PackageOf(line);
      if (IsQualifiedName(line) && std::find(descriptor.packages.begin(), descriptor.packages.end(),
                                             package) != descriptor.packages.end()) {
        descriptor.provides.emplace_back(service);
        break;
      }
    }
  }
}

std::optional<Module> ReadJar(const std::string& path, const Runtime& runtime, Budget& budget,
                              std::string& error) {
  std::optional<ZipArchive> archive = ZipArchive::Open(path, error);
  if (!archive) return std::nullopt;
  if (archive->entries().size() > budget.jar_entries) {
    error = "not read: the JARs of the module path hold more than " +
            std::to_string(kMaxJarEntries) + " entries in all";
    return std::nullopt;
  }
  budget.jar_entries -= archive->entries().size();
  Module module;
  module.location = path;

  std::map<std::string, std::string> attributes;
  if (const ZipEntry* manifest = archive->Find("META-INF/MANIFEST.MF")) {
    const std::optional<std::string> text = archive->Read(*manifest, error, kMaxManifestBytes);
    if (!text) return std::nullopt;
    attributes = MainAttributes(*text);
  }
  if (Lower(attributes["multi-release"]) == "true") {
    // The runtime's release; when it is not known, the newest the JAR has.
    module.release = runtime.feature;
    if (module.release == 0) {
      for (const ZipEntry& entry : archive->entries()) {
        std::string_view rest;
        module.release = std::max(module.release, VersionOf(entry.name, rest));
      }
    }
    if (module.release < kFirstRelease) module.release = 0;
  }

  // The packages of the content: of every file, and of the class files alone (an automatic
  // module's); versioned entries count for the releases used.
  std::vector<std::string> packages;
  std::vector<std::string> class_packages;
  std::string top_level_class;
  for (const ZipEntry& entry : archive->entries()) {
    std::string_view name = entry.name;
    if (name.empty() || name.back() == '/') continue;
    std::string_view rest;
    const int version = VersionOf(name, rest);
    if (version != 0) {
      if (version < kFirstRelease || version > module.release) continue;
      name = rest;
    } else if (name.substr(0, 9) == "META-INF/") {
      continue;
    }
    const bool is_class = name.ends_with(".class");
    if (name.find('/') == std::string_view::npos) {
      if (is_class && name != kModuleInfo && top_level_class.empty()) top_level_class = name;
      continue;
    }
    std::string package = PackageOfFile(name);
    if (package.empty()) continue;
    if (is_class) class_packages.push_back(package);
    packages.push_back(std::move(package));
  }
  for (std::vector<std::string>* list : {&packages, &class_packages}) {
    std::sort(list->begin(), list->end());
    list->erase(std::unique(list->begin(), list->end()), list->end());
  }

  if (const ZipEntry* info = FindVersioned(*archive, kModuleInfo, module.release)) {
    const std::optional<std::string> bytes = archive->Read(*info, error);
    if (!bytes) return std::nullopt;
    std::optional<ModuleDescriptor> descriptor = ReadModuleInfo(*bytes);
    if (!descriptor) {
      error = "its module-info.class is not a module descriptor";
      return std::nullopt;
    }
    module.descriptor = std::move(*descriptor);
    if (module.descriptor.packages.empty()) module.descriptor.packages = std::move(packages);
  } else {
    module.automatic = true;
    ModuleDescriptor& descriptor = module.descriptor;
    const std::string& given = attributes["automatic-module-name"];
    descriptor.name = given.empty() ? DerivedName(FileName(path)) : given;
    if (!IsQualifiedName(descriptor.name)) {
      error = "no module name can be derived from it (\"" + descriptor.name +
              "\" is not a module name)";
      return std::nullopt;
    }
    if (!top_level_class.empty()) {
      error = top_level_class +
              " is in the top directory, a class of no package, which a module cannot hold";
      return std::nullopt;
    }
    descriptor.packages = std::move(class_packages);
    ReadServices(*archive, descriptor);
    const std::string& main_class = attributes["main-class"];
    if (IsQualifiedName(main_class) &&
        std::find(descriptor.packages.begin(), descriptor.packages.end(), PackageOf(main_class)) !=
            descriptor.packages.end()) {
      descriptor.main_class = main_class;
    }
  }
  module.jar = std::make_shared<const ZipArchive>(std::move(*archive));
  return module;
}

// The packages of an exploded module's files, walked within bounds (`files_left` is what the scan
// may still look at); `cut` says a bound was met.
std::vector<std::string> ExplodedPackages(const std::string& root, std::size_t& files_left,
                                          bool& cut) {
  std::vector<std::string> packages;
  std::vector<std::pair<std::string, int>> pending = {{"", 0}};  // relative directories, depth
  while (!pending.empty()) {
    const auto [relative, depth] = std::move(pending.back());
    pending.pop_back();
    bool listing_cut = false;
    int error = 0;
    const std::optional<std::vector<std::string>> names =
        ListDirectory(JoinPath(root, relative), files_left, listing_cut, error);
    if (!names) continue;
    cut = cut || listing_cut;
    files_left -= names->size();
    for (const std::string& name : *names) {
      const std::string child = relative.empty() ? name : relative + "/" + name;
      // Symbolic links are not followed and hidden files not counted, as Java does here.
      const PathStatus status = StatusOf(JoinPath(root, child), false);
      if (status.kind == PathKind::kDirectory) {
        if (depth + 1 < kMaxExplodedDepth) {
          pending.emplace_back(child, depth + 1);
        } else {
          cut = true;
        }
      } else if (status.kind == PathKind::kRegular && child != kModuleInfo && name[0] != '.') {
        std::string package = PackageOfFile(child);
        if (!package.empty()) packages.push_back(std::move(package));
      }
    }
    if (files_left == 0) {
      cut = cut || !pending.empty();
      break;
    }
  }
  std::sort(packages.begin(), packages.end());
  packages.erase(std::unique(packages.begin(), packages.end()), packages.end());
  return packages;
}

std::optional<Module> ReadExploded(const std::string& directory, Budget& budget, std::string& error,
                                   std::vector<std::string>& notes) {
  const std::optional<std::string> bytes =
      ReadRegularFile(JoinPath(directory, kModuleInfo), kZipMaxEntryBytes, error);
  if (!bytes) {
    error = std::string(kModuleInfo) + ": " + error;
    return std::nullopt;
  }
  std::optional<ModuleDescriptor> descriptor = ReadModuleInfo(*bytes);
  if (!descriptor) {
    error = "its module-info.class is not a module descriptor";
    return std::nullopt;
  }
  Module module;
  module.location = directory;
  module.descriptor = std::move(*descriptor);
  if (module.descriptor.packages.empty()) {
    bool cut = false;
    module.descriptor.packages = ExplodedPackages(directory, budget.exploded_files, cut);
    if (cut) {
      notes.push_back(directory + ": deeper than " + std::to_string(kMaxExplodedDepth) +
                      " levels of directories, or the module path's directories hold more than " +
                      std::to_string(kMaxExplodedEntries) +
                      " files in all; the packages of the rest are not known");
    }
  }
  return module;
}

bool IsExplodedModule(const std::string& directory) {
  return StatusOf(JoinPath(directory, kModuleInfo)).kind == PathKind::kRegular;
}

// Adds a module found on the path: shadowed by the runtime's module of its name, or passed over
// after an earlier module of its name.
void Add(ModulePath& path, Module module) {
  if (path.runtime.modules.count(module.descriptor.name)) {
    path.shadowed.push_back(std::move(module));
  } else if (!path.Find(module.descriptor.name)) {
    path.modules.push_back(std::move(module));
  }
}

// A directory of modules: its JARs and exploded modules, in name order (other files are passed
// over, as Java does). Two modules of one name in it stop Java.
void ScanDirectory(ModulePath& path, const std::string& directory, Budget& budget) {
  bool cut = false;
  int error = 0;
  std::optional<std::vector<std::string>> names =
      ListDirectory(directory, kMaxDirectoryEntries, cut, error);
  if (!names) {
    path.unreadable.push_back(directory + ": " + Describe(error));
    return;
  }
  if (cut) {
    path.unreadable.push_back(directory + ": more than " + std::to_string(kMaxDirectoryEntries) +
                              " entries; only the first are read");
  }
  std::sort(names->begin(), names->end());
  std::map<std::string, std::string> found;  // module name: its file's name
  for (const std::string& name : *names) {
    const std::string child = JoinPath(directory, name);
    const PathStatus status = StatusOf(child);
    std::string why;
    std::optional<Module> module;
    if (status.kind == PathKind::kDirectory) {
      if (!IsExplodedModule(child)) continue;
      module = ReadExploded(child, budget, why, path.unreadable);
    } else if (status.kind == PathKind::kRegular && name.ends_with(".jar")) {
      module = ReadJar(child, path.runtime, budget, why);
    } else if (status.kind == PathKind::kUnreadable) {
      why = Describe(status.error);
    } else {
      continue;
    }
    if (!module) {
      path.unreadable.push_back(child + ": " + why);
      continue;
    }
    const auto [earlier, first] = found.emplace(module->descriptor.name, name);
    if (!first) {
      path.unreadable.push_back(directory + ": two modules named " + module->descriptor.name +
                                " (" + earlier->second + " and " + name + "), which stops Java");
      continue;
    }
    Add(path, std::move(*module));
  }
}

void ScanEntry(ModulePath& path, const std::string& entry, Budget& budget) {
  const PathStatus status = StatusOf(entry);
  std::string why;
  std::optional<Module> module;
  switch (status.kind) {
    case PathKind::kMissing:
      return;  // Java passes over it without a word
    case PathKind::kUnreadable:
      why = Describe(status.error);
      break;
    case PathKind::kDirectory:
      if (!IsExplodedModule(entry)) return ScanDirectory(path, entry, budget);
      module = ReadExploded(entry, budget, why, path.unreadable);
      break;
    case PathKind::kRegular:
      if (entry.ends_with(".jar")) {
        module = ReadJar(entry, path.runtime, budget, why);
      } else {
        why = "neither a JAR nor a directory (Java stops: module format not recognized)";
      }
      break;
    case PathKind::kOther:
      why = "neither a JAR nor a directory (Java stops: module format not recognized)";
      break;
  }
  if (module) {
    Add(path, std::move(*module));
  } else {
    path.unreadable.push_back(entry + ": " + why);
  }
}

bool Contains(const std::vector<std::string>& list, std::string_view item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

Runtime ReadRuntime(std::string_view java_home) {
  Runtime runtime;
  std::string error;
  const std::optional<std::string> text =
      ReadRegularFile(JoinPath(java_home, "release"), kMaxReleaseBytes, error);
  if (!text) return runtime;
  std::string_view lines = *text;
  while (!lines.empty()) {
    const std::size_t end = lines.find('\n');
    const std::string_view line = Trim(lines.substr(0, end));
    lines = end == std::string_view::npos ? std::string_view() : lines.substr(end + 1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, equals);
    std::string_view value = line.substr(equals + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (key == "MODULES") {
      for (std::size_t start = 0; start < value.size();) {
        const std::size_t blank = std::min(value.find(' ', start), value.size());
        if (blank > start) runtime.modules.emplace(value.substr(start, blank - start));
        start = blank + 1;
      }
    } else if (key == "JAVA_VERSION") {
      // "17.0.9", "21", or the old "1.8.0_392".
      if (value.substr(0, 2) == "1.") value.remove_prefix(2);
      int feature = 0;
      for (std::size_t i = 0; i < value.size() && value[i] >= '0' && value[i] <= '9' && i < 4;
           ++i) {
        feature = feature * 10 + (value[i] - '0');
      }
      runtime.feature = feature;
    }
  }
  return runtime;
}

Runtime ReadRuntimeOf(std::string_view java) {
  char real[PATH_MAX];
  if (::realpath(std::string(java).c_str(), real) == nullptr) return {};
  const std::string_view path = real;
  constexpr std::string_view kProgram = "/bin/java";
  if (!path.ends_with(kProgram)) return {};
  return ReadRuntime(path.substr(0, path.size() - kProgram.size()));
}

const Module* ModulePath::Find(std::string_view name) const {
  for (const Module& module : modules) {
    if (module.descriptor.name == name) return &module;
  }
  return nullptr;
}

const Module* ModulePath::OfPackage(std::string_view package) const {
  for (const Module& module : modules) {
    if (Contains(module.descriptor.packages, package)) return &module;
  }
  return nullptr;
}

bool ModulePath::Holds(const Module& module, std::string_view class_name) const {
  if (!IsBinaryName(class_name)) return false;
  const std::string relative = ClassFilePath("", class_name);
  if (module.jar) return FindVersioned(*module.jar, relative, module.release) != nullptr;
  return StatusOf(JoinPath(module.location, relative)).kind == PathKind::kRegular;
}

std::optional<std::string> ModulePath::ReadClass(const Module& module,
                                                 std::string_view class_name) const {
  if (!IsBinaryName(class_name)) return std::nullopt;
  const std::string relative = ClassFilePath("", class_name);
  std::string error;
  if (module.jar) {
    const ZipEntry* entry = FindVersioned(*module.jar, relative, module.release);
    if (!entry) return std::nullopt;
    return module.jar->Read(*entry, error);
  }
  return ReadRegularFile(JoinPath(module.location, relative), kZipMaxEntryBytes, error);
}

ModulePath ScanModulePath(std::string_view module_path, const Runtime& runtime) {
  ModulePath path;
  path.runtime = runtime;
  Budget budget;
  std::size_t entries = 0;
  for (std::size_t start = 0; start <= module_path.size();) {
    const std::size_t colon = std::min(module_path.find(':', start), module_path.size());
    const std::string_view entry = module_path.substr(start, colon - start);
    start = colon + 1;
    if (entry.empty()) continue;  // Java passes over an empty entry
    if (++entries > kMaxPathEntries) {
      path.unreadable.push_back("the module path: more than " + std::to_string(kMaxPathEntries) +
                                " entries; only the first are read");
      break;
    }
    ScanEntry(path, std::string(entry), budget);
  }
  return path;
}

std::set<std::string> ResolvedModules(const ModulePath& path,
                                      const std::vector<std::string>& roots) {
  std::set<std::string> resolved;
  std::vector<const Module*> pending;
  const auto add = [&](const Module* module) {
    if (module && resolved.insert(module->descriptor.name).second) pending.push_back(module);
  };
  for (const std::string& list : roots) {
    for (std::size_t start = 0; start <= list.size();) {
      const std::size_t comma = std::min(list.find(',', start), list.size());
      const std::string_view root = std::string_view(list).substr(start, comma - start);
      start = comma + 1;
      if (root == "ALL-MODULE-PATH") {
        for (const Module& module : path.modules) add(&module);
      } else {
        add(path.Find(root));  // ALL-DEFAULT and ALL-SYSTEM name the runtime's modules only
      }
    }
  }
  // A provider of a service of the runtime (its package held by no module of the path) is bound
  // when a module of the runtime uses the service; which ones do is not known here.
  for (const Module& module : path.modules) {
    for (const std::string& service : module.descriptor.provides) {
      if (!path.OfPackage(PackageOf(service))) add(&module);
    }
  }
  bool automatic_resolved = false;
  while (!pending.empty()) {
    const Module* module = pending.back();
    pending.pop_back();
    for (const std::string& required : module->descriptor.required) {
      if (!Contains(module->descriptor.required_static, required)) add(path.Find(required));
    }
    if (module->automatic && !automatic_resolved) {
      automatic_resolved = true;
      for (const Module& other : path.modules) {
        if (other.automatic) add(&other);
      }
    }
    for (const std::string& service : module->descriptor.uses) {
      for (const Module& other : path.modules) {
        if (Contains(other.descriptor.provides, service)) add(&other);
      }
    }
  }
  return resolved;
}

}  // namespace launcher::check
