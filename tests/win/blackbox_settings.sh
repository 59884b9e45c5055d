#!/usr/bin/env bash
# Black-box test of Movra.exe's settings sheet under Wine on a private Xvfb display: open the
# settings from the menu command, choose the mode that divides by ratings, save with the page's
# button, confirm, exit, and compare Movra.cfg on disk byte for byte. No password is stored, so
# Movra never connects and TiSim is not needed. Every wait has a time-out, message boxes are
# answered, and Movra is ended if it is still running at the end.
#   blackbox_settings.sh Movra.exe blackbox_helper.exe
set -u
movra="$1"; helper="$2"
. "$(dirname "$0")/blackbox_common.sh"
bb_prefix "$movra" make
work="$(mktemp -d)"
pid=""
cleanup() {
  [ -n "$pid" ] && help kill >/dev/null
  bb_teardown
  rm -rf "$work"
}
trap cleanup EXIT
bb_display
. "$(dirname "$0")/blackbox_dialogs.sh"

# The file as Movra writes it (UTF-16LE with a byte-order mark, CR LF), given as UTF-8 lines.
cfg_bytes() {  # cfg_bytes MODE
  {
    printf 'SrvLimTraff_MB: 0\nSpeedLimTraff_Mode: 1\nSpeedLimTraff_SefeTraff: 100\n'
    printf 'SpeedLimTraff_MaxTraff: 500\nSpeedLimTraff_StartKoeff: 100.0000\n'
    printf 'SpeedLimTraff_EndKoeff: 25.5000\nSpeedLimTraff_DnoLimitKbits: 0\nBeforeQuit: 2\n'
    printf 'UserMAXSpeedLimits: 1\nReUseFreeChanal: 1\nDisplaySpeed_in_kBytes_s: 0\n'
    printf 'UseAutoChanalWithCorrection: 3\nAutoZamer_minRXchanal: 64\nUserSleepTraffic: 2\n'
    printf 'LogFileName: Movra.log\nLogMaxSize: 50\nGridSize: 4\nServer: ti.test\n'
    printf 'RefreshTimer_msec: 1500\nTrafficSpeedAutoControll: %s\nRXMAXkbit: 1024\n' "$1"
    printf 'TXMAXkbit: 256\nDOWNLOADER_USERNAME: beta\nUserSleep_TimeOut_sec: 20\n'
    printf 'Use_Sleepers_Traffic: 1\n'
    printf 'User: Анна Петрова\nUserKTraff: 1.500000\nUserGrID: 1\nUserLimitMaxIn: 128\n'
    printf 'UserLimitMaxOut: 32\n'
    printf 'User: beta\nUserKTraff: 1.000000\nUserGrID: 0\nUserLimitMaxIn: 0\nUserLimitMaxOut: 0\n'
    printf 'GroupName: Отдел продаж\nGroupMaxIn: 0.600000\n'
  } | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; }
}

cfg_bytes 0 >"$work/Movra.cfg"
cfg_bytes 3 >"$work/expected.cfg"

# Started by the helper, which prints its process id. Movra's output goes to a file: a pipe that
# Movra holds open would keep the shell waiting for its end.
(cd "$work" && timeout 30 wine "$helper" start "Z:$(echo "$movra" | tr / '\\')" >"$work/pid" 2>/dev/null)
pid="$(tr -d '\r' <"$work/pid")"
[ -n "$pid" ] || { echo "FAIL: Movra.exe did not start"; exit 1; }
help find 1053 30000 >/dev/null || { fail "no main window"; drain_boxes; exit 1; }
# Nothing in this Movra.cfg calls for a message at start-up.
drain_boxes
pass "main window is up"

help command 1002 >/dev/null
title="$(help find 1029 15000)" || { fail "the settings did not open"; drain_boxes; exit 1; }
[ "$title" = "Настройки Movra" ] || { fail "not the settings sheet: '$title'"; drain_boxes; exit 1; }
pass "sheet title: $title"
[ "$(help checked 1026)" = 1 ] && pass "the sheet shows the file's mode 0" || fail "mode 0 not checked"

help click 1029 || fail "cannot click 1029"
[ "$(help checked 1029)" = 1 ] && [ "$(help checked 1026)" = 0 ] && pass "mode 3 chosen" ||
  fail "mode 3 not chosen"
help click 1012 || { fail "save did not return"; drain_boxes; }
# The save button writes the file at once, while the sheet is still open.
cmp -s "$work/Movra.cfg" "$work/expected.cfg" && pass "saved by the button" ||
  fail "Movra.cfg after the save button differs"

help sheet-ok 1029
help gone 1029 10000 && pass "sheet closed with OK" || { fail "sheet still open"; drain_boxes; }
help close >/dev/null
help ended 20000 && { pid=""; pass "Movra ended"; } || { fail "Movra did not end"; drain_boxes; }

if cmp -s "$work/Movra.cfg" "$work/expected.cfg"; then
  pass "Movra.cfg: mode 3, every other byte unchanged"
else
  fail "Movra.cfg on disk differs:"
  diff <(iconv -f UTF-16 -t UTF-8 "$work/expected.cfg" | cat -A) \
    <(iconv -f UTF-16 -t UTF-8 "$work/Movra.cfg" | cat -A) | head -n 20 | sed 's/^/    /'
  head -c 2 "$work/Movra.cfg" | od -An -tx1 | sed 's/^/    first bytes:/'
fi

echo "settings black-box failures: $failures"
[ "$failures" -eq 0 ]
