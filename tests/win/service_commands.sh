#!/usr/bin/env bash
# MovraService.exe's commands against Wine's service control manager in the build's prefix:
# install (read back from the registry, as Wine's sc has no qc), start, the host's first lines in
# Movra.log with no password stored, stop, uninstall (the service and event source gone, the data
# folder kept), `run` in the console until Ctrl+C, and the one-line errors of an unknown command
# and of a service not installed.
# Usage: service_commands.sh MovraService.exe
set -u
exe="$1"
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/blackbox_common.sh"
bb_prefix "$exe" make
work="$(mktemp -d)"
data="$WINEPREFIX/drive_c/ProgramData/Movra"
key='HKLM\SYSTEM\CurrentControlSet\Services\Movra'
source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Movra'
failed=0
check() {  # check DESCRIPTION COMMAND...
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failed=1; fi
}
svc() { timeout 150 wine "$exe" "$@" >"$work/out" 2>"$work/err"; }
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
state() { wine sc query Movra 2>/dev/null | tr -d '\r' | sed -n 's/.*STATE *: *[0-9]* *//p'; }
log_text() { [ -f "$data/Movra.log" ] && iconv -f UTF-16 -t UTF-8 "$data/Movra.log" | tr -d '\r'; }
lines() { wc -l <"$1" | tr -d ' '; }

# Wine starts an installed automatic service whenever the prefix boots: a waiting cmd holds the
# session from here to the end, so that no step boots it anew behind the test's back.
# Its input is a pipe whose only writer is a sleep, so that no Wine process inherits the writer
# and ending the sleep ends the cmd.
mkfifo "$work/hold"
sleep 3600 >"$work/hold" &
writer=$!
wine cmd.exe /c pause <"$work/hold" >/dev/null 2>&1 &
keeper=$!
cleanup() {
  timeout 150 wine "$exe" uninstall >/dev/null 2>&1
  kill "$writer" 2>/dev/null
  wait "$keeper"
  rm -rf "$work"
}
trap cleanup EXIT
svc uninstall
rm -rf "$data"

# The one-line errors.
svc frobnicate; rc=$?
check "an unknown command: usage, exit 2" [ "$rc" = 2 -a "$(lines "$work/err")" = 1 ]
grep -q "Использование: MovraService.exe" "$work/err" || { echo "FAIL: usage line"; cat "$work/err"; failed=1; }
svc start; rc=$?
check "start before install: one line, non-zero" [ "$rc" != 0 -a "$(lines "$work/err")" = 1 ]
check "start before install names the service" grep -q "^MovraService: служба Movra не установлена: " "$work/err"

# Install, twice (the second reconfigures), and read the configuration back.
svc install && svc install; rc=$?
check "install twice" [ "$rc" = 0 ]
cat "$work/err"
wine reg query "$key" 2>/dev/null | tr -d '\r' >"$work/reg"
check "automatic start" grep -Eq "Start +REG_DWORD +0x2$" "$work/reg"
check "own process" grep -Eq "Type +REG_DWORD +0x10$" "$work/reg"
check "LocalSystem" grep -Eq "ObjectName +REG_SZ +LocalSystem$" "$work/reg"
check "display name" grep -Eq "DisplayName +REG_SZ +Movra$" "$work/reg"
check "quoted binary path" grep -Fq "ImagePath    REG_SZ    \"$(winpath "$exe")\"" "$work/reg"
check "preshutdown 60 s" grep -Eq "PreshutdownTimeout +REG_DWORD +0xea60$" "$work/reg"
wine reg export "$key" "$(winpath "$work/svc.reg")" /y >/dev/null 2>&1
check "Russian description" grep -q '"Description"="Регулирует ширину канала пользователей сервера ТИ без входа в Windows"' \
  <(iconv -f UTF-16 -t UTF-8 "$work/svc.reg" | tr -d '\r')
wine reg query "$source_key" 2>/dev/null | tr -d '\r' >"$work/source"
check "event source: message file" grep -Fq "EventMessageFile    REG_EXPAND_SZ    $(winpath "$exe")" "$work/source"
check "event source: three types" grep -Eq "TypesSupported +REG_DWORD +0x7$" "$work/source"
check "data folder created" [ -d "$data" ]

# Start: RUNNING, and with no password the host says it waits.
svc start; rc=$?
check "start" [ "$rc" = 0 ]
cat "$work/err"
check "RUNNING" [ "$(state)" = RUNNING ]
for _ in $(seq 100); do log_text | grep -q "не подключается к серверу" && break; sleep 0.2; done
check "Movra.log: started" grep -q " Служба Movra запущена$" <(log_text)
check "Movra.log: no password" grep -q " Пароль TI не сохранен в Movra.cfg: служба не подключается к серверу$" <(log_text)

# Stop: STOPPED after the exit's lines.
svc stop; rc=$?
check "stop" [ "$rc" = 0 ]
cat "$work/err"
check "STOPPED" [ "$(state)" = STOPPED ]
check "Movra.log: stopped" grep -q " Служба Movra остановлена$" <(log_text)

# Uninstall: gone, the data folder kept and said so.
svc uninstall; rc=$?
check "uninstall" [ "$rc" = 0 -a "$(lines "$work/out")" = 1 ]
check "uninstall says the data folder stays" grep -q "папка данных C:\\\\ProgramData\\\\Movra .*оставлена" "$work/out"
check "service gone" [ -z "$(state)" ]
check "registry key gone" bash -c "! wine reg query '$key' >/dev/null 2>&1"
check "event source gone" bash -c "! wine reg query '$source_key' >/dev/null 2>&1"
check "data folder kept" [ -f "$data/Movra.log" ]
svc stop; rc=$?
check "stop after uninstall: one line, non-zero" [ "$rc" != 0 -a "$(lines "$work/err")" = 1 ]

# run: the same host in this console, every line on stdout; Ctrl+C (SIGINT under Wine) runs the
# stop and the program ends by itself.
timeout 120 wine "$exe" run >"$work/run" 2>&1 &
runner=$!
for _ in $(seq 100); do grep -q "не подключается к серверу" "$work/run" && break; sleep 0.2; done
kill -INT "$runner"
wait "$runner"; rc=$?
check "run ends on Ctrl+C" [ "$rc" = 0 ]
check "run echoes the lines with their time" \
  grep -Eq "^[0-9]{2}:[0-9]{2}:[0-9]{2} Пароль TI не сохранен в Movra.cfg: служба не подключается к серверу$" "$work/run"
check "run stops through the exit" grep -q " Служба Movra остановлена$" "$work/run"

[ "$failed" = 0 ] && echo "service commands: all checks passed"
exit "$failed"
