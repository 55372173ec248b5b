// What the application's classes name that Java will not find: the classes a dry run never loads
// (it loads the main class alone), read from the class files themselves so that it works with a
// runtime that has no jdeps. What is named only by strings cannot be seen: reflection, service
// loading, method handles looked up by name.
//
// Bounded against a hostile tree (a launcher dropped into /, symbolic link loops, a million
// files): at most kMaxClassesRead classes and kMaxBytesRead bytes are read, only regular files are
// opened (never a FIFO or a device), and the class directory is looked at only along the packages
// the walk needs, never walked whole; ClassesBelow walks it, within its own bounds.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "check/classes/module_path.h"

namespace launcher::check {

struct MissingClass {
  std::string referenced;  // the class named, binary name with dots
  std::string by;          // an application class that names it
  // The module of the module path that holds its package but is not resolved: the module to add
  // on line 3. Empty when no unresolved module holds it: a class missing from a package of the
  // application (below class_dir, or in `in_module`).
  std::string module;
  // When `module` is empty: the resolved module of the path that holds the package but lacks the
  // class (a module of another version than the one compiled against); empty for a package below
  // class_dir.
  std::string in_module;
};

struct ReferenceScan {
  // One per module (the first reference found), then one per missing class in the application's
  // own packages, in the order found.
  std::vector<MissingClass> missing;
  // Class files the walk needed that are there but cannot be read or are not the class they
  // should be (Java fails on them as on a missing class), each with why, for a person.
  std::vector<std::string> unreadable;
  bool main_found = false;  // the main class was found (below class_dir or in a resolved module)
  std::string main_module;  // the resolved module it was found in; empty for class_dir
  std::size_t classes_read = 0;
  std::size_t bytes_read = 0;
  bool cut = false;  // the walk stopped at its bound
};

inline constexpr std::size_t kMaxClassesRead = 50000;
inline constexpr std::size_t kMaxBytesRead = 512 << 20;
inline constexpr std::size_t kMaxMissingClasses = 100;

// The walk's bounds: it stops (ReferenceScan::cut) before reading a class once either is reached.
struct WalkLimits {
  std::size_t classes = kMaxClassesRead;
  std::size_t bytes = kMaxBytesRead;
};

// From the main class (found as Java finds it: in the resolved module that holds its package, else
// below class_dir), follows references transitively through the application's own classes (below
// class_dir, and in the resolved modules of the module path; never into the runtime's modules). A
// reference is missing when its package is held by a module of the path that is not resolved and
// the class is not below class_dir either, or when its package is one of the application's own (a
// directory below class_dir that holds class files, or a resolved module's) but the class is not
// there. A reference from an explicit module into a module it does not read (one it requires
// static, an optional dependency) is not a fault of line 3 and is left out.
ReferenceScan FindMissingClasses(std::string_view class_dir, std::string_view main_class,
                                 const ModulePath& path, const std::set<std::string>& resolved,
                                 const WalkLimits& limits = {});

// The binary names of the classes below class_dir (for "did you mean"), sorted, at most `limit`.
// Directories that are not package names are passed over; symbolic links are followed, each
// directory once (by the first path to it in name order).
std::vector<std::string> ClassesBelow(std::string_view class_dir, std::size_t limit);

}  // namespace launcher::check
