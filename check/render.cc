#include "check/render.h"

#include <string.h>

#include <algorithm>
#include <string>

#include "check/classes/files.h"
#include "check/text.h"
#include "platform/streams.h"
#include "platform/syscall.h"

namespace launcher::check {
namespace {

constexpr std::string_view kMeaning[] = {"Java installation", "module path", "modules to add",
                                         "main class"};

// Each line of `text` (another program's words), made safe to show, after `prefix`.
void SayLines(std::string_view prefix, std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    Say({prefix, Printable(text.substr(0, end))});
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
}

// One row of a section: a label in a column of its own, then the text.
void Row(std::string_view label, std::string_view text) {
  std::string padded(label);
  padded.resize(std::max<std::size_t>(padded.size() + 1, 14), ' ');
  Say({"  ", padded, text});
}

std::string_view LineEndName(LineEnd end) {
  switch (end) {
    case LineEnd::kLf:
      return "LF";
    case LineEnd::kCrLf:
      return "CR LF";
    case LineEnd::kCr:
      return "CR";
    default:
      return "none";
  }
}

bool IsLineEnd(LineEnd end) {
  return end == LineEnd::kLf || end == LineEnd::kCrLf || end == LineEnd::kCr;
}

std::string FileRow(const Configuration& configuration) {
  const SettingsFile& settings = configuration.settings;
  const std::string path = ShellWord(configuration.cwd + "/init.ini");
  const std::string link =
      settings.link_target.empty() ? "" : " (a link to " + ShortWord(settings.link_target) + ")";
  switch (settings.kind) {
    case FileKind::kMissing:
      return "none in " + ShellWord(configuration.cwd);
    case FileKind::kDanglingLink:
      return path + link + ", which leads nowhere";
    case FileKind::kUnreachable:
      return path + link + ", which cannot be looked at: " + Describe(settings.error);
    case FileKind::kDirectory:
      return path + link + ", a directory";
    case FileKind::kFifo:
      return path + link + ", a FIFO (named pipe), not read by the check";
    case FileKind::kTerminal:
      return path + link + ", a terminal, not read by the check";
    case FileKind::kCharDevice:
    case FileKind::kBlockDevice:
      return path + link + ", a device";
    case FileKind::kSocket:
      return path + link + ", a socket";
    case FileKind::kRegular:
      break;
  }
  return path + link;
}

void ShowLineEnds(const SettingsFile& settings) {
  const auto end_of = [&](int line) { return settings.ends[static_cast<std::size_t>(line - 1)]; };
  std::string ends;
  int last = 0;
  bool mixed = false;
  for (int line = 1; line <= 4; ++line) {
    if (!IsLineEnd(end_of(line))) continue;
    if (last != 0 && end_of(line) != end_of(last)) mixed = true;
    last = line;
  }
  if (last != 0 && !mixed) {
    ends = std::string(LineEndName(end_of(last)));
  } else if (last != 0) {
    ends = "mixed:";
    for (int line = 1; line <= last; ++line) {
      ends += std::string(line > 1 ? "," : "") + " line " + std::to_string(line) + " " +
              std::string(LineEndName(end_of(line)));
    }
  }
  for (int line = 1; line <= 4; ++line) {
    if (end_of(line) == LineEnd::kEndOfFile) {
      ends += std::string(ends.empty() ? "" : "; ") + "line " + std::to_string(line) +
              " ends the file without a line end";
    }
  }
  if (ends.empty() && settings.unfinished_line == 0 && settings.failed_line == 0) {
    ends = "none: the file is empty";
  }
  if (!ends.empty()) Row("line ends", ends);
  if (settings.unfinished_line != 0 || settings.failed_line != 0) return;
  const std::string count = std::to_string(settings.lines_after);
  if (settings.cut) {
    Row("after line 4", "at least " + count + " more lines, ignored (the check read " +
                            std::to_string(kReadLimit) + " bytes)");
  } else if (settings.lines_after > 0) {
    Row("after line 4", count + (settings.lines_after == 1 ? " more line" : " more lines") +
                            ", ignored by the launcher");
  }
}

}  // namespace

void Say(std::initializer_list<std::string_view> pieces) { StdOut().WriteLine(pieces); }

void ShowHeading(const Configuration& configuration) {
  Say({"Checking how the launcher ", ShellWord(configuration.launcher.given),
       " starts the application from ", ShellWord(configuration.cwd), "."});
}

void ShowSettings(const Configuration& configuration) {
  const SettingsFile& settings = configuration.settings;
  Say({});
  Say({"init.ini, as the launcher reads it from its working directory:"});
  Row("file", FileRow(configuration));
  const bool opened = settings.kind == FileKind::kRegular ||
                      settings.kind == FileKind::kCharDevice ||
                      settings.kind == FileKind::kBlockDevice;
  if (!settings.read && settings.unfinished_line == 0 && settings.kind != FileKind::kMissing &&
      settings.kind != FileKind::kDanglingLink && settings.kind != FileKind::kUnreachable) {
    Row("lines", settings.kind == FileKind::kFifo       ? "not known: what a writer writes"
                 : settings.kind == FileKind::kTerminal ? "not known: what is typed"
                                                        : "not known: whatever the device gives");
    return;
  }
  for (int line = 1; line <= 4; ++line) {
    std::string label(kMeaning[line - 1]);
    label.resize(18, ' ');
    std::string shown = Visible(configuration.Value(line).view());
    const LineEnd end = settings.ends[static_cast<std::size_t>(line - 1)];
    if (settings.unfinished_line == line) {
      shown += ", and more: the line does not end within the first " + std::to_string(kReadLimit) +
               " bytes";
    } else if (settings.failed_line == line) {
      shown += ", then reading fails: " + Describe(settings.error);
    } else if (opened && end == LineEnd::kAbsent && settings.unfinished_line == 0 &&
               (settings.failed_line == 0 || line < settings.failed_line)) {
      shown += " (the file has no line " + std::to_string(line) + ")";
    } else if (settings.unfinished_line != 0 && line > settings.unfinished_line) {
      shown = "not reached";
    }
    Row("line " + std::to_string(line), label + shown);
  }
  if (opened && (settings.read || settings.unfinished_line != 0)) ShowLineEnds(settings);
}

void ShowJava(const Configuration& configuration) {
  const JavaProgram& java = configuration.java;
  Say({});
  Say({"Java:"});
  const bool line1_empty = configuration.Value(1).empty();
  if (!SettingsReadToAnEnd(configuration.settings)) {
    Row("program", "not looked for: the launcher would not get so far");
  } else if (!java.found) {
    Row("program", line1_empty
                       ? "not found: no java in the working directory nor in PATH"
                       : "not found: " + ShortWord(java.executable.view()) + " does not exist");
  } else {
    std::string why;
    if (java.path == java.executable) {
      why = line1_empty ? "line 1 is empty: the file java in the working directory, which comes "
                          "before PATH"
                        : "line 1, then bin/java";
    } else {
      std::string_view entry = java.path.view();
      entry.remove_suffix(java.executable.size());
      if (entry.size() > 1 && entry.back() == '/') entry.remove_suffix(1);
      why = std::string(line1_empty ? "line 1 is empty: " : "line 1, then bin/java: ") +
            "found through PATH, in " + ShellWord(entry);
    }
    std::string shown = ShellWord(java.path.view()) + " (" + why + ")";
    if (!java.real_path.empty() && java.path.view() != java.real_path &&
        java.path.view().find('/') != std::string_view::npos) {
      shown += ", a link to " + ShellWord(java.real_path);
    }
    Row("program", shown);
  }
  const Environment& environment = configuration.environment;
  if (line1_empty) {
    Row("PATH", environment.path ? Visible(*environment.path) : "not set");
    if (environment.java_home) {
      Row("JAVA_HOME", Visible(*environment.java_home) + ", which the launcher does not read");
    }
  }
  const LauncherFile& launcher = configuration.launcher;
  Row("class path",
      ShellWord(configuration.arguments[5].view()) +
          (launcher.linked ? " (the directory of the file " + ShellWord(launcher.given) +
                                 " leads to, then \"/\": " + ShellWord(launcher.path.view()) + ")"
                           : " (the launcher's directory, then \"/\": " +
                                 ShellWord(launcher.path.view()) + ")"));
  for (const auto& [name, value] : environment.java_options) {
    Row(name, Visible(value) + ", which Java reads");
  }
}

void ShowCommand(const Configuration& configuration) {
  Say({});
  Say({"The command the launcher runs (it can be pasted into a shell):"});
  const SettingsFile& settings = configuration.settings;
  if (!SettingsReadToAnEnd(settings)) {
    Say({"  ", "not known: the launcher would not get so far"});
    return;
  }
  const JavaProgram& java = configuration.java;
  std::string program(java.found ? java.path.view() : java.executable.view());
  if (java.found && program.find('/') == std::string::npos) program = "./" + program;
  std::string command = ShortWord(program, 1000);
  for (const ByteString& argument : configuration.arguments) {
    const std::string_view received = argument.c_str();
    command += ' ';
    command += received.size() > 1000 ? ShortWord(received, 60) : ShellWord(received);
  }
  Say({"  ", command});
}

void ShowVerdictHeading(const Configuration& configuration, const Outcome& before_java) {
  Say({});
  Say(
      {"Java's verdict: the same command with --dry-run before the main class (Java sets up the "
       "modules and loads the main class, without running it):"});
  if (before_java.kind == Outcome::Kind::kStartsJava) return;
  if (before_java.kind == Outcome::Kind::kReport) {
    Say({"  ", configuration.java.found ? "not asked: Java cannot be started with this command"
                                        : "not asked: there is no java to ask"});
  } else {
    Say({"  ", "not asked: the launcher would not get so far"});
  }
}

void ShowVerdict(const Configuration& configuration) {
  if (!configuration.dry_run) return;
  const DryRun& run = *configuration.dry_run;
  switch (run.end) {
    case DryRun::End::kNotAsked:
      Say({"  ", "not asked: the check could not start it (" + Describe(run.error) + ")"});
      return;
    case DryRun::End::kNotStarted:
      Say({"  ", "Java cannot be started: " + Describe(run.error)});
      return;
    case DryRun::End::kTimedOut:
      Say({"  ", "Java was still running after " + std::to_string(configuration.timeout.count()) +
                     " seconds: the check stopped it and everything it started. It wrote:"});
      break;
    case DryRun::End::kSignalled: {
      const char* name = sigabbrev_np(run.status);
      Say({"  ", "Java was ended by signal " + std::to_string(run.status) +
                     (name != nullptr ? std::string(" (SIG") + name + ")" : "") + ". It wrote:"});
      break;
    }
    case DryRun::End::kExited:
    case DryRun::End::kInterrupted:
      Say({"  ", "Java ended with exit status " + std::to_string(run.status) +
                     (run.output.empty() ? " and wrote nothing." : ". It wrote:")});
      break;
  }
  SayLines("    | ", run.output);
  if (run.output_cut) Say({"  ", "(and more, which the check did not keep)"});
  if (run.output.empty() && run.end != DryRun::End::kExited) Say({"  ", "(it wrote nothing)"});
  const ReferenceScan& references = configuration.application.references;
  if (run.end == DryRun::End::kExited && run.status == 0 && !references.main_module.empty()) {
    Say({"  ", "Java found the main class in module " + Printable(references.main_module) +
                   ", not below the launcher's directory."});
  }
}

std::string ClosingWords(const Configuration& configuration, const Outcome& outcome,
                         bool problems_found) {
  switch (outcome.kind) {
    case Outcome::Kind::kNotStarted:
    case Outcome::Kind::kWaits:
    case Outcome::Kind::kReadsWithoutEnd:
      return "The launcher would not start Java: " + outcome.why + ".";
    case Outcome::Kind::kDeviceLines:
      return "The launcher would start Java with whatever lines the device gives.";
    case Outcome::Kind::kReport:
      return "The launcher would not start Java: it would end with exit status 217 and a failure "
             "report on standard error whose second line is";
    case Outcome::Kind::kStartsJava:
      break;
  }
  const std::optional<DryRun>& run = configuration.dry_run;
  if (!problems_found) return "No problem found: the launcher starts the application.";
  if (run && run->end == DryRun::End::kExited && run->status != 0) {
    return "The launcher would start Java, and Java would stop as it did above: the launcher "
           "would end with exit status " +
           std::to_string(run->status) + ", Java's.";
  }
  if (run && run->end == DryRun::End::kSignalled) {
    const char* name = sigabbrev_np(run->status);
    return "The launcher would start Java, and Java would be ended as above: the launcher would "
           "end by the same signal, " +
           std::to_string(run->status) +
           (name != nullptr ? std::string(" (SIG") + name + ")" : "") + ".";
  }
  if (run && run->end == DryRun::End::kTimedOut) {
    return "The launcher would start Java, whose dry run did not end in the time given: how the "
           "application ends is not known.";
  }
  return "The launcher would start Java, but the problems above may keep the application from "
         "running as meant; the launcher would end with the application's exit status.";
}

void ShowProblems(const Configuration& configuration, const std::vector<Problem>& problems,
                  const Outcome& outcome) {
  Say({});
  if (!problems.empty()) {
    Say({"Problems found: ", std::to_string(problems.size()), ". Fix them in this order:"});
    for (const Problem& problem : problems) {
      Say({"  ", PlaceOf(problem), ": ", problem.what});
      SayLines("    Java: ", problem.java);
      Say({"    fix: ", problem.fix});
    }
    Say({});
  }
  Say({ClosingWords(configuration, outcome, !problems.empty())});
  if (outcome.kind == Outcome::Kind::kReport) Say({"  ", Printable(outcome.report_line, 4096)});
}

}  // namespace launcher::check
