#!/usr/bin/env bash
# MovraService.exe under Wine against TiSim.dll, in a fresh Wine prefix of its own (its service
# database and %ProgramData% start empty) with a private HOME and Xvfb display. Sections:
#   regulate-stop   installed and started, it connects and regulates with no window, reports
#                   its start and the connection to the event log; `sc stop` runs the exit
#                   action (the start limits back, then the release) and ends
#   hung-stop       the server hangs while it regulates: the stop still ends within the exit's
#                   bound (60 s) and a margin
#   desktop-refused Movra.exe started while the service is stopped asks, and No runs it as the
#                   desktop edition; its Connect while the service regulates is refused with a box
#                   and no second session; after the service stops, the same Connect works; the
#                   service started then waits, and connects once the desktop disconnects
#   client          Movra.exe started while the service is stopped: Yes starts the service and
#                   the window attaches to it; its commands (Disconnect, Connect, the modes, the
#                   settings sheet, the groups editor, save, load) act on the service's files; a
#                   second window sees the first one's edit; closing a window leaves the service
#                   regulating
#   pipe            a frame announcing a lying length and one of random bytes each drop only
#                   their own client; the pipe's descriptor read back by a client
#   menu-stop       "Остановить службу" from a window stops the service with the exit action,
#                   and the window ends with it
#   console         `run`: the lines on the console, Ctrl+C runs the exit
#   uninstall       the service is gone, the data folder stays
# TiSim is a copy registered in the prefix; the service reads TiSim.tisim beside it, since a
# service does not inherit this shell's environment. Every wait has a deadline.
#   blackbox_service.sh MovraService.exe Movra.exe TiSim.dll blackbox_helper.exe pipe_probe.exe
set -u -o pipefail
service="$1"; movra="$2"; dll="$3"; helper="$4"; probe="$5"
. "$(dirname "$0")/blackbox_common.sh"
for f in "$service" "$movra" "$dll" "$helper" "$probe"; do
  [ -f "$f" ] || { echo "FAIL: $f was not built"; exit 1; }
done
service="$(realpath "$service")" movra="$(realpath "$movra")" helper="$(realpath "$helper")"
probe="$(realpath "$probe")"
exe_name="$(basename "$service")"

work="$(mktemp -d)"
export HOME="$work/home" WINEPREFIX="$work/prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset TISIM_SCENARIO TISIM_REGISTER TISIM_FORCE
mkdir -p "$HOME" "$work/tisim" "$work/desktop"
data="$WINEPREFIX/drive_c/ProgramData/Movra"
desktop_pid="" run_pid="" keeper="" client_a="" client_b=""
cleanup() {
  touch "$work/release"
  [ -n "$desktop_pid" ] && kill "$desktop_pid" 2>/dev/null
  for c in $client_a $client_b; do timeout 10 wine "$helper" pid="$c" kill >/dev/null 2>&1; done
  [ -n "$run_pid" ] && kill "$run_pid" 2>/dev/null
  [ -d "$WINEPREFIX" ] && { wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; }
  bb_teardown
  rm -rf "$work"
}
trap cleanup EXIT
bb_display
"$tools/wine-prefix" "$WINEPREFIX" || { echo "FAIL: no Wine prefix"; exit 1; }
# Wine ends its session when no program of its own runs, and its next start would start the
# installed automatic service by itself. A program kept waiting holds the session until the end.
# It is the session's first program, so the service manager and every service inherit its
# tracing and its stderr: Wine's ReportEventW keeps nothing (no event log to read back, and
# wevtutil is a stub) but traces each string on the "eventlog" channel (information as trace,
# warnings as warn, errors as err), and those traces land in session.err.
wineserver -w
touch "$work/held"
WINEDEBUG=-all,+eventlog wine "$helper" hold "Z:$(echo "$work/held" | tr / '\\')" \
  "Z:$(echo "$work/release" | tr / '\\')" 1800000 >"$work/keeper.out" 2>"$work/session.err" &
keeper=$!
for _ in $(seq 100); do grep -qs held "$work/keeper.out" && break; sleep 0.3; done
grep -qs held "$work/keeper.out" || { echo "FAIL: the Wine session did not start"; exit 1; }
cp "$dll" "$work/tisim/TiSim.dll"
"$tools/tisim-register" --prefix "$WINEPREFIX" "$work/tisim/TiSim.dll" >/dev/null ||
  { echo "FAIL: cannot register TiSim"; exit 1; }

failures=0
fail() {
  echo "FAIL [$case]: $*"; failures=$((failures + 1))
  log_text | tail -n 5 | sed 's/^/    log: /'
}
pass() { echo "ok   [$case]: $*"; }
help() { timeout 30 wine "$helper" "$@" 2>/dev/null | tr -d '\r'; }
svc() { timeout 150 wine "$service" "$@" 2>&1 | tr -d '\r'; }
sc_state() {  # RUNNING, STOPPED, STOP_PENDING, ... or nothing when no such service
  timeout 30 wine sc query Movra 2>/dev/null | tr -d '\r' | awk '$1 == "STATE" { print $4 }'
}
log_text() { [ -f "${log:-$data/Movra.log}" ] && iconv -f UTF-16 -t UTF-8 "${log:-$data/Movra.log}" 2>/dev/null | tr -d '\r'; }
journal="/dev/null"
journal_count() { cat "$journal" 2>/dev/null | grep -c -- "$1"; }
until_true() {  # until_true SECONDS COMMAND...: polls COMMAND until it succeeds or time runs out
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -lt "$end" ] || return 1; sleep 0.3; done
}
in_log() { log_text | grep -qF -- "$1"; }
in_journal() { grep -qF -- "$1" "$journal" 2>/dev/null; }
# Regulation writes a limit as VT_INT; the exit action writes the start limits as VT_I4.
regulates() { grep -qE 'SetProperty int32:3 BSTR:"(alpha|beta)" BSTR:"User_(In|Out)Bandwidth" INT:' "$journal" 2>/dev/null; }
service_running() {  # a MovraService.exe process of this prefix is alive
  local p
  for p in /proc/[0-9]*; do
    tr '\0' '\n' 2>/dev/null <"$p/cmdline" | grep -qiF "$exe_name" || continue
    tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}
service_gone() { ! service_running; }
stopped() { [ "$(sc_state)" = STOPPED ] || service_gone; }
pid_gone() { ! kill -0 "$1" 2>/dev/null; }
# The exit's bound is 60 s from the stop; the margin covers Wine's and the poll's slowness.
STOP_DEADLINE=90
stop_service() {  # sc stop, then until STOPPED (or the process gone); sets stop_took, stop_how
  local start=$SECONDS
  timeout 60 wine sc stop Movra >/dev/null 2>&1
  if until_true "$STOP_DEADLINE" stopped; then
    stop_took=$((SECONDS - start)) stop_how="state $(sc_state)"
    service_running || stop_how="$stop_how, process gone"
    return 0
  fi
  stop_took="" stop_how=""; return 1
}
# The event reports traced in FILE, decoded: a string is traced as L"..." with \NNNN (hex) for
# each character past ASCII.
reports() {
  grep ':eventlog:ReportEventW' "$1" 2>/dev/null |
    perl -CS -pe 's/\\([0-9a-fA-F]{4})/chr(hex $1)/ge; s/\\"/"/g'
}
reported() { reports "$1" | grep -qE -- "$2"; }
session="$work/session.err"
connect_line='Авторизация пользователя TI\.\.\.OK|Подключаюсь к.*\.\.\.OK'
check_restored() { bb_check_restored "$journal"; }

# scenario CASE "extra lines": TiSim.tisim beside the DLL, journalling to journal-CASE.txt.
scenario() {
  case="$1"; journal="$work/tisim/journal-$1.txt"
  cat >"$work/tisim/TiSim.tisim" <<SCN
password 48213
channel 1024 256
defaults 128 64
seed 7
time real
journal journal-$1.txt
group Офис 512
user alpha group=Офис ip=10.0.0.2 in=256 out=64 demand=900/40
user beta  group=Офис ip=10.0.0.3 in=256 out=64 demand=600/20
user gamma ip=10.0.0.4 in=128 out=32 demand=10/2
$2
SCN
}
# movra_cfg FILE PASSWORD: mode 3, the start limits restored on exit, the scenario's users.
movra_cfg() {
  {
    printf '\xef\xbb\xbf'
    printf 'BeforeQuit: 2\nLogFileName: Movra.log\nGridSize: 4\nServer: ti.test\n'
    [ -n "$2" ] && printf 'AutoLoginPass: %s\n' "$2"
    printf 'RefreshTimer_msec: 500\nTrafficSpeedAutoControll: 3\nRXMAXkbit: 1024\nTXMAXkbit: 256\n'
    for u in alpha beta gamma; do
      printf 'User: %s\nUserKTraff: 1.0\nUserGrID: 1\nUserLimitMaxIn: 0\nUserLimitMaxOut: 0\n' "$u"
    done
    printf 'GroupName: Офис\nGroupMaxIn: 100.0\n'
  } | sed 's/$/\r/' >"$1"
}
start_service() {
  local out
  out="$(svc start)" || { fail "start failed: $out"; return 1; }
  [ "$(sc_state)" = RUNNING ] && pass "started, RUNNING" || fail "start returned, state '$(sc_state)'"
}

# regulate-stop: installed, it reads the data folder's Movra.cfg, connects with the stored
# password and divides the channel while no window runs; the stop runs the exit action.
scenario regulate-stop ""
out="$(svc install)" && pass "install" || fail "install: $out"
[ -n "$(sc_state)" ] && pass "service Movra exists ($(sc_state))" || fail "sc query finds no service Movra"
[ -d "$data" ] && pass "data folder made" || fail "install made no $data"
source_key='HKLM\System\CurrentControlSet\Services\EventLog\Application\Movra'
event_source() { timeout 30 wine reg query "$source_key" /v EventMessageFile 2>/dev/null | tr -d '\r'; }
event_source | grep -qiF "$exe_name" && pass "event source Movra registered" ||
  fail "no event source Movra naming $exe_name"
mkdir -p "$data"
movra_cfg "$data/Movra.cfg" 48213
start_service
until_true 40 regulates && pass "regulates: the division's writes in the journal" ||
  fail "no division writes in the journal"
in_log "Служба Movra запущена" && pass "start line in Movra.log" || fail "no start line"
[ "$(journal_count ' Login ')" = 1 ] && pass "one session" || fail "$(journal_count ' Login ') logins"
help visible >/dev/null && fail "a Movra window is open" || pass "no Movra window"
box="$(help box 500)" && fail "the service shows a box: $box" || pass "no message box"
until_true 10 reported "$session" 'Служба Movra запущена' && pass "start reported to the event log" ||
  fail "no start report; traced: $(reports "$session" | head -n 3)"
until_true 10 reported "$session" "$connect_line" && pass "connect reported to the event log" ||
  fail "no connect report; traced: $(reports "$session" | head -n 5)"
if stop_service; then pass "STOPPED ${stop_took} s after sc stop"
else fail "not stopped ${STOP_DEADLINE} s after sc stop"; fi
check_restored
in_log "Служба Movra остановлена" && pass "stop line in Movra.log" || fail "no stop line"
until_true 10 reported "$session" 'Служба Movra остановлена' && pass "stop reported to the event log" ||
  fail "no stop report"

# hung-stop: the server stops answering while the service regulates; the stop waits for the
# hung call only until the exit's bound, then the process ends.
scenario hung-stop "at 8 fault hang info"
start_service
until_true 40 regulates || fail "did not regulate"
until_true 30 in_journal "-> HANG" && pass "server hangs" || fail "the server did not hang"
if stop_service; then pass "stop ended ${stop_took} s after sc stop ($stop_how; bound 60 s)"
else fail "not stopped ${STOP_DEADLINE} s after sc stop with a hung server"; fi
until_true 30 service_gone && pass "no service process left" || fail "the process outlived its stop"

# desktop-refused: the desktop edition (no stored password: it connects only when asked) asks
# to connect while the service regulates. The service was ended in a hung call above, so this
# also shows that it takes the machine's regulator place again after such an end.
scenario desktop-refused ""
stopped_question="Служба Movra установлена на этом компьютере, но не запущена. \
Да — запустить службу и открыть ее окно. \
Нет — работать без службы: регулировать будет эта копия Movra. \
Отмена — выйти."
one_line() { tr '\n' ' ' | sed 's/  */ /g; s/ $//'; }
# The service is installed but stopped: Movra.exe asks before anything, and No is the desktop
# edition.
movra_cfg "$work/desktop/Movra.cfg" ""
(cd "$work/desktop" && exec wine "$movra" >/dev/null 2>&1) &
desktop_pid=$!
box="$(help box 30000 no | one_line)"
[ "$box" = "$stopped_question" ] && pass "asked: $box" || fail "box '$box', expected the question"
until_true 30 help visible >/dev/null || fail "Movra.exe shows no window"
start_service
until_true 40 regulates && pass "service regulates" || fail "service did not regulate"
help command 1053 >/dev/null
want="Ошибка подключения к ti.test: сервер уже регулирует служба Movra или другая копия Movra"
box="$(help box 30000)"
[ "$box" = "$want" ] && pass "box: $box" || fail "box '$box', expected '$want'"
log="$work/desktop/Movra.log"
in_log "$want" && pass "desktop log line" || fail "no refusal line in the desktop's log"
unset log
[ "$(journal_count ' Login ')" = 1 ] && pass "the journal has the service's session only" ||
  fail "$(journal_count ' Login ') logins: a second regulator connected"
if stop_service; then pass "service STOPPED ${stop_took} s after sc stop"
else fail "service not stopped"; fi
check_restored
help command 1053 >/dev/null
log="$work/desktop/Movra.log"
until_true 30 in_log "Авторизация пользователя TI...OK" && pass "desktop connects once the service stopped" ||
  fail "desktop did not connect after the service stopped"
unset log
# The other way round: the service started while the desktop regulates waits, and connects on
# one of its later tries once the desktop has disconnected.
logged_in() { log_text | grep -cF "Авторизация пользователя TI...OK"; }
before="$(logged_in)"
start_service
until_true 30 in_log "Сервер уже регулирует другая копия Movra. Служба подключится, когда она отключится" &&
  pass "service waits while the desktop regulates" || fail "no waiting line from the service"
help command 1057 >/dev/null
# Its first try again comes 30 s after the refusal.
more_logins() { [ "$(logged_in)" -gt "$before" ]; }
until_true 90 more_logins && pass "service connects after the desktop disconnected" ||
  fail "service did not connect after the desktop disconnected"
stop_service || fail "service not stopped"
help command 32791 >/dev/null
until_true 30 pid_gone "$desktop_pid" && desktop_pid="" ||
  fail "Movra.exe did not end after Exit"

# client: the service installed and stopped; Movra.exe asks, Yes starts the service and the
# window attaches to it. Its commands reach the service's application and files.
scenario client "user delta ip=10.0.0.5 in=128 out=32 demand=10/2"
svc_cfg="$data/Movra.cfg"
cfg_has() { iconv -f UTF-16 -t UTF-8 "$svc_cfg" 2>/dev/null | tr -d '\r' | grep -qxF -- "$1"; }
mkdir -p "$work/client"
client_start() {  # client_start VAR: Movra.exe started in its own folder, its pid into VAR
  local pid
  (cd "$work/client" && timeout 30 wine "$helper" start "Z:$(echo "$movra" | tr / '\\')" \
    >"$work/pid" 2>/dev/null)
  pid="$(tr -d '\r' <"$work/pid")"
  printf -v "$1" '%s' "$pid"
}
hw() { local p="$1"; shift; help pid="$p" "$@"; }  # the helper for one window only
title_is_service() { hw "$1" title | grep -qF "Подключен к ti.test (служба)"; }
rows_at_least() { [ "$(hw "$1" rows)" -ge "$2" ] 2>/dev/null; }
client_start client_a
box="$(hw "$client_a" box 30000 yes | one_line)"
[ "$box" = "$stopped_question" ] && pass "asked, answered Yes" || fail "box '$box'"
service_up() { [ "$(sc_state)" = RUNNING ]; }
until_true 60 service_up && pass "the window started the service" ||
  fail "service not running after Yes: '$(sc_state)'"
until_true 60 title_is_service "$client_a" && pass "title: $(hw "$client_a" title)" ||
  fail "title '$(hw "$client_a" title)'"
until_true 40 regulates && pass "service regulates" || fail "service did not regulate"
until_true 20 rows_at_least "$client_a" 4 && pass "the service's users shown: $(hw "$client_a" rows) rows" ||
  fail "rows: $(hw "$client_a" rows)"
[ ! -e "$work/client/Movra.cfg" ] && [ ! -e "$work/client/Movra.log" ] &&
  pass "the window keeps no files of its own" || fail "files in the window's folder: $(ls "$work/client")"
stopped_line="Отключение от сервера.... Поток завершен."
stops() { log_text | grep -cF "$stopped_line"; }
before="$(stops)"
hw "$client_a" command 1057 >/dev/null
more_stops() { [ "$(stops)" -gt "$before" ]; }
until_true 30 more_stops && pass "Disconnect: the service's run ended" || fail "Disconnect did not reach the service"
logins="$(journal_count ' Login ')"
hw "$client_a" command 1053 >/dev/null
more_logins_now() { [ "$(journal_count ' Login ')" -gt "$logins" ]; }
until_true 30 more_logins_now && pass "Connect: the service logged in again" || fail "Connect did not reach the service"
# Monitoring from the tray's menu, saved: the service's Movra.cfg says so.
hw "$client_a" command 32796 >/dev/null
hw "$client_a" command 32786 >/dev/null
until_true 20 cfg_has "TrafficSpeedAutoControll: 0" && pass "monitoring saved to the service's Movra.cfg" ||
  fail "mode 0 not in $svc_cfg"
# Mode 3 from the settings sheet, OK, saved.
hw "$client_a" command 1002 >/dev/null
if hw "$client_a" find 1029 15000 >/dev/null; then
  hw "$client_a" click 1029 >/dev/null
  hw "$client_a" sheet-ok 1029
  hw "$client_a" gone 1029 10000 && pass "settings sheet closed with OK" || fail "sheet still open"
else
  fail "the settings sheet did not open"
fi
hw "$client_a" command 32786 >/dev/null
until_true 20 cfg_has "TrafficSpeedAutoControll: 3" && pass "mode 3 from the sheet saved by the service" ||
  fail "mode 3 not in $svc_cfg"
# The groups editor: a new group with its share, made over the service and saved by it.
hw "$client_a" command 1064 >/dev/null
if hw "$client_a" find 2106 15000 >/dev/null; then
  pass "the groups editor opened"
  # A Latin name: the helper's arguments reach it in the ANSI code page.
  hw "$client_a" settext 2104 "Sklad" && hw "$client_a" settext 2105 "30" &&
    hw "$client_a" click 2106 || fail "the groups editor's fields could not be filled"
  closed="$(hw "$client_a" dismiss 3000)"
  [ "$closed" = "Редактор групп" ] && pass "closed with no box" || fail "closed: $closed"
  hw "$client_a" gone 2106 10000 || fail "the groups editor stayed open"
  hw "$client_a" command 32786 >/dev/null
  until_true 20 cfg_has "GroupName: Sklad" && pass "the new group saved by the service" ||
    fail "the new group not in $svc_cfg"
else
  fail "the groups editor did not open"
fi
# A second window; the first one loads a Movra.cfg with one user more, and both show it.
client_start client_b
until_true 60 title_is_service "$client_b" && pass "a second window attached" || fail "no second window"
rows_b="$(hw "$client_b" rows)"
# Appended in the file's own encoding (the service's save writes UTF-16).
encoding=UTF-8; [ "$(head -c 2 "$svc_cfg" | od -An -tx1 | tr -d ' ')" = fffe ] && encoding=UTF-16LE
printf 'User: delta\r\nUserKTraff: 1.0\r\nUserGrID: 0\r\nUserLimitMaxIn: 0\r\nUserLimitMaxOut: 0\r\n' |
  iconv -f UTF-8 -t "$encoding" >>"$svc_cfg"
hw "$client_a" command 32789 >/dev/null
until_true 20 rows_at_least "$client_a" $((rows_b + 1)) && pass "Load: the first window shows the added user" ||
  fail "first window rows $(hw "$client_a" rows), before $rows_b"
until_true 20 rows_at_least "$client_b" $((rows_b + 1)) && pass "the second window sees the first one's load" ||
  fail "second window rows $(hw "$client_b" rows), before $rows_b"
# Closing the first window leaves the service regulating.
hw "$client_a" close >/dev/null
hw "$client_a" ended 20000 && { client_a=""; pass "closing the window ended it"; } ||
  fail "the window did not end; still up: $(hw "$client_a" dismiss 1000)"
[ "$(sc_state)" = RUNNING ] && pass "service still running" || fail "service state '$(sc_state)'"
# Each cycle reads the users from the server: the journal grows while the service regulates.
calls() { wc -l <"$journal" 2>/dev/null || echo 0; }
c0="$(calls)"
more_calls() { [ "$(calls)" -gt "$((c0 + 20))" ]; }
until_true 40 more_calls && pass "the service goes on polling after the window closed" ||
  fail "no server calls after the window closed"
hw "$client_b" close >/dev/null
hw "$client_b" ended 20000 && client_b="" || fail "the second window did not end"
stop_service || fail "service not stopped"

# pipe: broken clients are dropped one by one while the service goes on; the pipe's
# descriptor as a client reads it.
scenario pipe ""
movra_cfg "$data/Movra.cfg" 48213  # the window's saves kept no password
start_service
until_true 40 regulates || fail "did not regulate"
pipe_probe() { timeout 60 wine "$probe" "$1" 2>/dev/null | tr -d '\r'; }
for how in lying noise; do
  out="$(pipe_probe "$how")"
  [ "$out" = dropped ] && pass "$how frame: the client was dropped" || fail "$how frame: '$out'"
done
[ "$(log_text | grep -cF "Окно Movra отключено: испорченный кадр")" = 2 ] &&
  pass "one line for each dropped client" || fail "no line for each dropped client"
[ "$(sc_state)" = RUNNING ] && pass "service still running" || fail "service state '$(sc_state)'"
c0="$(calls)"
until_true 40 more_calls && pass "and goes on polling" || fail "no server calls after the broken frames"
sddl="$(pipe_probe sddl)"
# As set; Windows keeps the generic right mapped to the file rights, Wine keeps it as given.
case "$(echo "$sddl" | head -n 1)" in
  "O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)" | "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)")
    pass "descriptor $(echo "$sddl" | head -n 1)" ;;
  *) fail "descriptor '$(echo "$sddl" | head -n 1)', expected O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)" ;;
esac
server_pid="$(echo "$sddl" | sed -n 's/^server //p')"
[ -n "$server_pid" ] && [ "$server_pid" != 0 ] && pass "served by process $server_pid" || fail "no server process"
stop_service || fail "service not stopped"

# menu-stop: "Остановить службу" from a window: asked, the service stops with the exit action
# (the start limits back), and the window ends with it.
scenario menu-stop ""
movra_cfg "$data/Movra.cfg" 48213
start_service
until_true 40 regulates || fail "did not regulate"
client_start client_b
until_true 60 title_is_service "$client_b" && pass "window attached" || fail "no window"
hw "$client_b" command 32803 >/dev/null
box="$(hw "$client_b" box 10000 yes)"
want="Остановить службу Movra? Регулирование прекратится, и будет выполнено действие при выходе."
[ "$box" = "$want" ] && pass "asked: $box" || fail "box '$box', expected '$want'"
until_true "$STOP_DEADLINE" stopped && pass "the menu stopped the service" || fail "service state '$(sc_state)'"
check_restored
hw "$client_b" ended 30000 && { client_b=""; pass "the window closed with the service"; } ||
  fail "the window outlived the service; still up: $(hw "$client_b" dismiss 1000)"

# console: `run` is the same host in a console: it prints each line and Ctrl+C runs the exit.
scenario console ""
(cd "$data" && exec wine "$service" run >"$work/run.out" 2>/dev/null) &
run_pid=$!
echoed() { tr -d '\r' 2>/dev/null <"$work/run.out" | grep -qF -- "$1"; }
until_true 40 echoed "Авторизация пользователя TI...OK" && pass "connected, printed on the console" ||
  fail "no connect line on the console: $(head -c 300 "$work/run.out")"
until_true 40 regulates && pass "regulates" || fail "did not regulate"
kill -INT "$run_pid" 2>/dev/null  # Ctrl+C
if until_true "$STOP_DEADLINE" pid_gone "$run_pid"; then
  run_pid=""; pass "ended on Ctrl+C"
  check_restored
  echoed "Служба Movra остановлена" && pass "stop line printed" || fail "no stop line printed"
else
  fail "still running ${STOP_DEADLINE} s after Ctrl+C"
fi

# uninstall: the service goes, the data folder and its files stay.
case=uninstall
out="$(svc uninstall)" && pass "uninstall" || fail "uninstall: $out"
[ -z "$(sc_state)" ] && pass "no service Movra" || fail "service still there: $(sc_state)"
event_source >/dev/null && fail "event source Movra still registered" || pass "event source removed"
[ -f "$data/Movra.cfg" ] && pass "Movra.cfg kept" || fail "Movra.cfg removed"

echo "service black-box failures: $failures"
[ "$failures" -eq 0 ]
