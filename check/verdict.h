// What Java's answer to the dry run means for init.ini: its messages mapped to the line to fix.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "check/dry_run.h"
#include "check/problem.h"

namespace launcher::check {

struct VerdictContext {
  std::string_view class_dir;  // the launcher's directory, where the main class is looked for
  int timeout_seconds = 0;
  bool java_options_set = false;  // JDK_JAVA_OPTIONS (or another options variable) is set
};

// What is missing when line 2, 3 or 4 is empty ("there is no module path"), and how to fill it.
std::string_view MissingValue(int line);
std::string_view FillLineFix(int line);

// The problem that Java's dry run shows, or nothing when Java ended with status 0. Java names
// only the first thing it misses, in the order it checks: the module path, the modules, then the
// main class.
std::optional<Problem> JavaVerdict(const DryRun& run, const VerdictContext& context);

}  // namespace launcher::check
