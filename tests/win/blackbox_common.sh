# Sourced by the black-box scripts: the build tree's private Wine prefix and a private Xvfb
# display, each started once and torn down by bb_teardown.
#   bb_prefix MOVRA_EXE [make]   exports WINEPREFIX (the tree's, or MOVRA_WINEPREFIX) and the
#                                Wine settings; with "make", creates the prefix if it is new
#   bb_display                   starts Xvfb and exports DISPLAY, or exits the script
#   bb_teardown                  stops Xvfb and removes its descriptor file
bb_here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
tools="$bb_here/../../tools"

bb_prefix() {
  local dir
  dir="$(cd "$(dirname "$1")" && pwd)"
  while [ "$dir" != "/" ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir="$(dirname "$dir")"; done
  export WINEPREFIX="${MOVRA_WINEPREFIX:-$dir/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ "${2:-}" = make ]; then "$tools/wine-prefix" "$WINEPREFIX" || { echo "no Wine prefix"; exit 1; }; fi
}

bb_display() {
  bb_fdfile="$(mktemp)"
  Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$bb_fdfile" 2>/dev/null &
  bb_xpid=$!
  for _ in $(seq 100); do [ -s "$bb_fdfile" ] && break; sleep 0.1; done
  [ -s "$bb_fdfile" ] || { echo "Xvfb did not start"; exit 1; }
  export DISPLAY=":$(head -n1 "$bb_fdfile")"
}

bb_teardown() {
  [ -n "${bb_xpid:-}" ] && kill "$bb_xpid" 2>/dev/null
  [ -n "${bb_fdfile:-}" ] && rm -f "$bb_fdfile"
}
