#!/usr/bin/env bash
# What the Windows build costs under wine against the Linux build, both on the same kolmsim:
# - idle: 32 silent ports held open, CPU of the program and of wineserver over the time given, against the
#   same wine run with no port open;
# - streaming: 16 ports at 1875 Hz (kolmsim's highest rate that a 230400 baud line carries) with every
#   value taken, CPU per frame of the program plus wineserver against the Linux build in the same round;
# - unload: FreeLibrary with 32 streaming ports open against one (tests/windows/unload_test).
# Rounds take turns so that a slower stretch of this machine weighs on all alike; medians at the end.
#
# Usage: bench/windows/windows_bench.sh [--idle-seconds S (30)] [--stream-seconds S (10)] [--rounds R (3)]
#        [--stream-ports N (16; 1..32)]
#        [LINUX_BUILD (build)] [WINDOWS_BUILD (build-windows)]
set -euo pipefail
idle_seconds=30 stream_seconds=10 rounds=3 stream_count=16
while [ $# -gt 0 ]; do
  case $1 in
    --idle-seconds) idle_seconds=$2; shift 2 ;;
    --stream-seconds) stream_seconds=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --stream-ports) stream_count=$2; shift 2 ;;
    *) break ;;
  esac
done
linux_build=$(realpath "${1:-build}") windows_build=$(realpath "${2:-build-windows}")
kolmsim=$linux_build/bin/kolmsim
for program in "$kolmsim" "$linux_build/bin/port_load" "$windows_build/bin/port_load.exe" \
  "$windows_build/bin/unload_test.exe"; do
  [ -x "$program" ] || { echo "windows_bench: $program is missing (build both trees first)" >&2; exit 1; }
done

export WINEPREFIX=$windows_build/wine-prefix WINEDEBUG=-all
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
idle_ports=$(seq 10 41) stream_ports=$(seq 10 $((9 + stream_count)))
for port in $idle_ports; do
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$port" /d "$dir/com$port" /f >/dev/null 2>&1
done
# wine reads the port mapping when its server starts.
wineserver -k || true
wineserver -w

ticks=$(getconf CLK_TCK)
# wineserver of this prefix (other prefixes may have servers of their own): it works in a folder named by
# the prefix's device and inode.
server_dir=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
# CPU seconds this prefix's wineserver has spent so far (0 while none runs).
wineserver_cpu() {
  local pid
  for pid in $(pgrep -f wineserver || true); do
    [ "$(basename "$(readlink "/proc/$pid/cwd" 2>/dev/null)")" = "$server_dir" ] || continue
    # Fields 14 and 15 of stat, counted after the parenthesised name, which may hold spaces.
    awk -v t="$ticks" '{ sub(/^.*\) /, ""); print ($12 + $13) / t }' "/proc/$pid/stat"
    return
  done
  echo 0
}

# run KIND SECONDS on|off PORTS...: KIND linux or wine; prints "program_cpu server_cpu samples".
run() {
  local kind=$1 seconds=$2 transmit=$3
  shift 3
  local sim=("$kolmsim" --quiet --port-dir "$dir" --rate-code 0xAD)
  [ "$transmit" = off ] && sim+=(--not-transmitting)
  for port in "$@"; do sim+=(--com "$port"); done
  local program=("$linux_build/bin/port_load")
  [ "$kind" = wine ] && program=(wine "$windows_build/bin/port_load.exe")
  if [ $# -eq 0 ]; then sim=(); fi  # no port: no amplifier either
  local before=0 line result=
  while IFS= read -r line; do
    line=${line%$'\r'}
    case $line in
      measuring) before=$(wineserver_cpu) ;;
      ports*) result=$line ;;
    esac
  done < <("${sim[@]}" ${sim:+--} "${program[@]}" "$seconds" "$transmit" "$@" 2>/dev/null)
  local after
  after=$(wineserver_cpu)
  [ -n "$result" ] || { echo "windows_bench: the $kind run gave no result" >&2; exit 1; }
  # ports N samples S per_port_hz R read_errors E cpu_s C wall_s W
  set -- $result
  [ "$8" = 0 ] || echo "windows_bench: $kind run: $8 read errors" >&2
  local server=0
  [ "$kind" = wine ] && server=$(awk -v a="$after" -v b="$before" 'BEGIN { print a - b }')
  echo "${10} $server $4"
}

# unload PORTS...: milliseconds of the first FreeLibrary with those ports open and streaming at kolmsim's
# 25 Hz (activating 32 ports beside 31 that stream at 1875 Hz overloads this machine under wine).
unload() {
  local sim=("$kolmsim" --quiet --port-dir "$dir") port
  for port in "$@"; do sim+=(--com "$port"); done
  { "${sim[@]}" -- wine "$windows_build/bin/unload_test.exe" "$@" 2>/dev/null || true; } |
    sed -n 's/^round 1: unloaded in \([0-9]*\) ms.*/\1/p'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "idle: ${idle_seconds} s with 32 silent ports and with none, CPU seconds (program + wineserver)"
echo "streaming: ${stream_seconds} s on $stream_count ports at 1875 Hz, CPU microseconds per frame"
: >"$dir/idle_wine" >"$dir/idle_none" >"$dir/idle_linux" >"$dir/stream_ratio" >"$dir/unload_1" >"$dir/unload_32"
for round in $(seq "$rounds"); do
  read -r wine_cpu wine_server _ < <(run wine "$idle_seconds" off $idle_ports)
  read -r none_cpu none_server _ < <(run wine "$idle_seconds" off)
  read -r linux_cpu _ _ < <(run linux "$idle_seconds" off $idle_ports)
  printf 'round %d idle: wine 32 ports %.2f + %.2f, wine no port %.2f + %.2f, linux 32 ports %.2f\n' "$round" \
    "$wine_cpu" "$wine_server" "$none_cpu" "$none_server" "$linux_cpu"
  awk -v a="$wine_cpu" -v b="$wine_server" -v c="$none_cpu" -v d="$none_server" \
    'BEGIN { print (a + b) - (c + d) }' >>"$dir/idle_wine"
  echo "$linux_cpu" >>"$dir/idle_linux"

  read -r ws_cpu ws_server ws_samples < <(run wine "$stream_seconds" on $stream_ports)
  read -r ls_cpu _ ls_samples < <(run linux "$stream_seconds" on $stream_ports)
  awk -v c="$ws_cpu" -v s="$ws_server" -v n="$ws_samples" -v lc="$ls_cpu" -v ln="$ls_samples" -v r="$round" \
    -v t="$stream_seconds" -v p="$stream_count" 'BEGIN {
    w = (c + s) * 1e6 / n; l = lc * 1e6 / ln
    printf "round %d streaming: wine %.2f us/frame (%.0f Hz a port; program %.2f s, wineserver %.2f s), linux %.2f us/frame (%.0f Hz), ratio %.2f\n", r, w, n / p / t, c, s, l, ln / p / t, w / l
  }'
  awk -v c="$ws_cpu" -v s="$ws_server" -v n="$ws_samples" -v lc="$ls_cpu" -v ln="$ls_samples" \
    'BEGIN { print ((c + s) / n) / (lc / ln) }' >>"$dir/stream_ratio"

  one=$(unload 10) all=$(unload $idle_ports)
  echo "round $round unload: ${one:-?} ms with 1 port open, ${all:-?} ms with 32"
  echo "${one:-0}" >>"$dir/unload_1"
  echo "${all:-0}" >>"$dir/unload_32"
done
printf 'median idle cost of 32 silent ports under wine (over no port): %.2f CPU seconds in %s s; linux: %.2f\n' \
  "$(median <"$dir/idle_wine")" "$idle_seconds" "$(median <"$dir/idle_linux")"
printf 'median streaming CPU per frame, wine against linux: %.2f\n' "$(median <"$dir/stream_ratio")"
printf 'median unload: %s ms with 1 port open, %s ms with 32\n' "$(median <"$dir/unload_1")" "$(median <"$dir/unload_32")"
