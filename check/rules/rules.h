// The rules: independent checks over the one description of the configuration
// (configuration.h), each adding the problems it finds. No rule reads another's problems, and
// their order in the table is only the order in which problems of the same place are listed:
// where two rules can be about the same thing, they share a topic, and Settle (problems.h) keeps
// the problem that knows more.
#pragma once

#include <span>
#include <vector>

#include "check/configuration.h"
#include "check/problems.h"

namespace launcher::check {

struct Rule {
  const char* name;
  void (*find)(const Configuration& configuration, Problems& problems);
};

// Every rule, in the order their problems are listed within one place.
std::span<const Rule> AllRules();

// The problems every rule finds, settled.
std::vector<Problem> FindProblems(const Configuration& configuration);

// The rules, by what they look at.
// The launcher file (rules/files.cc).
void LauncherFileRule(const Configuration& configuration, Problems& problems);
void LinkedLauncherRule(const Configuration& configuration, Problems& problems);
// The settings file (rules/files.cc).
void SettingsFileRule(const Configuration& configuration, Problems& problems);
// Every value (rules/values.cc).
void ByteOrderMarkRule(const Configuration& configuration, Problems& problems);
void EmptyLineRule(const Configuration& configuration, Problems& problems);
void ValueBytesRule(const Configuration& configuration, Problems& problems);
// Mistakes of a new user (rules/mistakes.cc).
void IniStyleRule(const Configuration& configuration, Problems& problems);
void CommentRule(const Configuration& configuration, Problems& problems);
void QuotesRule(const Configuration& configuration, Problems& problems);
void TildeRule(const Configuration& configuration, Problems& problems);
void CommaBlankRule(const Configuration& configuration, Problems& problems);
void LineOrderRule(const Configuration& configuration, Problems& problems);
// Line 1 and the command (rules/java.cc).
void JavaHomeRule(const Configuration& configuration, Problems& problems);
void JavaStartRule(const Configuration& configuration, Problems& problems);
void CommandSizeRule(const Configuration& configuration, Problems& problems);
void ClassVersionRule(const Configuration& configuration, Problems& problems);
// Lines 2 and 3 (rules/modules.cc).
void ModulePathRule(const Configuration& configuration, Problems& problems);
void ModuleNameRule(const Configuration& configuration, Problems& problems);
void OwnModuleRule(const Configuration& configuration, Problems& problems);
void MainClassModuleRule(const Configuration& configuration, Problems& problems);
void MissingClassRule(const Configuration& configuration, Problems& problems);
// Line 4 (rules/main_class.cc).
void MainClassRule(const Configuration& configuration, Problems& problems);
// The environment and Java's verdict (rules/environment.cc).
void DisplayRule(const Configuration& configuration, Problems& problems);
void VerdictRule(const Configuration& configuration, Problems& problems);

}  // namespace launcher::check
