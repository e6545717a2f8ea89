# Sourced by the wine helpers: makes sure that WINEPREFIX starts both 64-bit and, where wine's 32-bit half
# is installed, 32-bit programs. A prefix made before wine32 came (or by another wine) does not start them
# ("could not load kernel32.dll"), so it is made anew whenever the installed wine loaders differ from
# those the prefix was booted and checked with; the check itself then costs one comparison per test. The
# tests that use a prefix share the RESOURCE_LOCK wine, so no two of them remake it at once.

# The installed loaders, with their sizes and times: a changed wine changes this.
wine_loaders() { ls -lL --time-style=+%s /usr/lib/wine/wine /usr/lib/wine/wine64 2>/dev/null || true; }

wine_prefix_ready() {
  local marker=$WINEPREFIX/.pekolm-booted loaders
  loaders=$(wine_loaders)
  [ "$(cat "$marker" 2>/dev/null)" = "$loaders" ] && return 0
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  # cmd.exe of each kind that the prefix holds ends at once: a program of that kind starts.
  local kinds=(C:/windows/system32/cmd.exe)
  [ -x /usr/lib/wine/wine ] && [ -x /usr/lib/wine/wine64 ] && kinds+=(C:/windows/syswow64/cmd.exe)
  local cmd
  for cmd in "${kinds[@]}"; do
    if ! wine "$cmd" /c exit 0 >/dev/null 2>&1; then
      echo "the wine prefix $WINEPREFIX does not start $cmd" >&2
      return 1
    fi
  done
  # The server writes the registry out when it ends: the marker comes after a prefix complete on disk.
  wineserver -w
  printf '%s\n' "$loaders" >"$marker"
}
