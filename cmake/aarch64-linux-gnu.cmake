# Cross build for Linux on arm64 (aarch64) with Debian's cross toolchain (g++-aarch64-linux-gnu).
# Test programs run under qemu-user, and programs that the tests start themselves (the launcher,
# the stand-in java, the arm64 java) run through the binfmt_misc entry of qemu-aarch64
# (.ci/arm64-setup.sh sets both up). The dynamically linked ones find the arm64 loader and
# libraries where Debian's multiarch packages put them (/lib/ld-linux-aarch64.so.1,
# /usr/lib/aarch64-linux-gnu: libc6:arm64 and libstdc++6:arm64), as on an arm64 machine.
#
# qemu is not given the cross sysroot as its prefix (-L /usr/aarch64-linux-gnu): with a prefix,
# qemu-aarch64 7.2 leaves a child created by fork() spinning before its first system call, which
# hangs every death test; without one the child runs, and the binfmt entry runs programs without a
# prefix as well.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_ASM_COMPILER aarch64-linux-gnu-gcc)

find_program(LAUNCHER_QEMU_AARCH64 qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${LAUNCHER_QEMU_AARCH64})

# Libraries and headers for arm64: the cross sysroot and Debian's multiarch directories (the
# arm64 GoogleTest lives in /usr/lib/aarch64-linux-gnu). Programs (javac, bash, readelf) are the
# host's.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
