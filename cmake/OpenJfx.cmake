# Where the JDK's javac and Debian's openjfx (the JavaFX modules) are, for the JavaFX examples
# and their tests; either may be missing, and then the examples are left out.
#   LAUNCHER_JAVAC        javac (looked up on PATH), or LAUNCHER_JAVAC-NOTFOUND
#   LAUNCHER_OPENJFX_LIB  the directory of the JavaFX modular JARs (Debian 12: package openjfx,
#                         /usr/share/openjfx/lib), or LAUNCHER_OPENJFX_LIB-NOTFOUND
#   LAUNCHER_JDK_HOME     the JDK that holds javac, when found
#   LAUNCHER_OPENJFX_JNI  the directory of JavaFX's native libraries for the build's processor
#                         (Debian 12: package libopenjfx-jni, /usr/lib/x86_64-linux-gnu/jni), or
#                         LAUNCHER_OPENJFX_JNI-NOTFOUND
#   LAUNCHER_BUNDLE_MISSING  why the movable bundle (examples/bundle) cannot be made for this
#                         build, or empty when it can
# The programs and directories found are cached; the other variables are set in the scope of each
# directory that includes this file.
include_guard(DIRECTORY)
find_program(LAUNCHER_JAVAC javac NO_CMAKE_SYSTEM_PATH)
find_path(LAUNCHER_OPENJFX_LIB javafx.controls.jar PATHS /usr/share/openjfx/lib
          DOC "The directory of the JavaFX modules (javafx.controls.jar and the others)")
if(LAUNCHER_JAVAC)
  file(REAL_PATH "${LAUNCHER_JAVAC}" javac_real)
  cmake_path(GET javac_real PARENT_PATH java_bin)
  cmake_path(GET java_bin PARENT_PATH LAUNCHER_JDK_HOME)
endif()
find_path(LAUNCHER_OPENJFX_JNI libglass.so PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/jni
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
          DOC "The directory of JavaFX's native libraries (libglass.so and the others)")

if(NOT LAUNCHER_JAVAC OR NOT LAUNCHER_OPENJFX_LIB)
  set(LAUNCHER_BUNDLE_MISSING "javac or the JavaFX modules (Debian: openjfx) not found")
elseif(NOT LAUNCHER_OPENJFX_JNI)
  # Debian 12 builds libopenjfx-jni for amd64 alone.
  string(CONCAT LAUNCHER_BUNDLE_MISSING
         "JavaFX's native libraries for ${CMAKE_SYSTEM_PROCESSOR} not found in "
         "/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/jni (Debian 12 has libopenjfx-jni for amd64 only)")
elseif(CMAKE_CROSSCOMPILING)
  set(LAUNCHER_BUNDLE_MISSING
      "jlink makes a runtime for the processor of the JDK that runs it, not the cross build's")
else()
  set(LAUNCHER_BUNDLE_MISSING "")
endif()
