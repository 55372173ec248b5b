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
// The settings are taken by value, so that a caller that no longer needs them can hand them
// over instead of keeping a second copy of a long value.
JavaArguments JavaArgumentsFor(ByteString ModulePath, ByteString AddModules,
                               const ByteString& LauncherDir, ByteString MainClass);

}  // namespace launcher
