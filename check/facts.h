// What several rules ask of the description of the configuration: plain questions with plain
// answers, computed from the description alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check/configuration.h"

namespace launcher::check {

// "; Java installations on this machine: A, B" for a fix that names line 1, or "" when there is
// none to name.
std::string InstalledJavasHint();

// Whether the launcher gets the values of init.ini: it reads the file to an end, and the values
// are what it stores (no values at all for a file it cannot open).
bool ValuesKnown(const Configuration& configuration);
// Whether the launcher gets no line at all: no init.ini, or one it cannot open or read from its
// first byte, so that it starts Java with four empty values.
bool NothingRead(const Configuration& configuration);

// The topics of the problems a wrong line `line` causes (see problems.h): a rule that names the
// mistake on that line claims them.
std::vector<std::string> LineTopics(const Configuration& configuration, int line);

// The main class as Java takes line 4: up to a NUL byte, "/" read as ".".
std::string MainClassName(const Configuration& configuration);

// The roots of line 3 that Java finds neither on the module path nor in its runtime (empty when
// the runtime's modules are not known).
std::vector<std::string> UnknownRoots(const Configuration& configuration);
// The module of the path or the runtime closest to `root`, when it is close enough to be meant.
std::optional<std::string> ClosestModule(const Configuration& configuration, std::string_view root);
// Whether line 2 names an entry that does not exist.
bool ModulePathEntryMissing(const Configuration& configuration);

// Line 3 with `module` added (at the end) or removed, as it is to be written.
std::string Line3With(const Configuration& configuration, std::string_view module);
std::string Line3Without(const Configuration& configuration, std::string_view module);

// A comment line as other configuration files have them: "#", ";" or "//" at its start.
bool IsComment(std::string_view value);
// "[section]".
bool IsSectionHeader(std::string_view value);
// "key=value" (or "key = value") with a key of letters, digits, "_", "-" and "."; the value.
std::optional<std::string> ValueOfKey(std::string_view value);

}  // namespace launcher::check
