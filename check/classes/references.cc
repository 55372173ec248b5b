#include "check/classes/references.h"

#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <utility>

#include "check/classes/class_file.h"
#include "check/classes/files.h"

namespace launcher::check {
namespace {

// At most this many names of a package directory are looked at to learn whether it holds class
// files; at most this many entries and levels are walked by ClassesBelow.
constexpr std::size_t kMaxPackageProbe = 4096;
constexpr std::size_t kMaxListedEntries = 200000;
constexpr int kMaxClassDepth = 32;

// Where Java finds a class of the application, as the walk sees it.
struct Location {
  enum class Kind {
    kResolvedModule,    // in `module`, a resolved module of the path
    kClassDirectory,    // below the class directory
    kMissingInModule,   // its package is `module`'s, a resolved module, which lacks it
    kUnresolvedModule,  // its package is `module`'s, which is not resolved
    kMissingHere,       // its package is one of the class directory's, which lacks it
    kElsewhere,         // the runtime's, or nowhere the check can see
  };
  Kind kind = Kind::kElsewhere;
  const Module* module = nullptr;
};

// A class to read: its name, where it lies (a resolved module, or null for the class directory).
struct Pending {
  std::string name;
  const Module* module = nullptr;
};

class Walk {
 public:
  Walk(std::string_view class_dir, const ModulePath& path, const std::set<std::string>& resolved,
       const WalkLimits& limits)
      : class_dir_(class_dir), path_(path), resolved_(resolved), limits_(limits) {}

  ReferenceScan Run(std::string_view main_class) {
    if (!IsBinaryName(main_class)) return std::move(scan_);
    const Location main = Locate(main_class);
    if (main.kind != Location::Kind::kResolvedModule &&
        main.kind != Location::Kind::kClassDirectory) {
      return std::move(scan_);
    }
    scan_.main_found = true;
    if (main.module) scan_.main_module = main.module->descriptor.name;
    decided_.emplace(main_class);
    pending_.push_back({std::string(main_class), main.module});
    while (!pending_.empty()) {
      if (scan_.classes_read >= limits_.classes || scan_.bytes_read >= limits_.bytes) {
        scan_.cut = true;
        break;
      }
      Pending next = std::move(pending_.front());
      pending_.pop_front();
      Visit(next);
    }
    scan_.missing.insert(scan_.missing.end(), std::make_move_iterator(missing_here_.begin()),
                         std::make_move_iterator(missing_here_.end()));
    return std::move(scan_);
  }

 private:
  // What the walk knows of a package, learnt once: the module of the path that holds it (the
  // resolved one, else the first), and whether the class directory has a directory for it and
  // class files in that.
  struct Package {
    const Module* holder = nullptr;
    bool resolved = false;
    bool directory = false;
    std::optional<bool> own;
  };

  Package& Learn(const std::string& name) {
    const auto known = packages_.find(name);
    if (known != packages_.end()) return known->second;
    Package package;
    for (const Module& module : path_.modules) {
      const std::vector<std::string>& held = module.descriptor.packages;
      if (std::find(held.begin(), held.end(), name) == held.end()) continue;
      if (resolved_.count(module.descriptor.name)) {
        package.holder = &module;
        package.resolved = true;
        break;
      }
      if (!package.holder) package.holder = &module;
    }
    package.directory = StatusOf(PackageDirectory(name)).kind == PathKind::kDirectory;
    return packages_.emplace(name, package).first->second;
  }

  std::string PackageDirectory(const std::string& package) const {
    return package.empty() ? std::string(class_dir_) : JoinPath(class_dir_, PackagePath(package));
  }

  // Whether the package's directory below the class directory holds a class file.
  bool IsOwn(const std::string& name, Package& package) {
    if (!package.directory) return false;
    if (!package.own) {
      const std::string directory = PackageDirectory(name);
      bool cut = false;
      int error = 0;
      const std::optional<std::vector<std::string>> names =
          ListDirectory(directory, kMaxPackageProbe, cut, error);
      package.own =
          names && std::any_of(names->begin(), names->end(), [&](const std::string& file) {
            return file.ends_with(".class") &&
                   StatusOf(JoinPath(directory, file)).kind == PathKind::kRegular;
          });
    }
    return *package.own;
  }

  std::string ClassDirectoryFile(std::string_view class_name) const {
    return ClassFilePath(class_dir_, class_name);
  }

  // Where Java finds the class: the resolved module of its package, else the class path, and
  // when neither has it, why not.
  Location Locate(std::string_view class_name) {
    const std::string name(PackageOf(class_name));
    Package& package = Learn(name);
    if (package.resolved) {
      return {path_.Holds(*package.holder, class_name) ? Location::Kind::kResolvedModule
                                                       : Location::Kind::kMissingInModule,
              package.holder};
    }
    if (package.directory && StatusOf(ClassDirectoryFile(class_name)).kind == PathKind::kRegular) {
      return {Location::Kind::kClassDirectory, nullptr};
    }
    if (package.holder) return {Location::Kind::kUnresolvedModule, package.holder};
    if (IsOwn(name, package)) return {Location::Kind::kMissingHere, nullptr};
    return {Location::Kind::kElsewhere, nullptr};
  }

  void Visit(const Pending& current) {
    std::string error;
    std::optional<std::string> bytes =
        current.module
            ? path_.ReadClass(*current.module, current.name)
            : ReadRegularFile(ClassDirectoryFile(current.name), kZipMaxEntryBytes, error);
    const std::string where =
        current.module ? current.module->location : ClassDirectoryFile(current.name);
    if (!bytes) {
      scan_.unreadable.push_back(current.name + " (" + where +
                                 "): " + (error.empty() ? "cannot be read" : error));
      return;
    }
    ++scan_.classes_read;
    scan_.bytes_read += bytes->size();
    const std::optional<ClassFile> file = ReadClassFile(*bytes);
    if (!file) {
      scan_.unreadable.push_back(current.name + " (" + where + "): not a class file");
      return;
    }
    if (file->name != current.name) {
      scan_.unreadable.push_back(current.name + " (" + where + "): holds the class " + file->name +
                                 " instead");
      return;
    }
    // A class of an explicit module reads only the modules it requires (not the class path);
    // one of the class directory or of an automatic module reads every module.
    const bool explicit_module = current.module && !current.module->automatic;
    for (const std::string& reference : file->references) {
      if (!decided_.insert(reference).second) continue;
      const Location location = Locate(reference);
      using Kind = Location::Kind;
      if (explicit_module && location.kind != Kind::kResolvedModule &&
          location.kind != Kind::kMissingInModule) {
        // Not a fault of the configuration: an optional dependency (requires static) or none.
        // The class directory's own classes may still name it.
        decided_.erase(reference);
        continue;
      }
      switch (location.kind) {
        case Kind::kResolvedModule:
          pending_.push_back({reference, location.module});
          break;
        case Kind::kClassDirectory:
          pending_.push_back({reference, nullptr});
          break;
        case Kind::kMissingInModule:
          AddMissingHere(reference, current.name, location.module->descriptor.name);
          break;
        case Kind::kUnresolvedModule:
          if (modules_reported_.insert(location.module->descriptor.name).second) {
            scan_.missing.push_back(
                {reference, current.name, location.module->descriptor.name, {}});
          }
          break;
        case Kind::kMissingHere:
          AddMissingHere(reference, current.name, {});
          break;
        case Kind::kElsewhere:
          break;
      }
    }
  }

  void AddMissingHere(const std::string& reference, const std::string& by,
                      const std::string& in_module) {
    if (missing_here_.size() < kMaxMissingClasses) {
      missing_here_.push_back({reference, by, {}, in_module});
    }
  }

  std::string_view class_dir_;
  const ModulePath& path_;
  const std::set<std::string>& resolved_;
  const WalkLimits limits_;
  ReferenceScan scan_;
  std::deque<Pending> pending_;
  std::set<std::string> decided_;           // classes looked at already
  std::set<std::string> modules_reported_;  // unresolved modules named in `scan_.missing`
  std::map<std::string, Package> packages_;
  std::vector<MissingClass> missing_here_;  // classes missing from the application's packages
};

// ClassesBelow's walk: each directory once (a symbolic link may lead back), within bounds.
struct Lister {
  std::size_t limit;
  std::vector<std::string> found;
  std::set<std::pair<dev_t, ino_t>> visited;
  std::size_t entries = 0;

  void Walk(const std::string& directory, const std::string& package, int depth) {
    bool cut = false;
    int error = 0;
    std::optional<std::vector<std::string>> names =
        ListDirectory(directory, kMaxListedEntries - entries, cut, error);
    if (!names) return;
    entries += names->size();
    std::sort(names->begin(), names->end());  // the same names whatever the system's order
    for (const std::string& name : *names) {
      if (found.size() >= limit) return;
      const std::string child = JoinPath(directory, name);
      if (name.ends_with(".class")) {
        const std::string simple = name.substr(0, name.size() - 6);
        const std::string binary = package.empty() ? simple : package + "." + simple;
        if (IsQualifiedName(binary) && StatusOf(child).kind == PathKind::kRegular) {
          found.push_back(binary);
        }
        continue;
      }
      if (depth >= kMaxClassDepth || entries >= kMaxListedEntries) continue;
      const std::string subpackage = package.empty() ? name : package + "." + name;
      if (!IsQualifiedName(subpackage)) continue;
      const PathStatus status = StatusOf(child);
      if (status.kind != PathKind::kDirectory) continue;
      if (!visited.emplace(status.device, status.inode).second) continue;
      Walk(child, subpackage, depth + 1);
    }
  }
};

}  // namespace

ReferenceScan FindMissingClasses(std::string_view class_dir, std::string_view main_class,
                                 const ModulePath& path, const std::set<std::string>& resolved,
                                 const WalkLimits& limits) {
  return Walk(class_dir, path, resolved, limits).Run(main_class);
}

std::vector<std::string> ClassesBelow(std::string_view class_dir, std::size_t limit) {
  Lister lister{limit, {}, {}, 0};
  const std::string root(class_dir);
  const PathStatus status = StatusOf(root);
  if (status.kind != PathKind::kDirectory) return {};
  lister.visited.emplace(status.device, status.inode);
  lister.Walk(root, "", 0);
  std::sort(lister.found.begin(), lister.found.end());
  return lister.found;
}

}  // namespace launcher::check
