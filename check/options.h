// The check's command line: launcher-check [--timeout=SECONDS] [LAUNCHER], or --help.
#pragma once

#include <string>
#include <vector>

namespace launcher::check {

inline constexpr int kDefaultTimeoutSeconds = 60;
inline constexpr int kMaxTimeoutSeconds = 24 * 60 * 60;

struct Options {
  bool help = false;
  std::string launcher = "./launcher";  // the launcher whose directory is the class path
  int timeout_seconds = kDefaultTimeoutSeconds;
  std::string error;  // what is wrong with the command line; empty when it is right
};

// Reads the arguments after argument 0. "--timeout SECONDS" and "--timeout=SECONDS" take a whole
// number from 1 to kMaxTimeoutSeconds; "--" ends the options.
Options ParseOptions(const std::vector<std::string>& arguments);

inline constexpr char kUsage[] = "Usage: launcher-check [--timeout=SECONDS] [LAUNCHER]";

// The text of --help.
extern const char kHelp[];

}  // namespace launcher::check
