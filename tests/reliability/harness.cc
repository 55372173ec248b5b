#include "tests/reliability/harness.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/helpers.h"

namespace reliability {

e2e::RunResult RunTraced(const std::vector<std::string>& strace_args, const std::string& trace_path,
                         const std::string& program, const e2e::RunOptions& options) {
  const std::string setarch = e2e::FindTool("setarch", e2e::kSystemToolPath);
  const std::string strace = e2e::FindTool("strace", e2e::kSystemToolPath);
  if (setarch.empty() || strace.empty()) {
    ADD_FAILURE() << "strace and setarch (packages strace, util-linux) are needed";
    return {};
  }
  return e2e::RunUnderStrace(strace, strace_args, trace_path, program, options,
                             {.follow_children = true, .setarch = setarch});
}

std::vector<TracedCall> CallsIn(const std::string& trace_path, const std::string& name) {
  // "PID name(args) = result", or "PID name(args <unfinished ...>" when another process
  // interleaves; the matching "<... name resumed>" line is not a call of its own.
  std::vector<TracedCall> calls;
  std::ifstream trace(trace_path);
  std::string line;
  while (std::getline(trace, line)) {
    // strace pads the process ID to a common width: "300   name(" as well as "12345 name(".
    const auto space = line.find(' ');
    if (space == std::string::npos) continue;
    const auto start = line.find_first_not_of(' ', space);
    if (start == std::string::npos) continue;
    const std::string text = line.substr(start);
    if (text.compare(0, name.size() + 1, name + "(") != 0) continue;
    calls.push_back({static_cast<pid_t>(std::stol(line.substr(0, space))), text});
  }
  return calls;
}

}  // namespace reliability
