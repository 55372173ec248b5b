# Where the JDK's javac and Debian's openjfx (the JavaFX modules) are, for the JavaFX example
# and its test; either may be missing, and then both are left out.
#   LAUNCHER_JAVAC        javac (looked up on PATH), or LAUNCHER_JAVAC-NOTFOUND
#   LAUNCHER_OPENJFX_LIB  the directory of the JavaFX modular JARs (Debian 12: package openjfx,
#                         /usr/share/openjfx/lib), or LAUNCHER_OPENJFX_LIB-NOTFOUND
#   LAUNCHER_JDK_HOME     the JDK that holds javac, when found
include_guard(GLOBAL)
find_program(LAUNCHER_JAVAC javac NO_CMAKE_SYSTEM_PATH)
find_path(LAUNCHER_OPENJFX_LIB javafx.controls.jar PATHS /usr/share/openjfx/lib
          DOC "The directory of the JavaFX modules (javafx.controls.jar and the others)")
if(LAUNCHER_JAVAC)
  file(REAL_PATH "${LAUNCHER_JAVAC}" javac_real)
  cmake_path(GET javac_real PARENT_PATH java_bin)
  cmake_path(GET java_bin PARENT_PATH LAUNCHER_JDK_HOME)
endif()
