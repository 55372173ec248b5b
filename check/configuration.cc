#include "check/configuration.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "check/descriptor.h"
#include "platform/own_path.h"
#include "platform/process.h"
#include "platform/syscall.h"

extern "C" char** environ;

namespace launcher::check {
namespace {

// The environment variables from which java takes options of its own.
constexpr std::array<const char*, 3> kJavaOptionVariables = {"JDK_JAVA_OPTIONS",
                                                             "JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"};

// The largest class file the check reads.
constexpr std::size_t kMaxClassFileBytes = 16 << 20;

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
  file.path = std::string(configuration.launcher.directory.view());
  // Java takes a/b/Main as a.b.Main; a class's file lies in its package's directories.
  for (const char c : name) file.path += c == '.' ? '/' : c;
  file.path += ".class";
  struct stat status {};
  const SysResult looked = Sys([&] { return ::stat(file.path.c_str(), &status); });
  if (!looked.Ok()) {
    file.state = looked.error == ENOENT || looked.error == ENOTDIR
                     ? MainClassFile::State::kAbsent
                     : MainClassFile::State::kUnreadable;
    file.error = looked.error;
    return file;
  }
  if (!S_ISREG(status.st_mode)) {
    file.state = MainClassFile::State::kUnreadable;
    file.error = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    return file;
  }
  const SysResult opened =
      Sys([&] { return ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); });
  if (!opened.Ok()) {
    file.state = MainClassFile::State::kUnreadable;
    file.error = opened.error;
    return file;
  }
  const Descriptor descriptor(static_cast<int>(opened.value));
  std::string bytes;
  char buffer[1 << 16];
  for (;;) {
    const SysResult read = Sys([&] { return ::read(descriptor.get(), buffer, sizeof buffer); });
    if (!read.Ok()) {
      file.state = MainClassFile::State::kUnreadable;
      file.error = read.error;
      return file;
    }
    if (read.value == 0 || bytes.size() > kMaxClassFileBytes) break;
    bytes.append(buffer, static_cast<std::size_t>(read.value));
  }
  std::optional<ClassFile> content = ReadClassFile(bytes);
  if (!content) {
    file.state = MainClassFile::State::kNotAClass;
    return file;
  }
  file.state = MainClassFile::State::kRead;
  file.content = std::move(*content);
  return file;
}

std::optional<ModuleDescriptor> ReadOwnModule(const Configuration& configuration) {
  const std::string path =
      std::string(configuration.launcher.directory.view()) + "module-info.class";
  struct stat status {};
  if (!Sys([&] { return ::stat(path.c_str(), &status); }).Ok() || !S_ISREG(status.st_mode) ||
      static_cast<std::size_t>(status.st_size) > kMaxClassFileBytes) {
    return std::nullopt;
  }
  const SysResult opened =
      Sys([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); });
  if (!opened.Ok()) return std::nullopt;
  const Descriptor descriptor(static_cast<int>(opened.value));
  std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
  const SysResult read = Sys([&] { return ::read(descriptor.get(), bytes.data(), bytes.size()); });
  if (!read.Ok()) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(read.value));
  return ReadModuleInfo(bytes);
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
    constexpr std::string_view kBinJava = "/bin/java";
    if (std::string_view(java.real_path).ends_with(kBinJava)) {
      java.home = java.real_path.substr(0, java.real_path.size() - kBinJava.size());
    }
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
  if (!configuration.java.home.empty()) application.runtime = ReadRuntime(configuration.java.home);
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
