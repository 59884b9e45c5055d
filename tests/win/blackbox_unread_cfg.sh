#!/usr/bin/env bash
# Black-box test of Movra.exe started while another program holds Movra.cfg open with no sharing
# (a backup or a scanner), under Wine on a private Xvfb display: the start says so in a box and in
# Movra.log; every save asks before replacing the file (the menu's save and the settings page's
# button), No writes nothing, Yes while the file is still held reports the failure; once the file
# is free and loaded, a save writes it without asking. No password is stored, so Movra never
# connects and TiSim is not needed. Every wait has a time-out and Movra is ended at the end.
#   blackbox_unread_cfg.sh Movra.exe blackbox_helper.exe
set -u
movra="$1"; helper="$2"
. "$(dirname "$0")/blackbox_common.sh"
bb_prefix "$movra" make
work="$(mktemp -d)"
pid=""
holder=""
cleanup() {
  touch "$work/release"
  [ -n "$holder" ] && wait "$holder" 2>/dev/null
  [ -n "$pid" ] && help kill >/dev/null
  bb_teardown
  rm -rf "$work"
}
trap cleanup EXIT
bb_display
. "$(dirname "$0")/blackbox_dialogs.sh"
# expect_box TEXT [yes|no]: the next message box must say TEXT; it is answered as told.
expect_box() {
  local box
  box="$(help box 15000 ${2:-})" || { fail "no message box '$1'"; return 1; }
  [ "$box" = "$1" ] && pass "box: $box${2:+ -> $2}" || fail "box '$box', expected '$1'"
}
same_file() { cmp -s "$work/Movra.cfg" "$work/original.cfg"; }

# Every line Movra writes for these settings, as UTF-8; the file start-up meets lacks one of
# them (a default), so a save that really writes is seen in the bytes.
lines() {
  printf 'SrvLimTraff_MB: 0\nSpeedLimTraff_Mode: 0\nSpeedLimTraff_SefeTraff: 100\n'
  printf 'SpeedLimTraff_MaxTraff: 500\nSpeedLimTraff_StartKoeff: 100.0000\n'
  printf 'SpeedLimTraff_EndKoeff: 25.0000\nSpeedLimTraff_DnoLimitKbits: 0\nBeforeQuit: 2\n'
  printf 'UserMAXSpeedLimits: 1\nReUseFreeChanal: 1\nDisplaySpeed_in_kBytes_s: 0\n'
  printf 'AutoZamer_minRXchanal: 64\nUserSleepTraffic: 0\nLogFileName: Movra.log\nLogMaxSize: 50\n'
  printf 'GridSize: 4\nServer: ti.office\nRefreshTimer_msec: 1500\nTrafficSpeedAutoControll: 3\n'
  printf 'RXMAXkbit: 2048\nTXMAXkbit: 512\nUserSleep_TimeOut_sec: 20\nUse_Sleepers_Traffic: 1\n'
  printf 'User: Анна Петрова\nUserKTraff: 1.500000\nUserGrID: 0\nUserLimitMaxIn: 128\n'
  printf 'UserLimitMaxOut: 32\n'
}
utf16() { sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; }; }
lines | grep -v '^DisplaySpeed_in_kBytes_s' | utf16 >"$work/Movra.cfg"
cp "$work/Movra.cfg" "$work/original.cfg"
lines | utf16 >"$work/expected.cfg"

(cd "$work" && timeout 200 wine "$helper" hold Movra.cfg release 180000 >"$work/held" 2>/dev/null) &
holder=$!
for _ in $(seq 200); do grep -q held "$work/held" 2>/dev/null && break; sleep 0.1; done
grep -q held "$work/held" || { echo "FAIL: Movra.cfg could not be held"; exit 1; }

(cd "$work" && timeout 30 wine "$helper" start "Z:$(echo "$movra" | tr / '\\')" >"$work/pid" 2>/dev/null)
pid="$(tr -d '\r' <"$work/pid")"
[ -n "$pid" ] || { echo "FAIL: Movra.exe did not start"; exit 1; }

# The box comes before the window; its reason is the system's own text.
box="$(help box 30000)" || { fail "no message at start"; }
prefix="Не удалось прочитать файл Movra.cfg: "
suffix=". Movra работает с настройками по умолчанию."
reason="${box#"$prefix"}"; reason="${reason%"$suffix"}"
if [ "${box#"$prefix"}" != "$box" ] && [ "${box%"$suffix"}" != "$box" ] && [ -n "$reason" ]; then
  pass "start: $box"
else
  fail "start message: '$box'"
fi
help find 1053 30000 >/dev/null || { fail "no main window"; drain_boxes; exit 1; }
drain_boxes
logged=""
for _ in $(seq 100); do
  [ -f "$work/Movra.log" ] && logged="$(iconv -f UTF-16 -t UTF-8 "$work/Movra.log" | tr -d '\r')"
  case "$logged" in *"$box"*) break ;; esac
  sleep 0.1
done
case "$logged" in
  *" $box"*) pass "Movra.log has the line" ;;
  *) fail "Movra.log lacks the line: '$logged'" ;;
esac

help command 32786 >/dev/null
expect_box "Movra.cfg не был прочитан при запуске. Заменить его?" no
drain_boxes
same_file && pass "No from the menu's save: Movra.cfg untouched" || fail "Movra.cfg changed after No"

help command 1002 >/dev/null
help find 1012 15000 >/dev/null || fail "the settings did not open"
# The question opens inside the click, so the click itself times out while it is up.
help click 1012 >/dev/null
expect_box "Movra.cfg не был прочитан при запуске. Заменить его?" no
same_file && pass "No from the page's button: Movra.cfg untouched" || fail "Movra.cfg changed after No"
help dismiss 3000 >/dev/null
help gone 1012 10000 || fail "the settings did not close"

help command 32786 >/dev/null
expect_box "Movra.cfg не был прочитан при запуске. Заменить его?" yes
expect_box "Ошибка создания файла Movra.cfg"
drain_boxes
same_file && pass "Yes while still held: Movra.cfg untouched" || fail "Movra.cfg changed while held"

touch "$work/release"
wait "$holder"; holder=""
help command 32789 >/dev/null
sleep 1
drain_boxes
help command 32786 >/dev/null
# No question now: the save writes at once.
for _ in $(seq 100); do cmp -s "$work/Movra.cfg" "$work/expected.cfg" && break; sleep 0.1; done
drain_boxes
cmp -s "$work/Movra.cfg" "$work/expected.cfg" && pass "after a load the save writes without asking" ||
  fail "Movra.cfg after load and save differs from what Movra writes"

help close >/dev/null
help ended 20000 && { pid=""; pass "Movra ended"; } || { fail "Movra did not end"; drain_boxes; }

echo "unread configuration black-box failures: $failures"
[ "$failures" -eq 0 ]
