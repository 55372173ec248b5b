#include "check/rules/rules.h"

namespace launcher::check {
namespace {

constexpr Rule kRules[] = {
    {"launcher file", LauncherFileRule},
    {"linked launcher", LinkedLauncherRule},
    {"settings file", SettingsFileRule},
    {"byte-order mark", ByteOrderMarkRule},
    {"INI style", IniStyleRule},
    {"comment", CommentRule},
    {"line order", LineOrderRule},
    {"quotes", QuotesRule},
    {"tilde", TildeRule},
    {"value bytes", ValueBytesRule},
    {"empty line", EmptyLineRule},
    {"Java installation", JavaHomeRule},
    {"Java start", JavaStartRule},
    {"class version", ClassVersionRule},
    {"module path", ModulePathRule},
    {"comma and blank", CommaBlankRule},
    {"own module", OwnModuleRule},
    {"module name", ModuleNameRule},
    {"main class in a module", MainClassModuleRule},
    {"missing class", MissingClassRule},
    {"main class", MainClassRule},
    {"command size", CommandSizeRule},
    {"display", DisplayRule},
    {"Java's verdict", VerdictRule},
};

}  // namespace

std::span<const Rule> AllRules() { return kRules; }

std::vector<Problem> FindProblems(const Configuration& configuration) {
  Problems problems;
  for (const Rule& rule : kRules) rule.find(configuration, problems);
  return Settle(problems.Take());
}

}  // namespace launcher::check
