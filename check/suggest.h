// "Did you mean": the name among the ones that exist that is closest to a name given, when it is
// close enough to be the one meant.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher::check {

// The edit distance of `a` and `b`: insertions, deletions, substitutions and transpositions of
// two neighbouring bytes, each counting 1 (the optimal string alignment distance).
std::size_t EditDistance(std::string_view a, std::string_view b);

// The candidate closest to `given`, when it differs from it but is close enough to be a slip: at
// most one edit in four bytes (at least one), or the same name in another case, or, for a class,
// the same simple name in another package (Main for app.Main). The first of equally close ones.
std::optional<std::string> Closest(std::string_view given,
                                   const std::vector<std::string>& candidates);

}  // namespace launcher::check
