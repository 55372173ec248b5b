// The rules about the files the launcher starts from: the launcher itself and init.ini.

#include "check/classes/files.h"

#include "check/facts.h"
#include "check/rules/rules.h"
#include "check/text.h"

namespace launcher::check {
namespace {

constexpr char kGetTheLauncher[] =
    "copy the launcher here from its release archive (launcher-VERSION/launcher), or name it: "
    "launcher-check /path/to/launcher";

// The topics of every line: a settings file the launcher gets no line from explains them all, and
// is the cause to fix first.
void ClaimEveryLine(const Configuration& configuration, Problem& problem) {
  problem.precision = Precision::kDiagnosis;
  for (int line = 1; line <= 4; ++line) {
    for (std::string& topic : LineTopics(configuration, line))
      problem.claims.push_back(std::move(topic));
  }
}

}  // namespace

void LauncherFileRule(const Configuration& configuration, Problems& problems) {
  const LauncherFile& launcher = configuration.launcher;
  const std::string name = ShortWord(launcher.given);
  const ProgramFile& program = launcher.program;
  const auto add = [&](std::string what, std::string fix) {
    problems.Add("launcher", std::move(what), std::move(fix)).precision = Precision::kDiagnosis;
  };
  switch (program.kind) {
    case ProgramKind::kLauncher:
      break;
    case ProgramKind::kUnreadable:
      if (!launcher.executable) {
        add(name + " can neither be read nor executed (" + Describe(program.error) + ")",
            "chmod a+rx " + name);
        return;
      }
      break;
    case ProgramKind::kCheck:
      add(name + " is launcher-check itself, not the launcher",
          "name the launcher: launcher-check /path/to/launcher");
      return;
    case ProgramKind::kOtherProgram:
      add(name + " is a program, but not the launcher: it holds none of the launcher's texts",
          kGetTheLauncher);
      return;
    case ProgramKind::kOtherMachine:
      add(name + " is built for " + program.machine + ", and this machine is " +
              std::string(ThisMachine()) + ": it starts here only through an emulator",
          "use the launcher built for " + std::string(ThisMachine()) +
              " (the release archive launcher-VERSION-linux-" +
              (ThisMachine() == "arm64" ? "aarch64" : "x86_64") + ".tar.gz)");
      return;
    case ProgramKind::kScript:
      add(name + " is a script (" + Visible(program.first_line) +
              "), not the launcher: the class path is the directory of the launcher it starts, "
              "which the check cannot see",
          "name the launcher itself: launcher-check /path/to/launcher");
      return;
    case ProgramKind::kText:
      add(name + " is a text file (it begins " + Visible(program.first_line, 60) +
              "), not the launcher",
          kGetTheLauncher);
      return;
    case ProgramKind::kData:
      add(name + " is neither a program nor text: not the launcher", kGetTheLauncher);
      return;
  }
  if (!launcher.executable) {
    add(name + " cannot be executed (no execute permission)", "chmod +x " + name);
  }
}

void LinkedLauncherRule(const Configuration& configuration, Problems& problems) {
  const LauncherFile& launcher = configuration.launcher;
  const Application& application = configuration.application;
  if (!launcher.linked || !application.analysed ||
      application.main_class.state != MainClassFile::State::kAbsent ||
      application.references.main_found) {
    return;
  }
  // The class file where the person who linked the launcher put it: beside the link.
  const std::string main_class = MainClassName(configuration);
  const std::string beside_link = ClassFilePath(launcher.given_directory, main_class);
  if (!Exists(beside_link)) return;
  const std::string real(launcher.path.view());
  Problem& problem = problems.Add(
      "launcher",
      ShortWord(launcher.given) + " is a symbolic link to " + ShortWord(real) +
          ": the launcher's class path is the directory of the file it leads to, " +
          ShortWord(launcher.directory.view()) + ", not the link's, where the main class lies (" +
          ShortWord(beside_link) + ")",
      "copy the launcher instead of linking it: cp --remove-destination " + ShellWord(real) + " " +
          ShellWord(launcher.given) + "; or put the classes below " +
          ShortWord(launcher.directory.view()));
  problem.precision = Precision::kDiagnosis;
  problem.claims.push_back("main class");
}

void SettingsFileRule(const Configuration& configuration, Problems& problems) {
  const SettingsFile& settings = configuration.settings;
  const std::string here = ShellWord(configuration.cwd);
  const std::string empty = ", so the launcher starts Java with four empty values";
  const std::string link =
      settings.link_target.empty() ? "" : " (a link to " + ShortWord(settings.link_target) + ")";
  const auto add = [&](std::string what, std::string fix) -> Problem& {
    return problems.Add("init.ini", std::move(what), std::move(fix));
  };
  std::string fix = "write init.ini with its four lines in " + here +
                    ", or start the launcher from the directory that holds it";
  const std::string own(configuration.launcher.directory.view());
  if (own != configuration.cwd + "/" && Exists(own + "init.ini")) {
    fix = "the launcher's directory holds an init.ini: start the launcher from there (cd " +
          ShellWord(own) + "), or copy that file here";
  }
  switch (settings.kind) {
    case FileKind::kMissing:
      ClaimEveryLine(configuration,
                     add("there is no init.ini in the working directory " + here +
                             " (the launcher reads it from the directory it is started from, not "
                             "from its own)" +
                             empty,
                         fix));
      return;
    case FileKind::kDanglingLink:
      ClaimEveryLine(configuration,
                     add("init.ini is a link to " + ShortWord(settings.link_target) +
                             ", which does not exist" + empty,
                         "let init.ini lead to the settings file, or write it in its place"));
      return;
    case FileKind::kUnreachable:
      ClaimEveryLine(configuration,
                     add("init.ini cannot be looked at (" + Describe(settings.error) + ")" + empty,
                         "replace init.ini with a readable file, reachable from " + here));
      return;
    case FileKind::kDirectory:
      ClaimEveryLine(configuration, add("init.ini is a directory" + link +
                                            ": the launcher reads nothing from it" + empty,
                                        "put the settings file in its place"));
      return;
    case FileKind::kSocket:
      ClaimEveryLine(configuration,
                     add("init.ini is a socket" + link + ", which the launcher cannot open" + empty,
                         "put a regular file in its place"));
      return;
    case FileKind::kFifo:
      add("init.ini is a FIFO (named pipe)" + link +
              ": the launcher would wait at its start until another program writes to it, and "
              "take its lines from what that program writes",
          "put a regular file in its place");
      return;
    case FileKind::kTerminal:
      add("init.ini is a terminal" + link +
              ": the launcher would wait at its start for four lines to be typed at it",
          "put a regular file in its place");
      return;
    case FileKind::kCharDevice:
    case FileKind::kBlockDevice:
      add("init.ini is a device" + link + ", not a regular file",
          "put a regular file in its place");
      break;
    case FileKind::kRegular:
      break;
  }
  if (settings.error != 0 && settings.read) {
    const bool at_once = settings.failed_line == 0 || settings.values[0].empty();
    Problem& problem =
        add(at_once ? "init.ini cannot be read (" + Describe(settings.error) + ")" + empty
                    : "reading init.ini fails in line " + std::to_string(settings.failed_line) +
                          " (" + Describe(settings.error) +
                          "): the launcher keeps what it read before, and the lines after it are "
                          "empty",
            settings.error == EACCES
                ? "let the user who starts the launcher read it: chmod a+r init.ini (and let them "
                  "enter the directories on its way)"
                : "replace init.ini with a readable copy");
    problem.precision = Precision::kDiagnosis;
    for (int line = at_once ? 1 : settings.failed_line + 1; line <= 4; ++line) {
      for (std::string& topic : LineTopics(configuration, line)) {
        problem.claims.push_back(std::move(topic));
      }
    }
  }
  if (settings.unfinished_line != 0) {
    const int line = settings.unfinished_line;
    problems.Add(line,
                 "line " + std::to_string(line) + " does not end within the first " +
                     std::to_string(kReadLimit) +
                     " bytes of init.ini: the launcher reads it to its end (an endless file until "
                     "its memory runs out) and cannot hand so long a value to Java",
                 "write line " + std::to_string(line) + " as one line of its value");
  }
}

}  // namespace launcher::check
