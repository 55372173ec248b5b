#include "launcher/driver.h"

#include <sys/wait.h>

#include <utility>

#include "launcher/java_command.h"
#include "launcher/settings.h"
#include "platform/errors.h"
#include "platform/own_path.h"
#include "platform/process.h"
#include "platform/report.h"

namespace launcher {

void RunDriver() {
  const ByteString LauncherPath = OwnPath();
  const ByteString LauncherDir = DirectoryPart(LauncherPath);

  ByteString JavaHome;
  ByteString ModulePath;
  ByteString AddModules;
  ByteString MainClass;
  try {
    ReadSettings(JavaHome, ModulePath, AddModules, MainClass);
  } catch (const EInOutError&) {
    // A missing or unreadable init.ini is not an error: go on with what was read.
  }

  // The settings are handed on to the command line rather than copied: a value may be as long
  // as memory allows, and the launcher holds at most two copies of it at any time.
  ByteString JavaExecutable = JavaExecutableFor(JavaHome);
  JavaHome = ByteString();
  JavaArguments arguments = JavaArgumentsFor(std::move(ModulePath), std::move(AddModules),
                                             LauncherDir, std::move(MainClass));

  TProcess process;
  process.SetExecutable(std::move(JavaExecutable));
  for (ByteString& argument : arguments) process.Parameters().push_back(std::move(argument));
  process.SetOptions(process.Options() + poWaitOnExit);
  process.Execute();

  // Java's end is the launcher's: its exit code, or the signal that ended it, so that whoever
  // started the launcher sees what it would have seen from Java itself.
  const int status = process.ExitStatus();
  if (status >= 0) {
    ExitCode = status;
  } else {
    ExitSignal = WTERMSIG(-status);
  }
}

}  // namespace launcher
