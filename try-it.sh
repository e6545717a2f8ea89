#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs the example program against a simulated amplifier.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
exec build/bin/kolmsim --com 1 -- build/bin/kolmdemo 1
