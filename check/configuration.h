// The one description of what the check looks at, gathered once, in the order the launcher meets
// it: the launcher file, init.ini as the launcher reads it, the Java command line the launcher
// forms, the java it finds, the environment Java reads, Java's dry run, and the application's
// modules and classes read from their files. The rules (rules.h) and the rendering (render.h)
// only read it.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "check/classes/class_file.h"
#include "check/dry_run.h"
#include "check/classes/module_path.h"
#include "check/programs.h"
#include "check/classes/references.h"
#include "check/settings_file.h"
#include "launcher/java_command.h"
#include "platform/byte_string.h"

namespace launcher::check {

// The launcher file that LAUNCHER names.
struct LauncherFile {
  std::string given;     // as named on the command line
  ByteString path;       // its real path, links resolved: what the launcher learns of itself
  ByteString directory;  // the directory part of `path`: the class path without its final "/"
  std::string given_directory;  // the directory LAUNCHER names, as named ("." for "launcher")
  bool linked = false;          // LAUNCHER's directory, as named, is not the real one (a link)
  bool executable = false;
  ProgramFile program;
};

// The java the launcher would start.
struct JavaProgram {
  ByteString executable;  // the name the launcher forms from line 1 (line 1, then bin/java)
  bool found = false;     // the launcher's lookup finds it
  ByteString path;        // where it is found
  std::string real_path;  // `path` with its links resolved, empty when it cannot be
  int execute_error = 0;  // why it cannot be executed (no execute permission), 0 when it can
};

// The size of the command the launcher hands to Linux, which takes at most `limit` bytes of
// arguments and environment together (a quarter of the stack limit, between 128 kB and 6 MB) and
// at most `max_argument` bytes in one argument.
struct CommandSize {
  std::size_t total = 0;  // program name, arguments, environment, and a pointer for each
  std::size_t environment = 0;
  std::size_t limit = 0;
  std::size_t max_argument = 0;
  std::size_t longest = 0;  // the longest argument (as received: up to a NUL byte)
};

// The environment variables the check shows or reasons about.
struct Environment {
  std::optional<std::string> path;
  std::optional<std::string> java_home;
  std::optional<std::string> display;
  std::optional<std::string> wayland_display;
  // JDK_JAVA_OPTIONS, JAVA_TOOL_OPTIONS and _JAVA_OPTIONS, which java reads itself, where set.
  std::vector<std::pair<std::string, std::string>> java_options;
};

// The main class as its file below the launcher's directory shows it.
struct MainClassFile {
  enum class State { kNone, kAbsent, kUnreadable, kNotAClass, kRead };
  State state = State::kNone;  // kNone: line 4 names no class to look for
  std::string path;            // the file line 4 leads to below the launcher's directory
  std::string why;             // for kUnreadable: why, for a person
  bool directory = false;      // for kUnreadable: the path is a directory
  ClassFile content;           // for kRead
};

// What the check reads of the application's own files: the modules of line 2, those Java
// resolves for line 3, and the classes the application's classes name that Java will not find.
struct Application {
  bool analysed = false;  // init.ini was read, so there is an application to look at
  Runtime runtime;        // the Java that runs it, as far as its release file tells
  ModulePath module_path;
  std::vector<std::string> roots;  // line 3 split at its commas
  std::set<std::string> resolved;  // the modules of line 2 Java resolves for line 3
  ReferenceScan references;
  MainClassFile main_class;
  // module-info.class in the launcher's directory: the application's own module, whose classes
  // lie on the class path, not on the module path.
  std::optional<ModuleDescriptor> own_module;
  // The classes below the launcher's directory (looked for only when the main class is not found).
  std::vector<std::string> classes;
};

struct Configuration {
  std::string cwd;  // the working directory, where init.ini is read
  LauncherFile launcher;
  SettingsFile settings;
  JavaArguments arguments;  // the seven arguments the launcher hands to java
  JavaProgram java;
  CommandSize size;
  Environment environment;
  std::chrono::seconds timeout{};
  std::optional<DryRun> dry_run;  // Java's verdict, when Java was asked
  Application application;

  const ByteString& Value(int line) const {
    return settings.values[static_cast<std::size_t>(line - 1)];
  }
  // A value as the program started receives it: up to its first NUL byte.
  std::string_view Received(int line) const { return Value(line).c_str(); }
};

// The parts of the description, each gathered from the ones before it.
LauncherFile DescribeLauncher(const std::string& given, const ByteString& real_path);
void DescribeCommand(Configuration& configuration);  // arguments, java, size, environment
void DescribeApplication(Configuration& configuration);

// The command line of Java's dry run: the launcher's, with --dry-run before the main class.
std::vector<const char*> DryRunArguments(const Configuration& configuration);

}  // namespace launcher::check
