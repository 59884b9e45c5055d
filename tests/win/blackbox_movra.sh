#!/usr/bin/env bash
# Black-box tests of Movra.exe under Wine against TiSim.dll, each in a folder of its own with its
# own Movra.cfg and scenario, on a private Xvfb display. A helper program answers message boxes
# and sends commands. Every wait has a time-out; any Movra still running at the end is stopped.
#   blackbox_movra.sh Movra.exe TiSim.dll blackbox_helper.exe
set -u
movra="$1"; dll="$2"; helper="$3"
. "$(dirname "$0")/blackbox_common.sh"
bb_prefix "$movra"

work="$(mktemp -d)"
movra_pid=""
cleanup() {
  [ -n "$movra_pid" ] && kill "$movra_pid" 2>/dev/null
  bb_teardown
  rm -rf "$work"
}
trap cleanup EXIT
bb_display
# Registered with this display set, so that nothing Wine starts for it lives without one.
"$tools/tisim-register" --prefix "$WINEPREFIX" "$dll" >/dev/null || { echo "cannot register TiSim"; exit 1; }

failures=0
fail() {
  echo "FAIL [$case]: $*"; failures=$((failures + 1))
  log_text | tail -n 5 | sed 's/^/    log: /'
}
pass() { echo "ok   [$case]: $*"; }

winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
help() { timeout 30 wine "$helper" "$@" 2>/dev/null | tr -d '\r'; }
log_text() { [ -f "$case_dir/Movra.log" ] && iconv -f UTF-16 -t UTF-8 "$case_dir/Movra.log" 2>/dev/null | tr -d '\r'; }
wait_log() {  # wait_log PATTERN SECONDS
  local end=$((SECONDS + $2))
  while [ $SECONDS -lt $end ]; do
    log_text | grep -qF -- "$1" && return 0
    sleep 0.3
  done
  return 1
}
wait_exit() {  # wait_exit SECONDS: true when Movra ended in time
  local end=$((SECONDS + $1))
  while [ $SECONDS -lt $end ]; do
    kill -0 "$movra_pid" 2>/dev/null || { wait "$movra_pid" 2>/dev/null; movra_pid=""; return 0; }
    sleep 0.2
  done
  return 1
}
# A check that something does NOT happen watches for this long; everything else waits for what
# it expects, with a deadline.
QUIET_WINDOW=3
wait_help() {  # wait_help EXPECTED SECONDS ARGS...: until the helper prints EXPECTED
  local want="$1" end=$((SECONDS + $2)); shift 2
  while [ $SECONDS -lt $end ]; do
    [ "$(help "$@")" = "$want" ] && return 0
    sleep 0.2
  done
  return 1
}
journal_count() { grep -c "$1" "$case_dir/journal.txt" 2>/dev/null || echo 0; }
wait_journal() {  # wait_journal PATTERN SECONDS
  local end=$((SECONDS + $2))
  while [ $SECONDS -lt $end ]; do
    grep -qF -- "$1" "$case_dir/journal.txt" 2>/dev/null && return 0
    sleep 0.3
  done
  return 1
}
check_restored() { bb_check_restored "$case_dir/journal.txt"; }

# setup CASE PASSWORD "extra cfg lines" "extra scenario lines" [users in cfg: yes|no]
setup() {
  case="$1"; case_dir="$work/$1"; mkdir -p "$case_dir"
  cat >"$case_dir/scenario.tisim" <<SCN
password 48213
channel 1024 256
defaults 128 64
seed 7
time real
journal journal.txt
group Офис 512
user alpha group=Офис ip=10.0.0.2 in=256 out=64 demand=900/40
user beta  group=Офис ip=10.0.0.3 in=256 out=64 demand=600/20
user gamma ip=10.0.0.4 in=128 out=32 demand=10/2
$4
SCN
  {
    printf '\xef\xbb\xbf'
    printf 'BeforeQuit: 2\nLogFileName: Movra.log\nGridSize: 4\nServer: ti.test\n'
    [ -n "$2" ] && printf 'AutoLoginPass: %s\n' "$2"
    printf 'RefreshTimer_msec: 500\nTrafficSpeedAutoControll: 3\nRXMAXkbit: 1024\nTXMAXkbit: 256\n'
    printf '%b' "$3"
    if [ "${5:-yes}" = yes ]; then
      for u in alpha beta gamma; do
        printf 'User: %s\nUserKTraff: 1.0\nUserGrID: 1\nUserLimitMaxIn: 0\nUserLimitMaxOut: 0\n' "$u"
      done
    fi
    printf 'GroupName: Офис\nGroupMaxIn: 100.0\n'
  } | sed 's/$/\r/' >"$case_dir/Movra.cfg"
  export TISIM_SCENARIO="$(winpath "$case_dir/scenario.tisim")"
  (cd "$case_dir" && exec wine "$movra" >/dev/null 2>&1) &
  movra_pid=$!
}
finish() {  # ask Movra to exit and make sure it is gone
  help command 32791 >/dev/null
  wait_exit 20 || { fail "did not end after Exit"; kill "$movra_pid" 2>/dev/null; movra_pid=""; }
}

# 1. A stored password connects at once and regulates; Exit while connected waits for the
# thread, runs the exit action and then ends.
setup connect-regulate-exit 48213 "" ""
wait_log "Авторизация пользователя TI...OK" 30 && pass "connected" || fail "no connected line"
wait_log "Изменение ограничения для" 30 && pass "regulates" || fail "no limit change"
rows="$(help rows)"; [ "${rows:-0}" -ge 4 ] && pass "table has $rows rows" || fail "table rows: $rows"
help command 32801 >/dev/null
[ "$(help chart 10000)" = 1 ] && pass "channel chart open" || fail "no channel chart window"
before="$(journal_count 'SetProperty')"
help command 32791 >/dev/null
wait_log "Жду завершения потока..." 10 && pass "waits for the thread" || fail "no waiting line"
wait_exit 30 && pass "ended after the thread" || { fail "still running"; kill "$movra_pid"; movra_pid=""; }
after="$(journal_count 'SetProperty')"
[ "$after" -gt "$before" ] && pass "exit action wrote limits ($before -> $after)" || fail "no exit action in the journal"
check_restored

# 2. A wrong password: the message box names the failure, the log has the line.
setup wrong-password 11111 "" ""
box="$(help box 30000)"
case "$box" in *"Ошибка авторизации"*) pass "box: $box" ;; *) fail "box: '$box'" ;; esac
wait_log "Ошибка авторизации. Проверьте пароль" 10 && pass "log line" || fail "no log line"
finish

# 3. The server object cannot be created.
setup connect-failure 48213 "" "fault create"
box="$(help box 30000)"
case "$box" in *"Ошибка подключения к ti.test"*) pass "box: $box" ;; *) fail "box: '$box'" ;; esac
wait_log "Ошибка подключения к ti.test" 10 && pass "log line" || fail "no log line"
finish

# 4. Start minimised: hidden after the first paint and after refreshes, connected.
setup start-minimised 48213 "StartMinimized: TRUE\n" ""
wait_log "Авторизация пользователя TI...OK" 30 && pass "connected" || fail "no connected line"
wait_help 0 10 visible && pass "window hidden" || fail "window visible"
sleep "$QUIET_WINDOW"  # refreshes meanwhile must not show it again
[ "$(help visible)" = 0 ] && pass "still hidden after refreshes" || fail "shown again"
help command 32792 >/dev/null
wait_help 1 10 visible && pass "Show/Hide shows it" || fail "still hidden after Show/Hide"
finish

# 5. Without a stored password nothing connects; importing users fills the table.
setup import-users "" "" "" no
box="$(help box $((QUIET_WINDOW * 1000)))"  # also the window in which no connection may start
[ -z "$box" ] && pass "no start-up message" || fail "start-up message: $box"
log_text | grep -qF "Подключаюсь" && fail "connected without a stored password" || pass "no auto-connect"
help command 1052 >/dev/null
end=$((SECONDS + 30)); rows=0
while [ $SECONDS -lt $end ]; do rows="$(help rows)"; [ "${rows:-0}" -ge 4 ] && break; sleep 0.5; done
[ "${rows:-0}" -ge 4 ] && pass "imported users: $rows rows" || fail "rows after import: $rows"
finish

# 6 and 7. Exit racing a restart, in both orders: Connect then Exit at once, and Exit then
# Connect while the exit waits. Slow server calls keep the running cycle busy meanwhile. The
# process must end, and the server sees no call after the last object went.
for order in "1053 32791" "32791 1053"; do
  setup "exit-race-${order// /-}" 48213 "" "fault delay 150"
  wait_log "Изменение ограничения для" 40 || fail "did not regulate"
  help command $order >/dev/null
  if wait_exit 30; then
    pass "ended after $order"
    last="$(tail -n 1 "$case_dir/journal.txt")"
    case "$last" in *" Release"*) pass "no call after the last release" ;;
      *) fail "journal goes on after the exit: $last" ;; esac
  else
    fail "still running after $order"; kill "$movra_pid" 2>/dev/null; movra_pid=""
  fi
done

# 8. A server that stops answering while Movra regulates, hidden in the tray. Exit chosen twice
# ends the process at once; chosen once, the exit waits for the hung call until its bound and
# then the process ends by itself.
for times in 2 1; do
  setup "exit-hung-server-$times" 48213 "" "at 8 fault hang info"
  wait_log "Изменение ограничения для" 40 || fail "did not regulate"
  wait_journal "-> HANG" 30 || fail "the server did not hang"
  help command 32792 >/dev/null
  wait_help 0 10 visible || fail "window not hidden"
  start=$SECONDS
  help command 32791 >/dev/null
  wait_log "Жду завершения потока..." 10 || fail "no waiting line"
  if [ "$times" = 2 ]; then
    help command 32791 >/dev/null
    wait_exit 10 && pass "Exit again ended it at once" || { fail "still running after Exit again"; kill "$movra_pid"; movra_pid=""; }
  else
    sleep "$QUIET_WINDOW"
    kill -0 "$movra_pid" 2>/dev/null && pass "waits for the hung call" || fail "ended without waiting"
    # The bound is 60 s from the Exit; the deadline here only keeps the test from hanging.
    if wait_exit 120; then pass "ended by itself $((SECONDS - start)) s after Exit"
    else fail "still running long after the bound"; kill "$movra_pid"; movra_pid=""; fi
  fi
done

# 9. The Windows session ends while Movra regulates: the exit action, its lines and the
# release come before the process ends. The Windows tests run one at a time, so the session's
# end reaches no other program of the prefix's tests.
setup end-session 48213 "" ""
wait_log "Изменение ограничения для" 40 || fail "did not regulate"
timeout 90 wine wineboot --end-session >/dev/null 2>&1 &
boot=$!
if wait_exit 60; then pass "ended with the session"
else fail "still running after the session ended"; kill "$movra_pid"; movra_pid=""; fi
wait "$boot" 2>/dev/null
wait_log "Завершение сеанса Windows. Отключаюсь от сервера..." 1 && pass "session end logged" || fail "no session-end line"
wait_log "Отключение от сервера.... Поток завершен." 1 && pass "thread's last line" || fail "no last line"
check_restored

echo "black-box failures: $failures"
[ "$failures" -eq 0 ]
