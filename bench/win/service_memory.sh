#!/usr/bin/env bash
# MovraService.exe left regulating under Wine: 2,000 users with random wishes in mode 3 against
# TiSim in real time, one cycle a second; every four minutes one user's data cannot be read for
# twenty seconds (the run ends and the service connects again after its pause) and writes are
# refused for ten. Prints the service process's resident memory each minute, then its first
# (after the first minute), highest and last value. A measurement, not a test.
#   bench/win/service_memory.sh [seconds=3600] [users=2000]     (after `make win`)
set -u
cd "$(dirname "$0")/../.."
root="$PWD"
seconds="${1:-3600}"
users="${2:-2000}"
win="$root/build/win"
service="$win/service/win/MovraService.exe"
dll="$win/tisim/TiSim.dll"
helper="$win/tests/win/blackbox_helper.exe"
for f in "$service" "$dll" "$helper"; do
  [ -f "$f" ] || { echo "service_memory: $f is missing (make win)" >&2; exit 1; }
done
work="$root/build/service-memory"
prefix="$work/wineprefix"
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
installed="" keeper=""
cleanup() {
  trap - EXIT INT TERM
  if [ -n "$installed" ]; then
    wine "$service" stop >/dev/null 2>&1
    wine "$service" uninstall >/dev/null 2>&1
  fi
  [ -n "$keeper" ] && touch "$work/release"
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

{
  echo "password 48213"
  echo "channel 100000 50000"
  echo "time real"
  echo "journal-memory 1000"
  echo "period 240"
  for ((k = 0; k < users; k++)); do echo "user u$k ip=10.2.$((k / 250)).$((k % 250 + 1)) in=0 out=0 demand=random"; done
  echo "at 120 fault info u5"
  echo "at 140 clear info u5"
  echo "at 180 fault set * User_InBandwidth"
  echo "at 190 clear set * User_InBandwidth"
} >"$work/TiSim.tisim"
cp "$dll" "$work/TiSim.dll"
# Its own copy: a build meanwhile does not touch the program that runs.
cp "$service" "$work/MovraService.exe"
service="$work/MovraService.exe"
tools/tisim-register --prefix "$prefix" "$work/TiSim.dll" >/dev/null || exit 1

{
  printf '\xef\xbb\xbf'
  printf 'BeforeQuit: 2\r\nLogFileName: Movra.log\r\nLogMaxSize: 50\r\nServer: localhost\r\n'
  printf 'AutoLoginPass: 48213\r\nRefreshTimer_msec: 1000\r\nTrafficSpeedAutoControll: 3\r\n'
  printf 'RXMAXkbit: 100000\r\nTXMAXkbit: 50000\r\n'
  for ((k = 0; k < users; k++)); do
    printf 'User: u%d\r\nUserKTraff: 1.000000\r\nUserGrID: 0\r\nUserLimitMaxIn: 0\r\nUserLimitMaxOut: 0\r\n' "$k"
  done
} >"$work/Movra.cfg"

# Wine ends its session when no program of its own is left, and a new session starts the
# automatic service by itself; a waiting helper keeps this one until the end.
touch "$work/held"
wine "$helper" hold "Z:$(echo "$work/held" | tr / '\\')" "Z:$(echo "$work/release" | tr / '\\')" \
  $(((seconds + 600) * 1000)) >/dev/null 2>&1 &
keeper=$!
out="$(wine "$service" install 2>&1)" || { echo "service_memory: $out" >&2; exit 1; }
installed=1
data="$prefix/drive_c/ProgramData/Movra"
cp "$work/Movra.cfg" "$data/Movra.cfg"
out="$(wine "$service" start 2>&1)" || { echo "service_memory: $out" >&2; exit 1; }
pid="$(pgrep -f 'MovraService.exe$' | head -n1)"
[ -n "$pid" ] || pid="$(pgrep -f MovraService.exe | head -n1)"
[ -n "$pid" ] || { echo "service_memory: the service's process is not found" >&2; exit 1; }
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null; }
echo "service_memory: $users users, $seconds s, process $pid; resident memory (kB) each minute:"
first="" most=0 last=0
for ((t = 1; t <= seconds; t++)); do
  sleep 1
  if ((t % 60 == 0 || t == seconds)); then
    last="$(rss)"
    [ -n "$last" ] || { echo "service_memory: the service's process has gone" >&2; exit 1; }
    [ -n "$first" ] || first="$last"
    ((last > most)) && most="$last"
    echo "  $((t / 60)) min: $last"
  fi
done
out="$(wine "$service" stop 2>&1)" || echo "service_memory: $out" >&2
# Movra.log is UTF-16.
log="$(iconv -f UTF-16LE -t UTF-8 "$data/Movra.log" 2>/dev/null)"
connects="$(grep -c 'Авторизация пользователя TI...OK' <<<"$log")"
failures="$(grep -c 'Ошибка получения данных' <<<"$log")"
echo "service_memory: resident memory first $first kB, highest $most kB, last $last kB;" \
  "log-ins: $connects, runs ended by a failed read: $failures"
