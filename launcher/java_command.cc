#include "launcher/java_command.h"

#include <utility>

namespace launcher {

ByteString JavaExecutableFor(ByteString& JavaHome) {
  if (JavaHome.empty()) return "java";
  if (JavaHome.back() != '/') JavaHome.Append('/');
  return JavaHome + "bin/java";
}

JavaArguments JavaArgumentsFor(ByteString ModulePath, ByteString AddModules,
                               const ByteString& LauncherDir, ByteString MainClass) {
  return {"--module-path", std::move(ModulePath), "--add-modules",     std::move(AddModules),
          "-classpath",    LauncherDir + "/",     std::move(MainClass)};
}

}  // namespace launcher
