#include "check/configuration.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "check/classes/files.h"
#include "check/classes/zip_archive.h"
#include "platform/descriptor.h"
#include "platform/own_path.h"
#include "platform/process.h"
#include "platform/syscall.h"

extern "C" char** environ;

namespace launcher::check {
namespace {

// The environment variables from which java takes options of its own.
constexpr std::array<const char*, 3> kJavaOptionVariables = {"JDK_JAVA_OPTIONS",
                                                             "JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"};

// The largest class file the check reads, as the largest entry of a JAR.
constexpr std::size_t kMaxClassFileBytes = kZipMaxEntryBytes;

// How many classes below the launcher's directory are looked at for "did you mean".
constexpr std::size_t kMaxClassesListed = 20000;

std::optional<std::string> Variable(const char* name) {
  const char* value = getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string RealPath(const char* path) {
  char real[PATH_MAX];
  return realpath(path, real) != nullptr ? std::string(real) : std::string();
}

// Linux's bounds on what one execve hands over (fs/exec.c): one argument of at most 32 pages, its
// terminating zero included; all strings and their pointers together within a quarter of the
// stack limit, but at least 32 pages and at most three quarters of 8 MiB.
std::size_t PageSize() {
  const long page = sysconf(_SC_PAGESIZE);
  return static_cast<std::size_t>(page > 0 ? page : 4096);
}

std::size_t ArgumentsLimit() {
  constexpr std::size_t kStackDefault = 8 << 20;
  rlimit stack{};
  std::size_t limit = kStackDefault / 4 * 3;
  if (Sys([&] { return ::getrlimit(RLIMIT_STACK, &stack); }).Ok() &&
      stack.rlim_cur != RLIM_INFINITY) {
    limit = std::min<std::size_t>(limit, stack.rlim_cur / 4);
  }
  return std::max(limit, PageSize() * 32);
}

CommandSize SizeOf(const Configuration& configuration) {
  CommandSize size;
  size.limit = ArgumentsLimit();
  size.max_argument = PageSize() * 32 - 1;
  std::size_t pointers = 1 + configuration.arguments.size();  // argument 0, then the seven
  size.total = configuration.java.path.view().size() + 1 +
               std::string_view(configuration.java.executable.c_str()).size() + 1;
  for (const ByteString& argument : configuration.arguments) {
    const std::size_t length = std::string_view(argument.c_str()).size();
    size.total += length + 1;
    size.longest = std::max(size.longest, length);
  }
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    size.environment += std::string_view(*entry).size() + 1;
    ++pointers;
  }
  size.total += size.environment + pointers * sizeof(char*);
  return size;
}

MainClassFile ReadMainClassFile(const Configuration& configuration, std::string_view name) {
  MainClassFile file;
  if (name.empty()) return file;
  // Java takes a/b/Main as a.b.Main; a class's file lies in its package's directories.
  file.path = ClassFilePath(configuration.launcher.directory.view(), name);
  const PathStatus status = StatusOf(file.path);
  if (status.kind == PathKind::kMissing ||
      (status.kind == PathKind::kUnreadable && status.error == ENOTDIR)) {
    file.state = MainClassFile::State::kAbsent;
    return file;
  }
  file.state = MainClassFile::State::kUnreadable;
  if (status.kind == PathKind::kDirectory) {
    file.directory = true;
    file.why = Describe(EISDIR);
    return file;
  }
  const std::optional<std::string> bytes = ReadRegularFile(file.path, kMaxClassFileBytes, file.why);
  if (!bytes) return file;
  std::optional<ClassFile> content = ReadClassFile(*bytes);
  file.state = content ? MainClassFile::State::kRead : MainClassFile::State::kNotAClass;
  if (content) file.content = std::move(*content);
  return file;
}

std::optional<ModuleDescriptor> ReadOwnModule(const Configuration& configuration) {
  std::string why;
  const std::optional<std::string> bytes =
      ReadRegularFile(std::string(configuration.launcher.directory.view()) + "module-info.class",
                      kMaxClassFileBytes, why);
  return bytes ? ReadModuleInfo(*bytes) : std::nullopt;
}

}  // namespace

LauncherFile DescribeLauncher(const std::string& given, const ByteString& real_path) {
  LauncherFile launcher;
  launcher.given = given;
  launcher.path = real_path;
  launcher.directory = DirectoryPart(real_path);
  const std::size_t slash = given.rfind('/');
  launcher.given_directory = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : given.substr(0, slash);
  std::string real_directory(launcher.directory.view());
  if (real_directory.size() > 1) real_directory.pop_back();
  const std::string given_real = RealPath(launcher.given_directory.c_str());
  launcher.linked = !given_real.empty() && given_real != real_directory;
  launcher.executable = Sys([&] { return ::access(given.c_str(), X_OK); }).Ok();
  launcher.program = IdentifyProgram(given.c_str());
  return launcher;
}

void DescribeCommand(Configuration& configuration) {
  const SettingsFile& settings = configuration.settings;
  ByteString home = settings.values[0];
  JavaProgram& java = configuration.java;
  java.executable = JavaExecutableFor(home);
  configuration.arguments = JavaArgumentsFor(settings.values[1], settings.values[2],
                                             configuration.launcher.directory, settings.values[3]);
  if (SettingsReadToAnEnd(settings)) {
    // The launcher's own lookup: it finds nothing for a name that holds a NUL byte.
    java.found = FindProgram(java.executable.view(), java.path);
  }
  if (java.found) {
    java.execute_error = Sys([&] { return ::access(java.path.c_str(), X_OK); }).error;
    java.real_path = RealPath(java.path.c_str());
  }
  configuration.size = SizeOf(configuration);
  Environment& environment = configuration.environment;
  environment.path = Variable("PATH");
  environment.java_home = Variable("JAVA_HOME");
  environment.display = Variable("DISPLAY");
  environment.wayland_display = Variable("WAYLAND_DISPLAY");
  for (const char* name : kJavaOptionVariables) {
    if (std::optional<std::string> value = Variable(name)) {
      environment.java_options.emplace_back(name, std::move(*value));
    }
  }
}

void DescribeApplication(Configuration& configuration) {
  Application& application = configuration.application;
  if (!SettingsReadToAnEnd(configuration.settings)) return;
  application.analysed = true;
  if (configuration.java.found) application.runtime = ReadRuntimeOf(configuration.java.path.view());
  application.module_path = ScanModulePath(configuration.Received(2), application.runtime);
  const std::string_view roots = configuration.Received(3);
  for (std::size_t at = 0; at <= roots.size();) {
    const std::size_t comma = std::min(roots.find(',', at), roots.size());
    if (comma > at) application.roots.emplace_back(roots.substr(at, comma - at));
    at = comma + 1;
  }
  application.resolved = ResolvedModules(application.module_path, {std::string(roots)});
  application.own_module = ReadOwnModule(configuration);

  std::string main_class(configuration.Received(4));
  std::replace(main_class.begin(), main_class.end(), '/', '.');
  application.main_class = ReadMainClassFile(configuration, main_class);
  if (!IsBinaryName(main_class)) return;
  const std::string_view class_dir = configuration.launcher.directory.view();
  application.references =
      FindMissingClasses(class_dir, main_class, application.module_path, application.resolved);
  if (!application.references.main_found) {
    application.classes = ClassesBelow(class_dir, kMaxClassesListed);
  }
}

std::vector<const char*> DryRunArguments(const Configuration& configuration) {
  std::vector<const char*> argv = {configuration.java.executable.c_str()};
  for (std::size_t i = 0; i < configuration.arguments.size(); ++i) {
    if (i + 1 == configuration.arguments.size()) argv.push_back("--dry-run");
    argv.push_back(configuration.arguments[i].c_str());
  }
  return argv;
}

}  // namespace launcher::check
