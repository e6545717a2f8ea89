#!/usr/bin/env bash
# Runs a Windows program under wine in the given prefix (made on first use), with its exit status.
# Usage: on_wine.sh WINEPREFIX PROGRAM [ARGS...]
set -euo pipefail
export WINEPREFIX=$1 WINEDEBUG=-all
shift
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
exec wine "$@"
