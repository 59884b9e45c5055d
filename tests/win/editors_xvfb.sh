#!/usr/bin/env bash
# Runs a Windows test program under Wine on a private Xvfb display of its own, so that GUI tests
# never touch the user's display and never collide with each other.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
fdfile="$(mktemp)"
Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$fdfile" 2>/dev/null &
xpid=$!
trap 'kill $xpid 2>/dev/null; rm -f "$fdfile"' EXIT
for _ in $(seq 100); do [ -s "$fdfile" ] && break; sleep 0.1; done
[ -s "$fdfile" ] || { echo "editors_xvfb: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$fdfile")"
timeout 300 "$here/../../tools/wine-run" "$@"
