// Helpers that several areas of end-to-end tests share: text and the launcher's failure report.
#pragma once

#include <string>
#include <vector>

#include "tests/support/e2e.h"

namespace e2e {

// `text` with every occurrence of `from` replaced by `to`, scanning on after each replacement.
std::string Replace(std::string text, const std::string& from, const std::string& to);

// `text` split at line feeds; a final line feed gives a final empty entry.
std::vector<std::string> SplitLines(const std::string& text);

// Checks that `err` is exactly one unhandled-error report with `line2` as its second line:
// "An unhandled exception occurred at $ADDR:", line 2, "  $ADDR", at most 16 "  $RET" lines and
// an empty last line, each address 16 upper-case hexadecimal digits and $ADDR not zero.
void ExpectFailureReport(const std::string& err, const std::string& line2);

}  // namespace e2e
