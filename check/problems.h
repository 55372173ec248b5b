// The problems the check found, and how they are put together for a person: Java's own words go
// with the problem that explains them, and the problems are ordered as they are to be fixed.
#pragma once

#include <string>
#include <vector>

namespace launcher::check {

// How much a problem knows of its cause. Java's verdict names the first thing Java missed; a rule's
// finding says what the files show; a diagnosis names a mistake and its remedy.
enum class Precision { kJava, kFinding, kDiagnosis };

struct Problem {
  int line = 0;         // the line of init.ini to fix, 1 to 4; 0 when it is no one line
  std::string subject;  // for line 0: what the problem is about ("launcher", "init.ini", "java",
                        // "command", "environment", "classes")
  std::string what;     // what is wrong, for a person
  std::string java;     // Java's own words about it, when Java said something
  std::string fix;      // how to fix it
  Precision precision = Precision::kFinding;
  // What the problem is about, as a key the rules share ("module app.x", "main class", "empty
  // line 2"); empty when no other problem can be about the same.
  std::string topic;
  std::vector<std::string> claims;  // further topics it explains
};

// Problems as the rules add them.
class Problems {
 public:
  // Adds a problem on `line` (0 with a subject) and returns it, so that its topic and claims can
  // be set.
  Problem& Add(int line, std::string what, std::string fix);
  Problem& Add(std::string subject, std::string what, std::string fix);
  void Add(Problem problem) { problems_.push_back(std::move(problem)); }

  const std::vector<Problem>& all() const { return problems_; }
  std::vector<Problem> Take() { return std::move(problems_); }

 private:
  std::vector<Problem> problems_;
};

// The problems put together. A problem is about its topic and the topics it claims. A problem is
// dropped when another explains it: one about its topic that knows more (a higher precision), or
// as much and claims its topic (a rule that names the cause; of two that claim each other's, the
// first), or as much with the same topic and found earlier. The problem that stays takes the Java
// words of those it explains. Then the launcher file comes first, init.ini second, the lines in
// their order, the rest last, each group in the order the problems were found.
std::vector<Problem> Settle(std::vector<Problem> problems);

// Where the problem is, for a person: "line 3", or its subject.
std::string PlaceOf(const Problem& problem);

}  // namespace launcher::check
