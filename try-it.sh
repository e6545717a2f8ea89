#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and starts the console against a simulated amplifier.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
cat <<'TEXT'

kolmconsole starts on a simulated amplifier linked as port 1.
  Type 1 at "ComNr. eingeben:" and 115200 at "Baudrate eingeben:", each followed by Enter,
  then any key to start the display. Single keys run commands; q, then any key, ends it.
  A noise recording (key a) writes build/Daten.txt.

TEXT
# In build/, so that Daten.txt does not land in the source tree.
cd build
exec bin/kolmsim --com 1 --quiet -- bin/kolmconsole
