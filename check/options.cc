#include "check/options.h"

#include <getopt.h>

#include <charconv>

#include "check/text.h"

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
    "found, 2 for a wrong command line or when standard output cannot be written; 217 when\n"
    "the check itself failed (it then writes a failure report to standard error).\n";

namespace {

bool ReadSeconds(std::string_view text, int& seconds) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  if (value < 1 || value > kMaxTimeoutSeconds) return false;
  seconds = value;
  return true;
}

// An argument of the command line as an error message quotes it: in single quotes, with what
// cannot be seen written out.
std::string Quote(std::string_view argument) {
  std::string quoted = "'";
  quoted.append(Printable(argument)).push_back('\'');
  return quoted;
}

// Argument `index` of getopt's vector.
std::string_view At(const std::vector<char*>& argv, int index) {
  return argv[static_cast<std::size_t>(index)];
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& arguments) {
  constexpr int kTimeout = 't';
  static constexpr option kLongOptions[] = {{"timeout", required_argument, nullptr, kTimeout},
                                            {"help", no_argument, nullptr, 'h'},
                                            {nullptr, 0, nullptr, 0}};
  // getopt_long reads a vector of its own, which it may reorder: options may follow LAUNCHER.
  std::vector<std::string> copies = {"launcher-check"};
  copies.insert(copies.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& copy : copies) argv.push_back(copy.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(argv.size() - 1);

  Options options;
  opterr = 0;  // the messages are the check's own, with the arguments shown safely
  optind = 0;  // starts the scan afresh (glibc)
  int found = 0;
  while (options.error.empty() &&
         (found = getopt_long(argc, argv.data(), ":h", kLongOptions, nullptr)) != -1) {
    switch (found) {
      case 'h':
        options.help = true;
        break;
      case kTimeout:
        if (!ReadSeconds(optarg, options.timeout_seconds)) {
          options.error = "--timeout needs a whole number of seconds from 1 to " +
                          std::to_string(kMaxTimeoutSeconds) + ", not " + Quote(optarg);
        }
        break;
      case ':':
        options.error = "--timeout needs a whole number of seconds from 1 to " +
                        std::to_string(kMaxTimeoutSeconds) + ", and none was given";
        break;
      default: {
        // An unknown short option is named by optopt; a long one (or one given an argument it
        // does not take) by the argument just passed.
        const bool short_option = optopt != 0 && optopt != 'h' && optopt != kTimeout;
        const std::string shown = short_option ? std::string("-") + static_cast<char>(optopt)
                                               : std::string(At(argv, optind - 1));
        options.error = "unknown option " + Quote(shown);
        break;
      }
    }
  }
  if (!options.error.empty()) return options;
  const int left = argc - optind;
  if (left > 1) {
    options.error = "more than one LAUNCHER: " + Quote(At(argv, optind)) + " and " +
                    Quote(At(argv, optind + 1));
  } else if (left == 1 && At(argv, optind).empty()) {
    options.error = "LAUNCHER is empty";
  } else if (left == 1) {
    options.launcher = std::string(At(argv, optind));
  }
  return options;
}

}  // namespace launcher::check
