// The rules about the bytes of every value of init.ini.
#include "check/facts.h"
#include "check/rules/rules.h"
#include "check/text.h"
#include "check/verdict.h"

namespace launcher::check {
namespace {

// The lines whose values the launcher reads in full: up to a line that fails or does not end.
int LastWholeLine(const SettingsFile& settings) {
  if (settings.unfinished_line != 0) return settings.unfinished_line - 1;
  if (settings.failed_line != 0) return settings.failed_line - 1;
  return 4;
}

}  // namespace

void ByteOrderMarkRule(const Configuration& configuration, Problems& problems) {
  if (!configuration.settings.read || !configuration.Value(1).view().starts_with(kByteOrderMark)) {
    return;
  }
  Problem& problem = problems.Add(
      1,
      "init.ini begins with a byte-order mark (\\u{FEFF}), which the launcher takes as the first "
      "three bytes of line 1",
      "save init.ini as UTF-8 without a byte-order mark, or remove it: "
      "sed -i '1s/^\\xEF\\xBB\\xBF//' init.ini");
  problem.precision = Precision::kDiagnosis;
  problem.claims = LineTopics(configuration, 1);
}

void EmptyLineRule(const Configuration& configuration, Problems& problems) {
  const SettingsFile& settings = configuration.settings;
  if (!settings.read || NothingRead(configuration) || settings.unfinished_line != 0) return;
  for (int line = 2; line <= LastWholeLine(settings); ++line) {
    if (!configuration.Value(line).empty()) continue;
    const LineEnd end = settings.ends[static_cast<std::size_t>(line - 1)];
    Problem& problem =
        problems.Add(line,
                     std::string(MissingValue(line)) +
                         (end == LineEnd::kAbsent ? ": init.ini has no line " + std::to_string(line)
                                                  : ": the line is empty"),
                     std::string(FillLineFix(line)));
    problem.topic = "empty line " + std::to_string(line);
    // With no modules named, the modules the application's classes need are not added either.
    if (line == 3) problem.claims = LineTopics(configuration, 3);
  }
}

void ValueBytesRule(const Configuration& configuration, Problems& problems) {
  const SettingsFile& settings = configuration.settings;
  if (!settings.read) return;
  for (int line = 1; line <= LastWholeLine(settings); ++line) {
    const std::string_view value = configuration.Value(line).view();
    if (value.empty()) continue;
    const std::string number = std::to_string(line);
    if (value.find('\0') != std::string_view::npos) {
      problems.Add(line,
                   "the value holds a NUL byte (\\0): " +
                       (line == 1 ? std::string("the launcher finds no java under that name")
                                  : "Java receives only what comes before it"),
                   "remove the NUL byte from line " + number);
    } else if (HoldsControlByte(value)) {
      problems.Add(line, "the value holds a control byte (shown as \\xNN above)",
                   "remove it from line " + number);
    }
    const std::string_view visible = line == 1 && value.starts_with(kByteOrderMark)
                                         ? value.substr(kByteOrderMark.size())
                                         : value;
    if (BeginsWithBlank(visible)) {
      problems.Add(line,
                   "the value begins with a blank or an invisible character, which is part of it",
                   "remove the blank at the start of line " + number);
    }
    if (EndsWithBlank(value)) {
      problems.Add(line,
                   "the value ends with a blank or an invisible character, which is part of it",
                   "remove the blank at the end of line " + number);
    }
    const std::size_t received = configuration.Received(line).size();
    if (line > 1 && received > configuration.size.max_argument) {
      problems.Add(line,
                   "the value is " + std::to_string(received) +
                       " bytes long: Linux hands at most " +
                       std::to_string(configuration.size.max_argument) +
                       " bytes to a program as one argument",
                   "shorten line " + number);
    }
  }
}

}  // namespace launcher::check
