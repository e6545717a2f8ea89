#!/usr/bin/env bash
# Runs a Windows program under wine in the given prefix (made on first use, and anew when it cannot start
# the programs of the installed wine), with its exit status.
# Usage: on_wine.sh WINEPREFIX PROGRAM [ARGS...]
set -euo pipefail
export WINEPREFIX=$1 WINEDEBUG=-all
shift
. "$(dirname "$0")/wine_prefix.sh"
wine_prefix_ready
exec wine "$@"
