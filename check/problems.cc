#include "check/problems.h"

#include <algorithm>

namespace launcher::check {
namespace {

int Rank(const Problem& problem) {
  if (problem.line != 0) return problem.line;
  if (problem.subject == "launcher") return -1;
  if (problem.subject == "init.ini") return 0;
  return 5;
}

bool IsAbout(const Problem& problem, const std::string& topic) {
  return !topic.empty() &&
         (problem.topic == topic ||
          std::find(problem.claims.begin(), problem.claims.end(), topic) != problem.claims.end());
}

// The problem that explains `problems[index]` in its place: the first of the most precise
// problems about its topic, when that is another one.
std::size_t ExplainerOf(const std::vector<Problem>& problems, std::size_t index) {
  const Problem& problem = problems[index];
  std::size_t best = index;
  for (std::size_t other = 0; other < problems.size(); ++other) {
    if (other == index || !IsAbout(problems[other], problem.topic)) continue;
    const Precision precision = problems[other].precision;
    if (precision > problems[best].precision ||
        (precision == problems[best].precision && other < best &&
         problems[other].topic == problem.topic)) {
      best = other;
    }
  }
  return best;
}

}  // namespace

Problem& Problems::Add(int line, std::string what, std::string fix) {
  Problem& problem = problems_.emplace_back();
  problem.line = line;
  problem.what = std::move(what);
  problem.fix = std::move(fix);
  return problem;
}

Problem& Problems::Add(std::string subject, std::string what, std::string fix) {
  Problem& problem = Add(0, std::move(what), std::move(fix));
  problem.subject = std::move(subject);
  return problem;
}

std::vector<Problem> Settle(std::vector<Problem> problems) {
  std::vector<std::size_t> explainers(problems.size());
  for (std::size_t index = 0; index < problems.size(); ++index) {
    explainers[index] = ExplainerOf(problems, index);
  }
  for (std::size_t index = 0; index < problems.size(); ++index) {
    // Follow the chain to the problem that stays.
    std::size_t explainer = explainers[index];
    while (explainers[explainer] != explainer) explainer = explainers[explainer];
    if (explainer == index) continue;
    if (problems[explainer].java.empty()) problems[explainer].java = problems[index].java;
    explainers[index] = explainer;
  }
  std::vector<Problem> settled;
  for (std::size_t index = 0; index < problems.size(); ++index) {
    if (explainers[index] == index) settled.push_back(std::move(problems[index]));
  }
  std::stable_sort(settled.begin(), settled.end(),
                   [](const Problem& a, const Problem& b) { return Rank(a) < Rank(b); });
  return settled;
}

std::string PlaceOf(const Problem& problem) {
  return problem.line != 0 ? "line " + std::to_string(problem.line) : problem.subject;
}

}  // namespace launcher::check
