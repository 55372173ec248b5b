#include "check/problems.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace launcher::check {
namespace {

Problem Make(int line, std::string what, Precision precision, std::string topic,
             std::vector<std::string> claims = {}, std::string java = "") {
  Problem problem;
  problem.line = line;
  problem.subject = line == 0 ? "java" : "";
  problem.what = std::move(what);
  problem.precision = precision;
  problem.topic = std::move(topic);
  problem.claims = std::move(claims);
  problem.java = std::move(java);
  return problem;
}

std::vector<std::string> Whats(const std::vector<Problem>& problems) {
  std::vector<std::string> whats;
  for (const Problem& problem : problems) whats.push_back(problem.what);
  return whats;
}

// Java's words go with the problem that explains them, wherever it is.
TEST(Settle, JavaGoesWithTheProblemThatClaimsItsTopic) {
  const std::vector<Problem> settled = Settle({
      Make(2, "entry missing", Precision::kFinding, "module path entries", {"module app.x"}),
      Make(3, "no module app.x", Precision::kJava, "module app.x", {}, "Module app.x not found"),
  });
  ASSERT_EQ(Whats(settled), std::vector<std::string>{"entry missing"});
  EXPECT_EQ(settled[0].java, "Module app.x not found");
}

// One precise problem, not a generic one followed by the precise one.
TEST(Settle, TheMostPreciseProblemAboutATopicStays) {
  const std::vector<Problem> settled = Settle({
      Make(4, "no class file", Precision::kFinding, "main class"),
      Make(4, "names a file", Precision::kDiagnosis, "main class"),
      Make(4, "no class", Precision::kJava, "main class", {}, "Could not find"),
  });
  ASSERT_EQ(Whats(settled), std::vector<std::string>{"names a file"});
  EXPECT_EQ(settled[0].java, "Could not find");
}

TEST(Settle, OfEquallyPreciseProblemsWithOneTopicTheFirstStays) {
  const std::vector<Problem> settled = Settle({
      Make(3, "no modules: empty", Precision::kFinding, "empty line 3"),
      Make(3, "no modules again", Precision::kFinding, "empty line 3"),
      Make(2, "blank at the end", Precision::kFinding, ""),
      Make(2, "blank at the end", Precision::kFinding, ""),
  });
  EXPECT_EQ(Whats(settled), (std::vector<std::string>{"blank at the end", "blank at the end",
                                                      "no modules: empty"}));
}

// A rule that names the cause claims the topic of what it causes: an equally precise problem about
// that topic is its consequence.
TEST(Settle, AClaimExplainsAnEquallyPreciseProblem) {
  const std::vector<Problem> settled = Settle({
      Make(2, "entry missing", Precision::kFinding, "module path entries", {"module a"}),
      Make(3, "no module a", Precision::kFinding, "module a"),
  });
  EXPECT_EQ(Whats(settled), std::vector<std::string>{"entry missing"});
}

TEST(Settle, AClaimNeverDropsWhatKnowsMore) {
  const std::vector<Problem> settled = Settle({
      Make(3, "no module a", Precision::kFinding, "module b", {"module a"}),
      Make(3, "a blank in a", Precision::kDiagnosis, "module a"),
  });
  EXPECT_EQ(Whats(settled), (std::vector<std::string>{"no module a", "a blank in a"}));
}

TEST(Settle, OfTwoThatClaimEachOthersTopicTheFirstStays) {
  const std::vector<Problem> settled = Settle({
      Make(1, "first", Precision::kDiagnosis, "a", {"b"}),
      Make(2, "second", Precision::kDiagnosis, "b", {"a"}, "Java's words"),
  });
  ASSERT_EQ(Whats(settled), std::vector<std::string>{"first"});
  EXPECT_EQ(settled[0].java, "Java's words");
}

TEST(Settle, ChainsEndAtTheProblemThatStays) {
  const std::vector<Problem> settled = Settle({
      Make(1, "shifted lines", Precision::kDiagnosis, "line order", {"main class", "java home"}),
      Make(4, "no class file", Precision::kFinding, "main class"),
      Make(4, "no class", Precision::kJava, "main class", {}, "Could not find"),
  });
  ASSERT_EQ(Whats(settled), std::vector<std::string>{"shifted lines"});
  EXPECT_EQ(settled[0].java, "Could not find");
}

TEST(Settle, OrderIsLauncherFileLinesThenTheRest) {
  Problem launcher = Make(0, "launcher", Precision::kFinding, "");
  launcher.subject = "launcher";
  Problem file = Make(0, "file", Precision::kFinding, "");
  file.subject = "init.ini";
  const std::vector<Problem> settled = Settle({
      Make(0, "java", Precision::kJava, "java exit"),
      Make(4, "four", Precision::kFinding, ""),
      file,
      Make(2, "two", Precision::kFinding, ""),
      launcher,
      Make(2, "two again", Precision::kFinding, ""),
  });
  EXPECT_EQ(Whats(settled),
            (std::vector<std::string>{"launcher", "file", "two", "two again", "four", "java"}));
  EXPECT_EQ(PlaceOf(settled[0]), "launcher");
  EXPECT_EQ(PlaceOf(settled[2]), "line 2");
}

}  // namespace
}  // namespace launcher::check
