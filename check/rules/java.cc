// The rules about line 1, the java the launcher finds, and the command it hands to Linux.
#include <sys/stat.h>

#include "check/classes/files.h"
#include "check/facts.h"
#include "check/rules/rules.h"
#include "check/text.h"
#include "platform/process.h"
#include "platform/syscall.h"

namespace launcher::check {

void JavaHomeRule(const Configuration& configuration, Problems& problems) {
  if (!ValuesKnown(configuration)) return;
  const JavaProgram& java = configuration.java;
  const std::string_view home = configuration.Value(1).view();
  const auto add = [&](std::string what, std::string fix) {
    problems.Add(1, std::move(what), std::move(fix)).topic = "java home";
  };
  if (home.empty()) {
    if (NothingRead(configuration) && java.found) return;
    if (!java.found) {
      add("the Java installation is empty, and neither the working directory nor a directory of "
          "PATH holds a java",
          "write on line 1 the Java installation to use" + InstalledJavasHint());
    } else if (java.path == java.executable) {
      add("the Java installation is empty, so the launcher takes the file java in the working "
          "directory, before any in PATH",
          "name the Java installation on line 1, or remove ./java if it is not the Java meant");
    }
    return;
  }
  // A NUL byte is a problem of its own; with it, the launcher finds no java at all.
  if (home.find('\0') != std::string_view::npos || (java.found && java.path == java.executable)) {
    return;
  }
  // Line 1 does not lead to bin/java: say what it names instead.
  const ByteString stored(home);
  std::string what = ShortWord(home);
  struct stat status {};
  if (!Sys([&] { return ::stat(stored.c_str(), &status); }).Ok()) {
    what += " does not exist";
  } else if (!S_ISDIR(status.st_mode)) {
    what += " is not a directory";
    if (home.ends_with("/java")) what += " but seemingly the java program itself";
  } else {
    what += " is a directory without bin/java";
    const ByteString inside = stored + (home.ends_with("/") ? "java" : "/java");
    if (ProgramExists(inside.c_str())) what += " (it seems to be the bin directory itself)";
  }
  what += java.found ? "; the launcher finds " + ShellWord(java.path.view()) + " only through PATH"
                     : "; so the launcher finds no java";
  add(what,
      "write on line 1 the top directory of a Java installation, the one that holds bin/java" +
          InstalledJavasHint());
}

void JavaStartRule(const Configuration& configuration, Problems& problems) {
  const JavaProgram& java = configuration.java;
  if (!java.found) return;
  int error = java.execute_error;
  if (error == 0 && configuration.dry_run &&
      configuration.dry_run->end == DryRun::End::kNotStarted) {
    error = configuration.dry_run->error;
  }
  // An argument list too long is the command's, not line 1's (see CommandSizeRule).
  if (error == 0 || error == E2BIG) return;
  Problem& problem = problems.Add(
      1, ShellWord(java.path.view()) + " cannot be started (" + Describe(error) + ")",
      (error == EACCES
           ? "let it be executed (chmod +x), or name another Java installation on line 1"
           : "name another Java installation on line 1") +
          InstalledJavasHint());
  problem.topic = "java start";
}

void CommandSizeRule(const Configuration& configuration, Problems& problems) {
  const CommandSize& size = configuration.size;
  if (!configuration.java.found || size.longest > size.max_argument || size.total <= size.limit) {
    return;
  }
  // The largest part of the command, to shorten first.
  int longest_line = 2;
  for (int line = 3; line <= 4; ++line) {
    if (configuration.Received(line).size() > configuration.Received(longest_line).size()) {
      longest_line = line;
    }
  }
  const std::size_t line_size = configuration.Received(longest_line).size();
  const std::string part =
      size.environment >= line_size
          ? "the environment takes " + std::to_string(size.environment) + " bytes of it"
          : "line " + std::to_string(longest_line) + " takes " + std::to_string(line_size) +
                " bytes of it";
  Problem& problem = problems.Add(
      "command",
      "the command and the environment the launcher hands to Java are " +
          std::to_string(size.total) + " bytes together, more than Linux hands to a program (" +
          std::to_string(size.limit) + " bytes, a quarter of the stack limit); " + part,
      (size.environment >= line_size
           ? std::string("start the launcher with fewer or shorter environment variables")
           : "shorten line " + std::to_string(longest_line)) +
          ", or raise the stack limit before starting the launcher (ulimit -s)");
  problem.topic = "java start";
}

void ClassVersionRule(const Configuration& configuration, Problems& problems) {
  const Application& application = configuration.application;
  const MainClassFile& main_class = application.main_class;
  const int feature = application.runtime.feature;
  if (main_class.state != MainClassFile::State::kRead || feature == 0) return;
  // Class file version 52 is Java 8, 61 Java 17: the feature version plus 44.
  const int needed = main_class.content.major_version - 44;
  if (needed <= feature) return;
  Problem& problem = problems.Add(1,
                                  "the main class was compiled for Java " + std::to_string(needed) +
                                      ", and the Java of line 1 is " + std::to_string(feature),
                                  "name a Java installation of version " + std::to_string(needed) +
                                      " or later on line 1, or compile the application for Java " +
                                      std::to_string(feature) + " (javac --release " +
                                      std::to_string(feature) + ")" + InstalledJavasHint());
  problem.precision = Precision::kDiagnosis;
  problem.topic = "class version";
}

}  // namespace launcher::check
