#!/usr/bin/env bash
# Runs an in-process GUI test on a screen of another density: in a Wine prefix of its own whose
# DPI (LogPixels) is $1, so that the prefix the other tests share stays at 96 DPI, on a private
# Xvfb display. The test reads the DPI it should find from MOVRA_TEST_DPI.
#   gui_dpi.sh <dpi> <test.exe> [arguments]
set -u
dpi="$1"; exe="$2"; shift 2
here="$(cd "$(dirname "$0")" && pwd)"
# The build tree is the first parent of the program that holds CMakeCache.txt.
dir="$(cd "$(dirname "$exe")" && pwd)"
while [ "$dir" != "/" ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir="$(dirname "$dir")"; done
prefix="$dir/wineprefix-dpi$dpi"
"$here/../../tools/wine-prefix" "$prefix" || exit 1
if [ ! -f "$prefix/.movra-dpi" ]; then
  (
    flock 9
    [ -f "$prefix/.movra-dpi" ] && exit 0
    export WINEPREFIX="$prefix" WINEDEBUG=-all DISPLAY=
    # Wine reads the user's value; the machine's is where Windows keeps the system's DPI.
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 &&
      wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
        /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 || exit 1
    wineserver -w
    touch "$prefix/.movra-dpi"
  ) 9>"$prefix.dpi.lock" || { echo "gui_dpi: cannot set the prefix's DPI" >&2; exit 1; }
fi
export MOVRA_WINEPREFIX="$prefix" MOVRA_TEST_DPI="$dpi"
exec "$here/editors_xvfb.sh" "$exe" "$@"
