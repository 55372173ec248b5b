// The Java command line: the program to start and its seven arguments.
#pragma once

#include <array>

#include "platform/byte_string.h"

namespace launcher {

inline constexpr std::size_t kJavaArgumentCount = 7;
using JavaArguments = std::array<ByteString, kJavaArgumentCount>;

// The Java program: "java" when JavaHome is empty (found through the working directory and
// PATH), otherwise JavaHome with a "/" appended to it unless it ends in one, then "bin/java".
ByteString JavaExecutableFor(ByteString& JavaHome);

// --module-path ModulePath --add-modules AddModules -classpath LauncherDir/ MainClass: one entry
// each, empty ones included. The class path is LauncherDir followed by "/" whatever it ends in.
JavaArguments JavaArgumentsFor(const ByteString& ModulePath, const ByteString& AddModules,
                               const ByteString& LauncherDir, const ByteString& MainClass);

}  // namespace launcher
