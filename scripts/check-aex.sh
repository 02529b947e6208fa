#!/usr/bin/env bash
# Checks a built MorvekExposure.aex the way the host will meet it: a 64-bit
# Windows DLL that exports EntryPointFunc and nothing else, imports only
# Windows' own DLLs (the compiler runtime is linked in), and carries exactly
# the expected property list as resource "PIPL" 16000, language 1033.
#
#   scripts/check-aex.sh MorvekExposure.aex MorvekExposure.pipl
#
# The second file is the Windows form that the build generated; the resource
# in the module must hold the same bytes.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 MODULE.aex EXPECTED.pipl" >&2
  exit 2
fi
aex=$1
pipl=$2
prefix=${MORVEK_MINGW_PREFIX:-x86_64-w64-mingw32}
objdump=${prefix}-objdump
windres=${prefix}-windres

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Format: 64-bit PE.
format=$("$objdump" -f "$aex" | sed -n 's/.*file format //p')
[ "$format" = "pei-x86-64" ] || fail "file format is '$format', not pei-x86-64"

headers=$("$objdump" -p "$aex")
grep -Eq '^Magic[[:space:]]+020b' <<<"$headers" || fail "not a PE32+ image"
# IMAGE_FILE_DLL (0x2000) in the file characteristics.
characteristics=$(sed -n 's/^Characteristics[[:space:]]*0x//p' <<<"$headers" | head -n1)
if [ -z "$characteristics" ] || (((16#$characteristics & 0x2000) == 0)); then
  fail "not a DLL (characteristics 0x$characteristics)"
fi

# Exports: the names listed under the name-pointer table.
exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next}
               on && /^[[:space:]]*\[/ {sub(/^[[:space:]]*\[[^]]*\][[:space:]]*/, ""); print; next}
               on {on=0}' <<<"$headers")
if [ "$exports" != "EntryPointFunc" ]; then
  fail "exports are [$(tr '\n' ' ' <<<"$exports")], expected only EntryPointFunc"
fi

# Imports: every DLL must be part of Windows itself.
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
[ -n "$imports" ] || fail "no import table"
while read -r dll; do
  [ -n "$dll" ] || continue
  case "${dll,,}" in
  kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll | ntdll.dll | user32.dll | advapi32.dll) ;;
  *) fail "imports $dll, which is not a Windows system DLL" ;;
  esac
done <<<"$imports"

# Resource: windres lists the module's resources as a script; numbers ending
# in L are 32-bit little-endian words, the others 16-bit.
if ! script=$("$windres" -J coff -O rc -i "$aex" 2>&1); then
  fail "cannot read the module's resources: $script"
  script=""
fi
resources=$(grep -c '^/\* Type:' <<<"$script" || true)
[ "$resources" = "1" ] || fail "$resources resources, expected 1"
grep -q '^/\* Type: "PIPL"' <<<"$script" || fail "no resource of type \"PIPL\""
grep -q '^[[:space:]]*Name: 16000\.' <<<"$script" || fail "the resource's id is not 16000"
grep -q '^LANGUAGE 9, 1$' <<<"$script" || fail "the resource's language is not 1033 (9, 1)"
actual=$(awk '/^16000 "PIPL"/ {on=1; next}
              on && /^END/ {on=0}
              on && /^BEGIN/ {next}
              on {
                gsub(/,/, " ")
                for (i = 1; i <= NF; ++i) {
                  w = $i; long = (w ~ /L$/); sub(/L$/, "", w); sub(/^0x/, "", w)
                  n = long ? 8 : 4
                  while (length(w) < n) w = "0" w
                  for (j = n - 1; j >= 1; j -= 2) printf "%s\n", tolower(substr(w, j, 2))
                }
              }' <<<"$script")
expected=$(od -An -v -tx1 "$pipl" | tr -s ' \n' '\n' | sed '/^$/d')
if [ "$actual" != "$expected" ]; then
  fail "the PIPL resource ($(wc -l <<<"$actual") bytes) differs from $pipl ($(wc -c <"$pipl") bytes)"
fi

if [ "$failures" -ne 0 ]; then
  exit 1
fi
echo "$aex: exports EntryPointFunc only; imports $(tr '\n' ' ' <<<"$imports"); PIPL 16000 (1033) matches $pipl"
