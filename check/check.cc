#include "check/check.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "check/configuration.h"
#include "check/dry_run.h"
#include "check/classes/files.h"
#include "check/options.h"
#include "check/outcome.h"
#include "check/render.h"
#include "check/rules/rules.h"
#include "check/settings_file.h"
#include "check/text.h"
#include "platform/report.h"
#include "platform/streams.h"
#include "platform/syscall.h"

namespace launcher::check {
namespace {

std::vector<std::string> g_arguments;

// Whether standard output still takes the report. A check whose reader has gone stops early: no
// Java is asked for nobody.
bool OutputFailed() { return StdOut().Failed(); }

// The check from its first section to its last. Returns the exit status, 0 or 1.
int Run(const Options& options, const ByteString& launcher_path) {
  Configuration configuration;
  char cwd[PATH_MAX];
  configuration.cwd = getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".";
  configuration.timeout = std::chrono::seconds(options.timeout_seconds);
  configuration.launcher = DescribeLauncher(options.launcher, launcher_path);
  ShowHeading(configuration);

  configuration.settings = ReadSettingsFile();
  ShowSettings(configuration);
  DescribeCommand(configuration);
  ShowJava(configuration);
  ShowCommand(configuration);
  DescribeApplication(configuration);
  if (OutputFailed()) return 1;

  const Outcome before_java = Predict(configuration);
  ShowVerdictHeading(configuration, before_java);
  if (before_java.kind == Outcome::Kind::kStartsJava) {
    StdOut().Flush();  // what was found so far is there while Java runs
    configuration.dry_run = RunDryRun(configuration.java.path.c_str(),
                                      DryRunArguments(configuration), configuration.timeout);
    if (configuration.dry_run->end == DryRun::End::kInterrupted) {
      EndBySignal(configuration.dry_run->status);
    }
    ShowVerdict(configuration);
  }
  const std::vector<Problem> problems = FindProblems(configuration);
  ShowProblems(configuration, problems, Predict(configuration));
  return problems.empty() ? 0 : 1;
}

}  // namespace

void SetArguments(int argc, char** argv) {
  g_arguments.assign(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
}

void RunCheck() {
  const Options options = ParseOptions(g_arguments);
  TextOutStream& err = StdErr();
  if (!options.error.empty()) {
    err.WriteLine({"launcher-check: ", options.error});
    err.WriteLine({kUsage});
    err.WriteLine({"Try 'launcher-check --help' for more."});
    ExitCode = 2;
    return;
  }
  if (options.help) {
    StdOut().Write({kHelp});
  } else {
    struct stat status {};
    const SysResult found = Sys([&] { return ::stat(options.launcher.c_str(), &status); });
    char real[PATH_MAX];
    if (!found.Ok() || !S_ISREG(status.st_mode) ||
        realpath(options.launcher.c_str(), real) == nullptr) {
      err.WriteLine({"launcher-check: ", ShortWord(options.launcher), ": ",
                     found.Ok() ? "not a file" : Describe(found.error)});
      err.WriteLine(
          {"Run launcher-check from the directory the launcher is started from, and "
           "name the launcher if it is not ./launcher: launcher-check /opt/app/launcher"});
      ExitCode = 2;
      return;
    }
    ExitCode = Run(options, ByteString(real));
  }
  // A report that did not reach its reader is no report: say so where it can still be read.
  if (!StdOut().Flush()) {
    const int error = StdOut().Error();
    err.WriteLine({"launcher-check: cannot write to standard output",
                   error != 0 ? ": " + Describe(error) : std::string()});
    ExitCode = 2;
  }
}

}  // namespace launcher::check
