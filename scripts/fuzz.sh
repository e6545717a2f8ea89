#!/usr/bin/env bash
# Builds the fuzz targets with clang in build-fuzz/ and runs each for SECONDS (default 60), starting from
# its regression corpus in tests/fuzz/corpus/<target>/. Fails on any finding: a crash, a sanitizer report,
# a leak, or an input that runs longer than 3 s (a query left waiting for its answer). The inputs that
# caused it are kept in build-fuzz/findings/. New inputs of a run go to a temporary copy of the corpus; the
# repository's corpus only seeds it.
#
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
targets=(frame_decoder_fuzz answer_fuzz)

scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DPEKOLM_FUZZ=ON -DPEKOLM_TESTS=OFF -DPEKOLM_BENCH=OFF
cmake --build build-fuzz --target "${targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings=build-fuzz/findings
mkdir -p "$findings"
export UBSAN_OPTIONS=print_stacktrace=1

status=0
for target in "${targets[@]}"; do
  corpus=tests/fuzz/corpus/$target
  mkdir -p "$work/$target"
  cp "$corpus"/* "$work/$target"/
  echo "== $target: ${seconds} s from $(ls "$corpus" | wc -l) corpus inputs"
  if ! "build-fuzz/bin/$target" -max_total_time="$seconds" -timeout=3 -print_final_stats=1 \
      -artifact_prefix="$findings/$target-" "$work/$target" "$corpus"; then
    echo "== $target: FINDING, see the report above and $findings/" >&2
    status=1
  fi
done
exit $status
