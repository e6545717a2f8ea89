#!/usr/bin/env bash
# The DLL must export exactly the names of the .def file, each at its ordinal.
# Usage: check_dll_exports.sh OBJDUMP DLL DEF
set -euo pipefail
objdump=$1 dll=$2 def=$3
expected=$(awk '/^ +[^;]/ && $0 ~ /@[0-9]+/ { print $1, substr($NF, 2) }' "$def" | LC_ALL=C sort)
headers=$("$objdump" -p "$dll")
base=$(awk '/^Ordinal Base/ { print $3; exit }' <<<"$headers")
actual=$(awk -v base="$base" '/^\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
                       table && /^$/ { exit }
                       table { gsub(/[][]/, " "); print $2, $1 + base }' <<<"$headers" | LC_ALL=C sort)
if ! diff <(echo "$expected") <(echo "$actual"); then
  echo "exports of $dll differ from $def (< missing, > unexpected; name ordinal)" >&2
  exit 1
fi
