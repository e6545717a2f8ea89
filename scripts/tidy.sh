#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy: bugprone, performance and concurrency checks, warnings as errors) over the
# library, the console and the simulator. Tests, fuzz targets and benchmarks are left out: they misuse on
# purpose what the checks look for.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-tidy -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DPEKOLM_TESTS=OFF -DPEKOLM_BENCH=OFF >/dev/null
git ls-files 'devicelib/*.cpp' 'console/*.cpp' 'simulator/*.cpp' | xargs -P 2 -n 8 clang-tidy -p build-tidy --quiet
