#!/usr/bin/env bash
# Reads the built launcher and fails when a protection of the hardened build is missing:
#   PIE           ELF type DYN with the PIE flag in DT_FLAGS_1
#   full RELRO    a GNU_RELRO segment, and BIND_NOW (DT_FLAGS BIND_NOW or DT_FLAGS_1 NOW)
#   canary        __stack_chk_fail referenced, or the canary load (%fs:0x28) in the code
#   fortify       at least one __*_chk function of the C library in use
#   CET           IBT and SHSTK in .note.gnu.property of every object built from the launcher's
#                 sources, and of the executable itself whenever the toolchain's start files
#                 carry them (the linker keeps a property only if every input has it)
# Usage: check_hardening.sh LAUNCHER "OBJECT;OBJECT;..."
set -uo pipefail

binary=$1
IFS=';' read -r -a objects <<<"${2:-}"
failures=0
fail() { echo "MISSING: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

header=$(readelf -h "$binary") || { echo "cannot read $binary"; exit 1; }
dynamic=$(readelf -d "$binary" 2>/dev/null)
segments=$(readelf -lW "$binary")
symbols=$(readelf -sW --dyn-syms "$binary" | awk '{print $8}' | sed 's/@.*//' | sort -u)

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

if grep -qx '__stack_chk_fail' <<<"$symbols"; then
  pass "stack protector (__stack_chk_fail referenced)"
elif objdump -d --no-show-raw-insn "$binary" | grep -q '%fs:0x28'; then
  pass "stack protector (canary loads in the code)"
else
  fail "stack protector (no __stack_chk_fail, no canary)"
fi

checked=$(grep -E '^__[a-z_]+_chk$' <<<"$symbols" | grep -v '^__stack_chk' | tr '\n' ' ')
if [[ -n $checked ]]; then
  pass "_FORTIFY_SOURCE (${checked% })"
else
  fail "_FORTIFY_SOURCE (no __*_chk function in use)"
fi

has_cet() { readelf -n "$1" 2>/dev/null | grep -Eq 'x86 feature: .*IBT.*SHSTK'; }
unmarked=()
for object in "${objects[@]}"; do
  [[ -n $object ]] || continue
  has_cet "$object" || unmarked+=("$object")
done
if ((${#objects[@]} == 0)); then
  fail "CET: no object files given to check"
elif ((${#unmarked[@]})); then
  fail "CET (IBT, SHSTK) in: ${unmarked[*]}"
else
  pass "CET (IBT, SHSTK) in all ${#objects[@]} objects of the launcher's sources"
fi
if has_cet "$binary"; then
  pass "CET (IBT, SHSTK) in the executable"
else
  toolchain_unmarked=()
  for start in crt1.o Scrt1.o crti.o crtn.o; do
    path=$(${CC:-gcc} -print-file-name="$start")
    [[ -f $path ]] && ! has_cet "$path" && toolchain_unmarked+=("$path")
  done
  if ((${#toolchain_unmarked[@]})); then
    echo "note: the executable carries no CET property because the C library's start files" \
         "lack it: ${toolchain_unmarked[*]}"
  else
    fail "CET (IBT, SHSTK) in the executable, though every start file carries it"
  fi
fi

if ((failures)); then
  echo "$failures protection(s) missing in $binary"
  exit 1
fi
echo "all protections present in $binary"
