#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs the whole test suite.
# With --sanitize: the same in build-asan/, built with AddressSanitizer and UndefinedBehaviorSanitizer;
# with --threads: in build-tsan/, built with ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
build=build
options=()
case "${1:-}" in
  --sanitize) build=build-asan; options=(-DPEKOLM_SANITIZE=ON -DPEKOLM_BENCH=OFF) ;;
  --threads) build=build-tsan; options=(-DPEKOLM_TSAN=ON -DPEKOLM_BENCH=OFF) ;;
esac
cmake -S . -B "$build" -G Ninja "${options[@]}"
cmake --build "$build"
# Most tests wait on the simulated line rather than compute, so they run well beyond the core count.
ctest --test-dir "$build" -j8 --output-on-failure
