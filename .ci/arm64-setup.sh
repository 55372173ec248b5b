#!/usr/bin/env bash
# Prepares an x86-64 Debian 12 machine to build the launcher for arm64 (aarch64) and to run the
# arm64 programs under qemu-user: the cross compiler, qemu-user-static with its binfmt_misc entry,
# GoogleTest and the Java runtime for arm64. Run as root; reads no input; installs only what is
# missing and can be run again. Ends with a non-zero status and a message saying what is wrong
# when the machine cannot run arm64 programs.
set -euo pipefail

die() { echo "arm64-setup: $*" >&2; exit 1; }
(($(id -u) == 0)) || die "needs root (it installs packages and registers qemu with binfmt_misc)"

export DEBIAN_FRONTEND=noninteractive

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# The foreign architecture first: the arm64 GoogleTest and Java packages come from it.
dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64

# Packages of another architecture that are "Multi-Arch: same" must match the version of the
# host's copy, so the host's copies of shared libraries may be upgraded along with them.
# libc6 and libstdc++6 for arm64 hold the loader and libraries that the dynamically linked arm64
# test programs load under qemu (from /lib and /usr/lib/aarch64-linux-gnu, as on arm64).
packages=(g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user-static binfmt-support
          libc6:arm64 libstdc++6:arm64 libgtest-dev:arm64 openjdk-17-jre-headless:arm64)
missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
if ((${#missing[@]})); then
  apt-get update -qq || die "apt-get update failed"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
    die "could not install: ${missing[*]}"
fi

for tool in aarch64-linux-gnu-g++ aarch64-linux-gnu-objdump qemu-aarch64-static; do
  command -v "$tool" >/dev/null || die "$tool is missing after the installation"
done
[[ -f /usr/lib/aarch64-linux-gnu/libgtest.a ]] || die "GoogleTest for arm64 is missing"
[[ -e /lib/ld-linux-aarch64.so.1 ]] || die "the arm64 loader (libc6:arm64) is missing"
[[ -x /usr/lib/jvm/java-17-openjdk-arm64/bin/java ]] || die "the arm64 Java runtime is missing"

# binfmt_misc lets the kernel start an arm64 program through qemu, as the end-to-end tests do
# with the arm64 launcher and the arm64 java.
binfmt=/proc/sys/fs/binfmt_misc
if [[ ! -e $binfmt/register ]]; then
  mount -t binfmt_misc binfmt_misc "$binfmt" ||
    die "cannot mount binfmt_misc on $binfmt (a container needs the privilege to mount it)"
fi
if [[ ! -e $binfmt/qemu-aarch64 ]] || ! grep -qx enabled "$binfmt/qemu-aarch64"; then
  update-binfmts --enable qemu-aarch64 >/dev/null 2>&1 || true
fi
if [[ ! -e $binfmt/qemu-aarch64 ]]; then
  # Registered by hand: the ELF header of an arm64 executable (class 64, little-endian,
  # machine 0xb7), with flag F so that the interpreter is opened now and works inside any
  # mount namespace or chroot later.
  printf '%s' ':qemu-aarch64:M::\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00:\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-aarch64-static:F' \
    >"$binfmt/register" || die "cannot register qemu-aarch64 with binfmt_misc"
fi
grep -qx enabled "$binfmt/qemu-aarch64" || echo 1 >"$binfmt/qemu-aarch64"
grep -qx enabled "$binfmt/qemu-aarch64" || die "the qemu-aarch64 binfmt entry is not enabled"
grep -q '^flags:.*F' "$binfmt/qemu-aarch64" ||
  echo "arm64-setup: note: the qemu-aarch64 entry lacks flag F; it works while the interpreter's path is visible" >&2

# The proof: a static arm64 program, started as a program, runs and returns its status.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf 'int main(void) { return 42; }\n' >"$probe/probe.c"
aarch64-linux-gnu-gcc -static -o "$probe/probe" "$probe/probe.c" ||
  die "the cross compiler cannot link a static arm64 program"
set +e
"$probe/probe"
status=$?
set -e
((status == 42)) || die "an arm64 program does not run here (status $status): binfmt_misc and qemu-aarch64-static are not working"
aarch64-linux-gnu-gcc -o "$probe/probe-dynamic" "$probe/probe.c" ||
  die "the cross compiler cannot link a dynamically linked arm64 program"
set +e
"$probe/probe-dynamic"
status=$?
set -e
((status == 42)) || die "a dynamically linked arm64 program does not run here (status $status)"
/usr/lib/jvm/java-17-openjdk-arm64/bin/java -version >/dev/null 2>&1 ||
  die "the arm64 java does not start under emulation"
echo "arm64-setup: cross compiler, qemu-aarch64 (binfmt), GoogleTest and Java for arm64 are ready"
