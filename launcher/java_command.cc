#include "launcher/java_command.h"

namespace launcher {

ByteString JavaExecutableFor(ByteString& JavaHome) {
  if (JavaHome.empty()) return "java";
  if (JavaHome.back() != '/') JavaHome.Append('/');
  return JavaHome + "bin/java";
}

JavaArguments JavaArgumentsFor(const ByteString& ModulePath, const ByteString& AddModules,
                               const ByteString& LauncherDir, const ByteString& MainClass) {
  return {"--module-path", ModulePath, "--add-modules", AddModules,
          "-classpath",    LauncherDir + "/", MainClass};
}

}  // namespace launcher
