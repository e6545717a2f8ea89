#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy: bugprone, performance and concurrency checks, warnings as errors) over the
# library, the console, the simulator, the recorder and the scanner. Tests, fuzz targets and benchmarks are
# left out: they misuse on purpose what the checks look for.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-tidy -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DPEKOLM_TESTS=OFF -DPEKOLM_BENCH=OFF >/dev/null
# The Windows files are left to the Windows build: this tree has no compile commands for them.
git ls-files 'devicelib/*.cpp' 'console/*.cpp' 'simulator/*.cpp' 'recorder/*.cpp' 'scanner/*.cpp' | grep -v 'windows' |
  xargs -P 2 -n 8 clang-tidy -p build-tidy --quiet
