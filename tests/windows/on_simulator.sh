#!/usr/bin/env bash
# Runs a Windows program under wine against the simulated amplifier: kolmsim, a Linux program, links its
# pty as DIR/com<PORT>, and wine's registry maps COM<PORT> to that link. The wine prefix is made on first
# use, and anew when it cannot start the programs of the installed wine; wine reads the port mapping when
# its server starts, so a running server is ended first.
# With --input, the program reads FILE through a pipe, as a script piped into it would come.
# Usage: on_simulator.sh [--input FILE] KOLMSIM WINEPREFIX PORT PROGRAM [ARGS...]
set -euo pipefail
input=
if [ "${1:-}" = --input ]; then
  input=$2
  shift 2
fi
kolmsim=$1 prefix=$2 port=$3
shift 3
export WINEPREFIX=$prefix WINEDEBUG=-all
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
. "$(dirname "$0")/wine_prefix.sh"
wine_prefix_ready
wine reg add 'HKLM\Software\Wine\Ports' /v "COM$port" /d "$dir/com$port" /f >/dev/null 2>&1
wineserver -k || true
wineserver -w
# wine's own diagnostics go to stderr; the program's output is what the test looks at.
if [ -n "$input" ]; then
  cat -- "$input" | "$kolmsim" --quiet --com "$port" --port-dir "$dir" -- wine "$@" 2>/dev/null
else
  "$kolmsim" --quiet --com "$port" --port-dir "$dir" -- wine "$@" 2>/dev/null
fi
