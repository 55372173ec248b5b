#include "check/options.h"

#include <charconv>

namespace launcher::check {

const char kHelp[] =
    "Usage: launcher-check [--timeout=SECONDS] [LAUNCHER]\n"
    "\n"
    "Shows how the launcher LAUNCHER (default ./launcher) would start the Java application\n"
    "from the current directory, and what keeps the application from starting. Run it from\n"
    "the directory the launcher is started from: the launcher reads init.ini from its working\n"
    "directory, and its own directory is the class path.\n"
    "\n"
    "It shows init.ini as the launcher reads it, the java the launcher would start, the exact\n"
    "command, and Java's verdict on that command with --dry-run (Java sets up the modules and\n"
    "loads the main class without running it); then each problem found, with the line of\n"
    "init.ini to fix and how. It changes nothing and writes no file.\n"
    "\n"
    "Options:\n"
    "  --timeout=SECONDS  stop Java's dry run after this many seconds (default 60)\n"
    "  --help             show this text\n"
    "\n"
    "Exit status: 0 when the launcher would start the application, 1 when a problem was\n"
    "found, 2 for a wrong command line; 217 when the check itself failed (it then writes a\n"
    "failure report to standard error).\n";

namespace {

bool ReadSeconds(const std::string& text, int& seconds) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  if (value < 1 || value > kMaxTimeoutSeconds) return false;
  seconds = value;
  return true;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& arguments) {
  Options options;
  bool launcher_given = false;
  bool options_ended = false;
  for (std::size_t i = 0; i < arguments.size() && options.error.empty(); ++i) {
    const std::string& argument = arguments[i];
    if (!options_ended && argument == "--") {
      options_ended = true;
    } else if (!options_ended && (argument == "--help" || argument == "-h")) {
      options.help = true;
    } else if (!options_ended && (argument == "--timeout" || argument.starts_with("--timeout="))) {
      std::string seconds;
      if (argument != "--timeout") {
        seconds = argument.substr(10);
      } else if (i + 1 < arguments.size()) {
        seconds = arguments[++i];
      }
      if (!ReadSeconds(seconds, options.timeout_seconds)) {
        options.error = "--timeout needs a whole number of seconds from 1 to " +
                        std::to_string(kMaxTimeoutSeconds) + ", not '" + seconds + "'";
      }
    } else if (!options_ended && argument.size() > 1 && argument[0] == '-') {
      options.error = "unknown option '" + argument + "'";
    } else if (launcher_given) {
      options.error = "more than one LAUNCHER: '" + options.launcher + "' and '" + argument + "'";
    } else if (argument.empty()) {
      options.error = "LAUNCHER is empty";
    } else {
      options.launcher = argument;
      launcher_given = true;
    }
  }
  return options;
}

}  // namespace launcher::check
