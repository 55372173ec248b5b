#!/usr/bin/env bash
# Reads the built launcher and fails when a protection of the hardened build is missing:
#   PIE           ELF type DYN with the PIE flag in DT_FLAGS_1
#   full RELRO    a GNU_RELRO segment, and BIND_NOW (DT_FLAGS BIND_NOW or DT_FLAGS_1 NOW)
#   canary        calls to __stack_chk_fail in the code
#   fortify       calls to a checking function of the C library (__snprintf_chk, __memcpy_chk...)
# The two are read from the call sites, not from the symbol table: a C library linked in
# statically defines these functions whether or not the launcher's code calls them.
#   CET           IBT and SHSTK in .note.gnu.property of every object built from the launcher's
#                 sources, and of the executable itself unless the system C library's start files
#                 or archive, linked in statically, lack them (the linker keeps a property only if
#                 every input has it)
# On an arm64 (AArch64) binary the control-flow protection is branch target identification and
# pointer authentication: BTI and PAC in the AArch64 feature property, read the same way; the code
# is disassembled with the cross binutils (aarch64-linux-gnu-objdump), whose calls are "bl" and
# tail calls "b".
# _FORTIFY_SOURCE needs optimisation: a Debug build goes without it and a build with no build type
# is not optimised, so for these two the check says so and leaves that one protection out.
# Usage: check_hardening.sh LAUNCHER "OBJECT;OBJECT;..." build-type=TYPE   (TYPE may be empty)
set -uo pipefail

binary=$1
IFS=';' read -r -a objects <<<"${2:-}"
[[ ${3-} == build-type=* ]] || { echo "usage: $0 LAUNCHER OBJECTS build-type=TYPE"; exit 1; }
build_type=${3#build-type=}
failures=0
fail() { echo "MISSING: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

header=$(readelf -h "$binary") || { echo "cannot read $binary"; exit 1; }
if grep -Eq 'Machine:[[:space:]]*AArch64' <<<"$header"; then
  objdump=aarch64-linux-gnu-objdump
  call_pattern='(bl|b)[[:space:]]+[0-9a-f]+ <[^>+]+>'
  feature_pattern='AArch64 feature: .*BTI.*PAC'
  feature_name="BTI, PAC"
  cc=${CC:-aarch64-linux-gnu-gcc}
else
  objdump=objdump
  call_pattern='(call|jmp) +[0-9a-f]+ <[^>+]+>'
  feature_pattern='x86 feature: .*IBT.*SHSTK'
  feature_name="CET (IBT, SHSTK)"
  cc=${CC:-gcc}
fi
command -v "$objdump" >/dev/null || { echo "$objdump is needed to read $binary"; exit 1; }
dynamic=$(readelf -d "$binary" 2>/dev/null)
segments=$(readelf -lW "$binary")

if grep -q 'Type:[[:space:]]*DYN' <<<"$header" && grep -Eq 'FLAGS_1.*\bPIE\b' <<<"$dynamic"; then
  pass "position-independent executable"
else
  fail "PIE (ELF type DYN with DF_1_PIE)"
fi

grep -q 'GNU_RELRO' <<<"$segments" && pass "GNU_RELRO segment" || fail "GNU_RELRO segment"
if grep -Eq '\(FLAGS\).*\bBIND_NOW\b' <<<"$dynamic" || grep -Eq 'FLAGS_1.*\bNOW\b' <<<"$dynamic"; then
  pass "BIND_NOW (full RELRO)"
else
  fail "BIND_NOW (full RELRO needs -z now)"
fi

# Calls and tail calls, direct or through the PLT: "call 1234 <__stack_chk_fail@plt>".
called=$("$objdump" -d --no-show-raw-insn "$binary" |
         grep -oE "$call_pattern" | sed -E 's/.*<([^@>]+).*/\1/' | sort | uniq -c)
canaries=$(awk '$2 == "__stack_chk_fail" {print $1}' <<<"$called")
if [[ -n $canaries ]]; then
  pass "stack protector ($canaries calls to __stack_chk_fail)"
else
  fail "stack protector (no call to __stack_chk_fail)"
fi

checked=$(awk '$2 ~ /^__[a-z0-9_]+_chk$/ && $2 != "__stack_chk_fail" && $2 != "__chk_fail" {
                 printf "%s%s", sep, $2; sep = " " }' <<<"$called")
skipped=""
case ${build_type,,} in
  debug) skipped="_FORTIFY_SOURCE, which a Debug build goes without (it needs optimisation)" ;;
  "") skipped="_FORTIFY_SOURCE, which has no effect with no build type (nothing is optimised)" ;;
  *)
    if [[ -n $checked ]]; then
      pass "_FORTIFY_SOURCE (calls $checked)"
    else
      fail "_FORTIFY_SOURCE (no call to a checking function __*_chk)"
    fi ;;
esac
[[ -z $skipped ]] || echo "skipped: $skipped"

has_cfi() { grep -Eq "$feature_pattern" <<<"$(readelf -n "$1" 2>/dev/null)"; }
unmarked=()
for object in "${objects[@]}"; do
  [[ -n $object ]] || continue
  has_cfi "$object" || unmarked+=("$object")
done
if ((${#objects[@]} == 0)); then
  fail "$feature_name: no object files given to check"
elif ((${#unmarked[@]})); then
  fail "$feature_name in: ${unmarked[*]}"
else
  pass "$feature_name in all ${#objects[@]} objects of the launcher's sources"
fi
if has_cfi "$binary"; then
  pass "$feature_name in the executable"
elif ((${#unmarked[@]} == 0)) && grep -q '__libc_start_main' <<<"$(readelf -sW --dyn-syms "$binary")"; then
  # Linked with the system C library's start-up (statically: its start files, rcrt1.o for a
  # static PIE, and its archive): the property needs every one of those inputs to carry it.
  toolchain_unmarked=()
  for start in crt1.o Scrt1.o rcrt1.o crti.o crtn.o; do
    path=$(realpath -m "$($cc -print-file-name="$start")")
    [[ -f $path ]] && ! has_cfi "$path" && toolchain_unmarked+=("$path")
  done
  archive=$(realpath -m "$($cc -print-file-name=libc.a)")
  if [[ -f $archive ]]; then
    scratch=$(mktemp -d)
    (cd "$scratch" && ar x "$archive" libc-start.o 2>/dev/null)
    [[ -f $scratch/libc-start.o ]] && ! has_cfi "$scratch/libc-start.o" &&
      toolchain_unmarked+=("$archive (libc-start.o)")
    rm -rf "$scratch"
  fi
  if ((${#toolchain_unmarked[@]})); then
    echo "note: the executable carries no $feature_name property because the C library's start" \
         "files and archive lack it: ${toolchain_unmarked[*]}"
  else
    fail "$feature_name in the executable, though every start file carries it"
  fi
elif ((${#unmarked[@]} == 0)); then
  fail "$feature_name in the executable, though every object of the launcher carries it"
fi

if ((failures)); then
  echo "$failures protection(s) missing in $binary"
  exit 1
fi
echo "all protections present in $binary${skipped:+, but for the one skipped above}"
