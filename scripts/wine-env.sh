# Sourced: the environment every Wine call of this project runs with. Needs WINEPREFIX set.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
export WINEARCH=win64

# Wine maps Windows file names to Unix ones in the locale's character set: under a POSIX locale a
# non-ASCII name has no Unix name at all. Give Wine C.UTF-8 (always present in Debian's libc)
# unless the caller's character locale is already UTF-8.
wine_locale_is_utf8() {
  local ctype=${LC_ALL:-${LC_CTYPE:-${LANG:-}}}
  case "${ctype,,}" in *utf-8* | *utf8*) return 0 ;; *) return 1 ;; esac
}
if ! wine_locale_is_utf8; then
  if [ -n "${LC_ALL:-}" ]; then export LC_ALL=C.UTF-8; else export LC_CTYPE=C.UTF-8; fi
fi
WINE64=/usr/lib/wine/wine64
[ -x "$WINE64" ] || WINE64=$(command -v wine64 || command -v wine)
WINESERVER=/usr/lib/wine/wineserver
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)

# Creates the prefix once (about 5 s) and keeps one wineserver alive for the whole run, so that a
# program starts in a fraction of a second. Wine's background services are started here with
# their output sent to /dev/null: otherwise they inherit the first program's output pipe and keep
# a reader such as ctest waiting until the wineserver stops.
wine_prefix_up() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$WINE64" wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
      "$WINESERVER" -w 9>&-
    fi
    if "$WINESERVER" -p </dev/null >/dev/null 2>&1 9>&-; then
      "$WINE64" wineboot </dev/null >/dev/null 2>&1 9>&- || true
    fi
  ) 9>"$WINEPREFIX.lock"
}

# Stops the wineserver gently: -k keeps recent registry writes, -k9 would lose them.
wine_prefix_down() {
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
}
