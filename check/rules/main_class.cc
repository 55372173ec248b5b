// The rule about line 4: the main class, its file below the launcher's directory, and where the
// launcher lies among the application's classes.

#include <string>

#include "check/classes/files.h"
#include "check/facts.h"
#include "check/rules/rules.h"
#include "check/suggest.h"
#include "check/text.h"

namespace launcher::check {
namespace {

constexpr std::string_view kFileExtensions[] = {".class", ".java"};

Problem& Add(Problems& problems, std::string what, std::string fix, Precision precision) {
  Problem& problem = problems.Add(4, std::move(what), std::move(fix));
  problem.precision = precision;
  problem.topic = "main class";
  return problem;
}

// Where the launcher lies in a package directory of the main class (its class file beside the
// launcher, holding the class line 4 names): the directory above the packages, or empty.
std::string PackageRootAbove(const Configuration& configuration, const std::string& main_class) {
  const std::string_view package = PackageOf(main_class);
  if (package.empty()) return "";
  const std::string directory(configuration.launcher.directory.view());
  std::string package_path = "/";
  package_path.append(PackagePath(package)).push_back('/');
  if (!directory.ends_with(package_path)) return "";
  const std::string_view simple = std::string_view(main_class).substr(package.size() + 1);
  // The file beside the launcher must hold the very class, or it is another one.
  if (!Exists(ClassFilePath(directory, simple))) return "";
  return directory.substr(0, directory.size() - package_path.size() + 1);
}

}  // namespace

void MainClassRule(const Configuration& configuration, Problems& problems) {
  const Application& application = configuration.application;
  const std::string_view received = configuration.Received(4);
  if (!application.analysed || received.empty()) return;
  const std::string directory(configuration.launcher.directory.view());
  for (const std::string_view extension : kFileExtensions) {
    if (received.ends_with(extension) && received.size() > extension.size()) {
      std::string class_name(received.substr(0, received.size() - extension.size()));
      for (char& c : class_name) c = c == '/' ? '.' : c;
      Add(problems, "the value names a file, not a class",
          "write the class's name on line 4: " + ShellWord(class_name) + " (its file lies at " +
              ShortWord(ClassFilePath(directory, class_name)) + ")",
          Precision::kDiagnosis);
      return;
    }
  }
  const std::string main_class = MainClassName(configuration);
  const MainClassFile& file = application.main_class;
  switch (file.state) {
    case MainClassFile::State::kNone:
      return;
    case MainClassFile::State::kUnreadable:
      Add(problems,
          "the main class's file " + ShortWord(file.path) + " cannot be read (" + file.why + ")",
          file.directory
              ? "put the class file in place of the directory"
              : "let the user who starts the launcher read it: chmod a+r " + ShortWord(file.path),
          Precision::kDiagnosis);
      return;
    case MainClassFile::State::kNotAClass:
      Add(problems, "the main class's file " + ShortWord(file.path) + " is not a class file",
          "compile the main class again (javac), and put its class file there",
          Precision::kDiagnosis);
      return;
    case MainClassFile::State::kRead:
      if (file.content.name != main_class) {
        Add(problems,
            "the class file " + ShortWord(file.path) + " holds the class " +
                Printable(file.content.name),
            "write " + Printable(file.content.name) + " on line 4, and keep its class file at " +
                ShortWord(ClassFilePath(directory, file.content.name)),
            Precision::kDiagnosis);
      }
      return;
    case MainClassFile::State::kAbsent:
      break;
  }
  // Found in a module Java resolves, or by Java itself.
  const std::optional<DryRun>& run = configuration.dry_run;
  if (application.references.main_found ||
      (run && run->end == DryRun::End::kExited && run->status == 0)) {
    return;
  }
  if (const std::string root = PackageRootAbove(configuration, main_class); !root.empty()) {
    Add(problems,
        "the launcher lies in the package directory " + ShortWord(directory) +
            " of the main class, not in the directory above its packages, " + ShortWord(root),
        "move the launcher to " + ShortWord(root) + " (mv " +
            ShellWord(std::string(configuration.launcher.path.view())) + " " + ShellWord(root) +
            ") and start it as before",
        Precision::kDiagnosis);
    return;
  }
  const std::optional<std::string> closest = Closest(main_class, application.classes);
  std::string what = "there is no class file " + ShortWord(file.path) +
                     " below the launcher's directory for the main class " + Visible(main_class);
  if (closest) what += "; did you mean " + Printable(*closest) + "?";
  Add(problems, what,
      closest ? "write " + Printable(*closest) + " on line 4"
              : "correct line 4, or put the class file there (a class in a package pkg lies in "
                "pkg/ below the launcher's directory)",
      Precision::kFinding);
}

}  // namespace launcher::check
