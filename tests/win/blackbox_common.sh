# Sourced by the black-box scripts: the build tree's private Wine prefix and a private Xvfb
# display, each started once and torn down by bb_teardown.
#   bb_prefix MOVRA_EXE [make]   exports WINEPREFIX (the tree's, or MOVRA_WINEPREFIX) and the
#                                Wine settings; with "make", creates the prefix if it is new
#   bb_display                   starts Xvfb and exports DISPLAY, or exits the script
#   bb_teardown                  stops Xvfb and removes its descriptor file
#   bb_check_restored JOURNAL    the exit action's writes in TiSim's journal (the caller's pass
#                                and fail report)
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

# The value of the last write of a property to a user, from TiSim's journal (I4:256, INT:300).
bb_last_set() {  # bb_last_set JOURNAL USER PROPERTY
  grep -F "SetProperty int32:3 BSTR:\"$2\" BSTR:\"$3\" " "$1" 2>/dev/null |
    tail -n 1 | sed -E 's/.*BSTR:"'"$3"'" ([^ ]+) .*/\1/'
}

# With BeforeQuit 2 every user's last write is the exit action's (VT_I4, where regulation writes
# VT_INT) of the limits the scenarios start alpha, beta and gamma with, and the server object is
# released after.
bb_check_restored() {
  local bad="" want got u in out last
  for want in alpha:256:64 beta:256:64 gamma:128:32; do
    IFS=: read -r u in out <<<"$want"
    got="$(bb_last_set "$1" "$u" User_InBandwidth)/$(bb_last_set "$1" "$u" User_OutBandwidth)"
    [ "$got" = "I4:$in/I4:$out" ] || bad="$bad $u=$got"
  done
  [ -z "$bad" ] && pass "exit action restored the start limits" || fail "restored limits:$bad"
  last="$(tail -n 1 "$1")"
  case "$last" in *" Release"*) pass "released after the exit action" ;;
    *) fail "journal does not end with the release: $last" ;; esac
}
