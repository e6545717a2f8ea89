#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs the whole test suite.
# With --sanitize: the same in build-asan/, built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
build=build
options=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  options=(-DPEKOLM_SANITIZE=ON -DPEKOLM_BENCH=OFF)
fi
cmake -S . -B "$build" -G Ninja "${options[@]}"
cmake --build "$build"
# Most tests wait on the simulated line rather than compute, so they run well beyond the core count.
ctest --test-dir "$build" -j8 --output-on-failure
