// The check's report on standard output, section by section: the heading, init.ini as the
// launcher reads it, the java it would start, the command, Java's verdict, and the problems with
// what the launcher would do.
#pragma once

#include <initializer_list>
#include <string_view>
#include <vector>

#include "check/configuration.h"
#include "check/outcome.h"
#include "check/problems.h"

namespace launcher::check {

// One line of the report: the pieces, then a line feed.
void Say(std::initializer_list<std::string_view> pieces);

void ShowHeading(const Configuration& configuration);
void ShowSettings(const Configuration& configuration);
void ShowJava(const Configuration& configuration);
void ShowCommand(const Configuration& configuration);
// The heading of Java's verdict and, when Java was not asked, why.
void ShowVerdictHeading(const Configuration& configuration, const Outcome& before_java);
// What Java's dry run did and wrote.
void ShowVerdict(const Configuration& configuration);
void ShowProblems(const Configuration& configuration, const std::vector<Problem>& problems,
                  const Outcome& outcome);

// The closing sentence for `outcome`, the last line of the report (the one after "Problems
// found" and the list, or "No problem found").
std::string ClosingWords(const Configuration& configuration, const Outcome& outcome,
                         bool problems_found);

}  // namespace launcher::check
