#!/usr/bin/env bash
# Builds the library with clang's thread-safety analysis, warnings as errors: every field marked
# GUARDED_BY must be touched with its lock held.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-thread-safety -G Ninja -DPEKOLM_TESTS=OFF -DPEKOLM_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-Wthread-safety -Werror"
cmake --build build-thread-safety --target pekolm
