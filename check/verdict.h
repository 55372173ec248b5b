// What Java's answer to the dry run means for init.ini: its messages mapped to the line to fix.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check/dry_run.h"
#include "check/problems.h"

namespace launcher::check {

struct VerdictContext {
  std::string_view class_dir;  // the launcher's directory, where the main class is looked for
  int timeout_seconds = 0;
  // The environment variables set from which java takes options (JDK_JAVA_OPTIONS,
  // JAVA_TOOL_OPTIONS, _JAVA_OPTIONS).
  std::vector<std::string> java_options;
};

// What is missing when line 2, 3 or 4 is empty ("there is no module path"), and how to fill it.
std::string_view MissingValue(int line);
std::string_view FillLineFix(int line);

// The problem that Java's dry run shows, or nothing when Java ended with status 0. Java names
// only the first thing it misses, in the order it checks: the module path, the modules, then the
// main class. The problem has the precision of Java's own words, and the topic that a rule which
// knows more claims (see problems.h): "empty line N", "module NAME", "main class", "class NAME",
// "javafx", "class version", "java version", "java options", "java start", "boot layer",
// "timeout", "signal", "java exit".
std::optional<Problem> JavaVerdict(const DryRun& run, const VerdictContext& context);

}  // namespace launcher::check
