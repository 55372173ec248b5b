// Java class files read from their bytes: the class's name, the classes it names, whether it has a
// main method, and module descriptors (module-info.class). The bytes may come from anywhere (a
// JAR of the module path, a directory anyone could write to), so every length, count and index is
// checked against the bytes and the constant pool before it is used: a truncated or hostile class
// file gives nullopt, never a crash, a read outside the bytes or an allocation larger than a
// fixed multiple of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher::check {

struct ClassFile {
  // Binary name with dots: app.Main (nested: app.Main$Inner).
  std::string name;
  std::uint16_t major_version = 0;
  // Every other class it names: the classes of its constant pool and the classes in the
  // descriptors of its fields and methods and of the fields, methods and method types it uses.
  // Binary names with dots, sorted, unique; no arrays (their element class instead) or
  // primitives. Generic signatures and annotations are left out: a class named only there is
  // erased or skipped by Java and never has to be loaded.
  std::vector<std::string> references;
  // A public static void main(String[]).
  bool has_main = false;
};

// The class file `bytes`, or nullopt when it is not one (bad magic, truncated, an index out of
// range or to a constant of the wrong kind, a name that is not a class name).
std::optional<ClassFile> ReadClassFile(std::string_view bytes);

// A module-info.class.
struct ModuleDescriptor {
  std::string name;
  bool open = false;
  // The modules it requires (java.base included), in the file's order. (Not `requires`, which
  // is a keyword of C++20.)
  std::vector<std::string> required;
  // Those of `required` that are `requires static`: needed at compile time only, and not
  // resolved for this module at run time.
  std::vector<std::string> required_static;
  // The packages it exports to every module (binary names with dots; a qualified export is
  // left out).
  std::vector<std::string> exports;
  // Its ModulePackages attribute where present (else filled by the caller from the content).
  std::vector<std::string> packages;
  std::vector<std::string> uses;      // service names
  std::vector<std::string> provides;  // service names
  std::string main_class;             // its ModuleMainClass, or empty
};

// The module descriptor `bytes`, or nullopt when it is not one (not a class file, no Module
// attribute, an index out of range).
std::optional<ModuleDescriptor> ReadModuleInfo(std::string_view bytes);

// Whether `name` is a binary class or package name with dots: segments that are not empty and
// hold none of . ; [ / and no NUL. (An empty package name, the unnamed package, is not one.)
bool IsBinaryName(std::string_view name);

// Whether `name` is a module or package name: Java identifiers (no digit first; letters, digits, _
// and $; not a reserved word) separated by dots.
bool IsQualifiedName(std::string_view name);

// The package of the binary class name `class_name`: everything before its last dot, or empty for
// a class of the unnamed package.
std::string_view PackageOf(std::string_view class_name);

}  // namespace launcher::check
