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

bool Claims(const Problem& problem, const std::string& topic) {
  return std::find(problem.claims.begin(), problem.claims.end(), topic) != problem.claims.end();
}

bool IsAbout(const Problem& problem, const std::string& topic) {
  return !topic.empty() && (problem.topic == topic || Claims(problem, topic));
}

// Whether problems[other] explains problems[index]: it is about the other's topic and knows more;
// or it knows as much and claims that topic (it names the cause; of two that claim each other's,
// the first); or it knows as much, has the same topic and was found first.
bool Explains(const std::vector<Problem>& problems, std::size_t other, std::size_t index) {
  const Problem& problem = problems[index];
  const Problem& candidate = problems[other];
  if (other == index || !IsAbout(candidate, problem.topic)) return false;
  if (candidate.precision != problem.precision) return candidate.precision > problem.precision;
  if (Claims(candidate, problem.topic)) return !Claims(problem, candidate.topic) || other < index;
  return other < index;
}

// The problem that explains `problems[index]` in its place: the first of the most precise
// problems that explain it, or itself when none does.
std::size_t ExplainerOf(const std::vector<Problem>& problems, std::size_t index) {
  std::size_t best = index;
  for (std::size_t other = 0; other < problems.size(); ++other) {
    if (!Explains(problems, other, index)) continue;
    if (best == index || problems[other].precision > problems[best].precision) best = other;
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
    // Follow the chain to the problem that stays (a chain that comes back stops where it would).
    std::size_t explainer = explainers[index];
    for (std::size_t steps = 0; explainers[explainer] != explainer && steps < problems.size();
         ++steps) {
      explainer = explainers[explainer];
    }
    if (explainers[explainer] != explainer) explainer = index;
    explainers[index] = explainer;
    if (explainer == index) continue;
    if (problems[explainer].java.empty()) problems[explainer].java = problems[index].java;
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
