#include "check/suggest.h"

#include <algorithm>
#include <cctype>

namespace launcher::check {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::string_view SimpleName(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

}  // namespace

std::size_t EditDistance(std::string_view a, std::string_view b) {
  // Three rows of the table: the one before the previous (for transpositions), the previous, and
  // the current.
  std::vector<std::size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        current[j] = std::min(current[j], before[j - 2] + 1);
      }
    }
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[b.size()];
}

std::optional<std::string> Closest(std::string_view given,
                                   const std::vector<std::string>& candidates) {
  constexpr std::size_t kMaxLength = 1000;  // beyond this nothing is a slip, and the table is big
  if (given.empty() || given.size() > kMaxLength) return std::nullopt;
  const std::size_t allowed = std::max<std::size_t>(1, given.size() / 4);
  const std::string lower = Lower(given);
  std::optional<std::string> best;
  std::size_t best_score = allowed + 1;
  for (const std::string& candidate : candidates) {
    if (candidate == given || candidate.size() > kMaxLength) continue;
    std::size_t score = EditDistance(given, candidate);
    if (Lower(candidate) == lower) score = 0;
    // A class given without its package, or in another one: its simple name matches.
    if (SimpleName(candidate) == SimpleName(given)) score = std::min<std::size_t>(score, 1);
    if (score < best_score) {
      best_score = score;
      best = candidate;
    }
  }
  return best;
}

}  // namespace launcher::check
