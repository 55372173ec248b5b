// The modules on a module path (line 2 of init.ini) as Java finds them, and the ones Java resolves
// for the modules named on line 3.
//
// How Java runs the launcher's command: the main class is loaded from the class path (the
// launcher's directory) into the unnamed module, which reads every resolved module. Every module
// of the runtime that exports an API is a default root, so the runtime's modules (the JDK's, and
// those a jlink'ed runtime holds) are always resolved; a module of the module path is resolved only
// when line 3 names it, a resolved module requires it, it provides a service that a resolved
// module uses, or it is automatic and another automatic module is resolved. A module of the path
// whose name a module of the runtime has is not used at all: Java takes the runtime's.
//
// Bounded against a hostile path: at most kMaxPathEntries entries of the path and
// kMaxDirectoryEntries entries of each directory of modules are read; the JARs read hold at most
// kMaxJarEntries entries in all (each within the bounds of ZipArchive), and the exploded modules
// whose packages are not recorded in their descriptor kMaxExplodedEntries files in all, at a depth
// of at most kMaxExplodedDepth. What is cut is said in `unreadable`.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "check/classes/class_file.h"
#include "check/classes/zip_archive.h"

namespace launcher::check {

struct Module {
  // For an automatic module (a JAR without module-info.class): the name from its manifest's
  // Automatic-Module-Name, or derived from the JAR's file name as Java derives it; requires
  // nothing known; its packages from its content; its services from META-INF/services; its main
  // class from the manifest's Main-Class.
  ModuleDescriptor descriptor;
  std::string location;  // the directory (exploded module) or the JAR file, as found on the path
  bool automatic = false;
  // For a JAR, its central directory, kept to read classes from it; null for an exploded module.
  std::shared_ptr<const ZipArchive> jar;
  // For a multi-release JAR, the Java feature version whose META-INF/versions/N entries are used
  // (the runtime's, see Runtime); 0 for any other module.
  int release = 0;
};

// What the check knows of the Java runtime that runs the application: the names of its own
// modules and its feature version, from its `release` file (the JDK's and jlink's write one).
struct Runtime {
  std::set<std::string> modules;  // empty when unknown
  int feature = 0;                // 17 for Java 17.0.9; 0 when unknown (then the newest is taken)
};

// The runtime whose home directory is `java_home` (the directory of bin/java); what its `release`
// file does not say stays unknown.
Runtime ReadRuntime(std::string_view java_home);
// The runtime of the program `java` (a path, such as /usr/bin/java, whose symbolic links lead to
// HOME/bin/java): the runtime of HOME. Unknown when the program's real path does not end in
// bin/java.
Runtime ReadRuntimeOf(std::string_view java);

struct ModulePath {
  std::vector<Module> modules;  // in path order; the first module of a name wins, as in Java
  std::vector<std::string>
      unreadable;  // entries that could not be read, each with why, for a person
  // Modules of the path that Java does not use because a module of the runtime has their name.
  std::vector<Module> shadowed;
  Runtime runtime;  // as given to ScanModulePath

  const Module* Find(std::string_view name) const;
  // The module that holds the package (the first in path order), or null.
  const Module* OfPackage(std::string_view package) const;
  // Whether `module` has a file for the class `class_name` (binary name with dots).
  bool Holds(const Module& module, std::string_view class_name) const;
  // The bytes of the class `class_name` (binary name with dots) in `module`, or nullopt when it is
  // not there or cannot be read.
  std::optional<std::string> ReadClass(const Module& module, std::string_view class_name) const;
};

inline constexpr std::size_t kMaxPathEntries = 1024;
inline constexpr std::size_t kMaxDirectoryEntries = 4096;
inline constexpr std::size_t kMaxJarEntries = 1 << 20;
inline constexpr std::size_t kMaxExplodedEntries = 200000;
inline constexpr int kMaxExplodedDepth = 64;

// Entries separated by ':', relative ones from the working directory; each entry a directory of
// modules (exploded module directories and JARs), an exploded module (a directory with
// module-info.class), or a JAR. An entry that does not exist is passed over, as Java does.
ModulePath ScanModulePath(std::string_view module_path, const Runtime& runtime = {});

// The names of the modules of `path` that Java resolves for the roots named on line 3 (each
// element of `roots` split at commas; ALL-MODULE-PATH, ALL-DEFAULT and ALL-SYSTEM understood): the
// roots, what they require transitively (not `requires static`), every automatic module once one is
// resolved, and the modules that provide a service a resolved module uses. A module of the path
// that provides a service of the runtime (one no module of the path holds) counts as resolved too:
// Java binds it when a module of the runtime uses the service, which cannot be seen from here, and
// counting it can only hide a problem, never invent one. Names not on the path, and the runtime's
// modules, are left out.
std::set<std::string> ResolvedModules(const ModulePath& path,
                                      const std::vector<std::string>& roots);

}  // namespace launcher::check
