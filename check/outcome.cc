#include "check/outcome.h"

#include "check/classes/files.h"
#include "platform/process.h"
#include "platform/syscall.h"

namespace launcher::check {
namespace {

Outcome NotStarted(std::string why) { return {Outcome::Kind::kNotStarted, std::move(why), ""}; }

Outcome Report(const ProcessFailureText& text) {
  return {Outcome::Kind::kReport, "", ProcessReportLine(text)};
}

}  // namespace

std::string ProcessReportLine(const ProcessFailureText& text) {
  std::string line = std::string(EProcess::kClassName) + ": ";
  for (const std::string_view piece : {text.before, text.name, text.after, text.reason}) {
    line += piece;
  }
  return line;
}

Outcome Predict(const Configuration& configuration) {
  const LauncherFile& launcher = configuration.launcher;
  switch (launcher.program.kind) {
    case ProgramKind::kLauncher:
      break;
    case ProgramKind::kOtherMachine:
      if (launcher.program.machine != ThisMachine()) {
        return NotStarted("it is built for " + launcher.program.machine + ", not for this " +
                          std::string(ThisMachine()) + " machine");
      }
      return NotStarted("it is not the launcher");
    case ProgramKind::kUnreadable:
      if (launcher.executable) break;  // an execute-only launcher cannot be looked into
      return NotStarted("it cannot be read");
    default:
      return NotStarted("it is not the launcher");
  }
  if (!launcher.executable) return NotStarted("it cannot be started itself");

  const SettingsFile& settings = configuration.settings;
  if (settings.kind == FileKind::kFifo) {
    return {Outcome::Kind::kWaits, "it would wait for a writer of init.ini, and read its lines",
            ""};
  }
  if (settings.kind == FileKind::kTerminal) {
    return {Outcome::Kind::kWaits,
            "it would wait for the lines of init.ini to be typed at the terminal", ""};
  }
  if (settings.unfinished_line != 0) {
    return {Outcome::Kind::kReadsWithoutEnd,
            "it would read line " + std::to_string(settings.unfinished_line) +
                " to its end and could not hand it to Java",
            ""};
  }
  if (!SettingsReadToAnEnd(settings)) {
    return {Outcome::Kind::kDeviceLines, "it would start Java with whatever lines the device gives",
            ""};
  }

  const JavaProgram& java = configuration.java;
  if (!java.found) return Report(NotFoundText(java.executable.view()));
  if (java.execute_error != 0) {
    return Report(ExecuteFailedText(java.path.c_str(), Describe(java.execute_error)));
  }
  const CommandSize& size = configuration.size;
  if (size.longest > size.max_argument || size.total > size.limit) {
    return Report(ExecuteFailedText(java.path.c_str(), Describe(E2BIG)));
  }
  if (configuration.dry_run && configuration.dry_run->end == DryRun::End::kNotStarted) {
    return Report(ExecuteFailedText(java.path.c_str(), Describe(configuration.dry_run->error)));
  }
  return {};
}

}  // namespace launcher::check
