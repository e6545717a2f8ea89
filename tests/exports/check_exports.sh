#!/usr/bin/env bash
# The shared library must export its interface and nothing else.
set -euo pipefail
library=$1
expected=$2
actual=$(nm -D --defined-only "$library" | awk '{print $3}' | LC_ALL=C sort)
if ! diff <(LC_ALL=C sort "$expected") <(echo "$actual"); then
  echo "exports of $library differ from $expected (< missing, > unexpected)" >&2
  exit 1
fi
