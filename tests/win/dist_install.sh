#!/usr/bin/env bash
# The setup program and the portable zip as an administrator uses them, under Wine in a fresh
# prefix of its own (TiSim is not registered there yet) with a private HOME, so that nothing
# leaks into the real one: silent install of this version with TiSim, the files, shortcuts,
# uninstall entry and version resource; Movra started in the shortcut's folder connects; the zip
# unpacked and started connects and logs beside itself; the next version installs over it and
# keeps the data folder; the silent uninstall removes all but the data folder; none of it installs
# the service. Then, with the service (when the tree builds it): installed and running with the
# administrator's Movra.cfg copied to its own folder, restarted by the upgrade with its Movra.cfg
# untouched, removed by the uninstaller that keeps its folder.
#   dist_install.sh MAKENSIS SETUP SETUP-NEXT ZIP VERSION NEXT-VERSION dist_probe.exe
#                   blackbox_helper.exe service|none
set -u
makensis="$1" setup="$2" setup_next="$3" zip="$4" version="$5" next_version="$6" probe="$7" helper="$8"
service="${9:-none}"
here="$(cd "$(dirname "$0")" && pwd)"
tools="$here/../../tools"
if [ -z "$makensis" ] || [ ! -x "$makensis" ]; then
  echo "FAIL: makensis was not found when the tree was configured, so there is no setup program."
  echo "      Install it (Debian package nsis, 'make deps') and configure the Windows tree again."
  exit 1
fi
for f in "$setup" "$setup_next" "$zip"; do
  [ -f "$f" ] || { echo "FAIL: $f was not built"; exit 1; }
done

work="$(mktemp -d)"
export HOME="$work/home" WINEPREFIX="$work/prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset TISIM_SCENARIO TISIM_REGISTER TISIM_FORCE
mkdir -p "$HOME"
fdfile="$work/display"
Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$fdfile" 2>/dev/null &
xpid=$!
movra_pid="" holder_pid=""
cleanup() {
  [ -n "$movra_pid" ] && kill "$movra_pid" 2>/dev/null
  [ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null
  wineserver -k 2>/dev/null
  kill "$xpid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$fdfile" ] && break; sleep 0.1; done
[ -s "$fdfile" ] || { echo "FAIL: Xvfb did not start"; exit 1; }
"$tools/wine-prefix" "$WINEPREFIX" || { echo "FAIL: no Wine prefix"; exit 1; }
export DISPLAY=":$(head -n1 "$fdfile")"

failures=0
fail() { echo "FAIL [$step]: $*"; failures=$((failures + 1)); }
pass() { echo "ok   [$step]: $*"; }
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then pass "$1"; else fail "$1"; fi
}
unix() { winepath -u "$1" 2>/dev/null | tr -d '\r'; }
probe() { timeout 30 wine "$probe" "$@" 2>/dev/null | tr -d '\r'; }
uninstall_entry() {
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Movra' 2>/dev/null | tr -d '\r'
}
tisim_server() {
  wine reg query 'HKCR\CLSID\{385D6E60-1ACB-4097-B428-C766661C1E9D}\InprocServer32' /ve 2>/dev/null | tr -d '\r'
}
# The service's state (RUNNING, STOPPED...), empty when there is none.
service_state() { wine sc query Movra 2>/dev/null | tr -d '\r' | awk '$1 == "STATE" { print $4 }'; }
no_service() { ! wine sc query Movra >/dev/null 2>&1; }
entry_value() { uninstall_entry | awk -v k="$1" '$1 == k { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }
log_text() { [ -f "$1/Movra.log" ] && iconv -f UTF-16 -t UTF-8 "$1/Movra.log" 2>/dev/null | tr -d '\r'; }
# A Movra.cfg that connects to TiSim's demo scenario at once.
write_cfg() {
  {
    printf '\xef\xbb\xbf'
    printf 'BeforeQuit: 0\nLogFileName: Movra.log\nServer: ti.test\nAutoLoginPass: 48213\n'
    printf 'RefreshTimer_msec: 500\nTrafficSpeedAutoControll: 3\nRXMAXkbit: 1024\nTXMAXkbit: 256\n'
    printf 'User: Анна\nUserKTraff: 1.0\nUserGrID: 1\nUserLimitMaxIn: 0\nUserLimitMaxOut: 0\n'
    printf 'GroupName: Бухгалтерия\nGroupMaxIn: 100.0\n'
  } | sed 's/$/\r/' >"$1/Movra.cfg"
}
# run_movra EXE FOLDER: starts Movra in FOLDER, waits for it to connect, then asks it to exit.
run_movra() {
  (cd "$2" && exec wine "$1" >/dev/null 2>&1) &
  movra_pid=$!
  local end=$((SECONDS + 60)) ok=1
  until log_text "$2" | grep -qF "Авторизация пользователя TI...OK"; do
    [ $SECONDS -lt $end ] || { ok=0; break; }
    sleep 0.3
  done
  timeout 30 wine "$helper" command 32791 >/dev/null 2>&1
  end=$((SECONDS + 30))
  while kill -0 "$movra_pid" 2>/dev/null && [ $SECONDS -lt $end ]; do sleep 0.2; done
  kill -0 "$movra_pid" 2>/dev/null && { kill "$movra_pid"; fail "Movra did not end after Exit"; }
  wait "$movra_pid" 2>/dev/null; movra_pid=""
  wineserver -w
  [ $ok = 1 ]
}

# No blank in the folder: Wine quotes such an argument, and NSIS takes /D= only unquoted.
inst_win='C:\MovraTest\Movra'
inst="$WINEPREFIX/drive_c/MovraTest/Movra"
winenv() { wine cmd /c echo "$1" 2>/dev/null | tr -d '\r"'; }
data_win="$(winenv '%APPDATA%')\\Movra"
data="$(unix "$data_win")"
programs="$(unix "$(winenv '%APPDATA%\Microsoft\Windows\Start Menu\Programs')")"
desktop="$(unix "$(winenv '%USERPROFILE%\Desktop')")"
startup="$programs/Startup"
service_data="$(unix "$(winenv '%ProgramData%')")/Movra"
nothing_of_the_service() {
  no_service && test ! -e "$inst/MovraService.exe" -a ! -e "$service_data"
}

step="install $version"
wine "$setup" /S /TISIM "/D=$inst_win" >/dev/null 2>&1
wineserver -w
check "program and uninstaller in the install folder" test -f "$inst/Movra.exe" -a -f "$inst/Uninstall.exe"
check "TiSim and its scenario beside it" test -f "$inst/TiSim.dll" -a -f "$inst/TiSim.tisim"
check "the installed scenario writes no journal" bash -c "! grep -q '^journal' '$inst/TiSim.tisim'"
check "data folder made" test -d "$data"
check "version resource $version" test "$(probe version "$inst_win\\Movra.exe")" = "$version $version.0"
for link in "$programs/Movra.lnk" "$desktop/Movra.lnk"; do
  got="$(probe link "$(winepath -w "$link" 2>/dev/null | tr -d '\r')")"
  check "$(basename "$(dirname "$link")") shortcut starts Movra.exe in the data folder" \
    test "$got" = "$inst_win\\Movra.exe"$'\n'"$data_win"
done
check "no startup shortcut unless chosen" test ! -e "$startup/Movra.lnk"
check "uninstall entry: name, version, publisher" \
  test "$(entry_value DisplayName)|$(entry_value DisplayVersion)|$(entry_value Publisher)" = "Movra|$version|Movra"
check "uninstall entry: icon and uninstaller" \
  test "$(entry_value DisplayIcon)|$(entry_value UninstallString)" = "$inst_win\\Movra.exe,0|\"$inst_win\\Uninstall.exe\""
size=$(( $(entry_value EstimatedSize) ))
check "uninstall entry: estimated size $size KiB" test "$size" -gt 100
check "nothing of the service unless chosen" nothing_of_the_service
tisim_server | grep -qiF "$inst_win\\TiSim.dll" && pass "TiSim's class points to the installed DLL" \
  || fail "TiSim's class: $(tisim_server | grep -i REG_SZ)"

step="installed Movra"
write_cfg "$data"
check "started from the shortcut's folder, connects to the installed TiSim" run_movra "$inst/Movra.exe" "$data"
check "log written in the data folder" test -s "$data/Movra.log"
cfg_sum="$(sha256sum <"$data/Movra.cfg")"

step="portable zip"
mkdir -p "$work/portable"
(cd "$work/portable" && cmake -E tar xf "$zip")
check "holds Movra.exe and the read-me" test -f "$work/portable/Movra.exe" -a -f "$work/portable/readme.txt"
check "read-me names Movra.cfg and Movra.log" bash -c "iconv -f UTF-8 -t UTF-8 '$work/portable/readme.txt' | grep -q 'Movra.cfg' && grep -q 'Movra.log' '$work/portable/readme.txt'"
check "read-me carries no password" bash -c "! grep -qi 'pass\|парол\|48213' '$work/portable/readme.txt'"
write_cfg "$work/portable"
check "started in the unpacked folder, connects" run_movra "$work/portable/Movra.exe" "$work/portable"
check "writes its Movra.log there" bash -c "iconv -f UTF-16 -t UTF-8 '$work/portable/Movra.log' | grep -qF 'Авторизация пользователя TI...OK'"

step="upgrade to $next_version"
wine "$setup_next" /S >/dev/null 2>&1
wineserver -w
check "installed over the old one" test "$(probe version "$inst_win\\Movra.exe")" = "$next_version $next_version.0"
check "uninstall entry shows $next_version" test "$(entry_value DisplayVersion)" = "$next_version"
check "Movra.cfg in the data folder untouched" test "$(sha256sum <"$data/Movra.cfg")" = "$cfg_sum"
check "Movra.log in the data folder kept" test -s "$data/Movra.log"
check "still nothing of the service" nothing_of_the_service

step="uninstall"
wine "$inst/Uninstall.exe" /S >/dev/null 2>&1
wineserver -w
check "program files and install folder gone" test ! -e "$inst"
check "shortcuts gone" test ! -e "$programs/Movra.lnk" -a ! -e "$desktop/Movra.lnk"
no_entry() { ! uninstall_entry | grep -q DisplayName; }
check "uninstall entry gone" no_entry
check "TiSim unregistered" bash -c "! wine reg query 'HKCR\\CLSID\\{385D6E60-1ACB-4097-B428-C766661C1E9D}\\InprocServer32' /ve 2>/dev/null | grep -qi TiSim.dll"
check "data folder kept with Movra.cfg and Movra.log" \
  test "$(sha256sum <"$data/Movra.cfg")" = "$cfg_sum" -a -s "$data/Movra.log"

if [ "$service" != service ]; then
  echo "note: this tree builds no MovraService.exe; the setup has no service to test"
  echo "failures: $failures"
  [ "$failures" -eq 0 ]
  exit
fi

# Between the steps a Wine session ends when its last program does, and takes the service with
# it; the next command would start a fresh one. A program that waits keeps this one, so the
# service seen is the one the setup started.
wine "$probe" hold >/dev/null 2>&1 &
holder_pid=$!

step="install $version with the service"
wine "$setup" /S /SERVICE "/D=$inst_win" >/dev/null 2>&1
check "setup reports success" test $? = 0
check "MovraService.exe beside Movra.exe" test -f "$inst/MovraService.exe" -a -f "$inst/Movra.exe"
check "service Movra running" test "$(service_state)" = RUNNING
check "its Movra.cfg is a copy of the administrator's" cmp -s "$data/Movra.cfg" "$service_data/Movra.cfg"
# From here the service's settings are its own: an upgrade must not copy the administrator's again.
sed -i 's/^RefreshTimer_msec: 500/RefreshTimer_msec: 1000/' "$service_data/Movra.cfg"
cp "$service_data/Movra.cfg" "$work/service.cfg"
process_before="$(probe service Movra)"

step="upgrade to $next_version with the service"
wine "$setup_next" /S >/dev/null 2>&1
check "setup reports success" test $? = 0
check "installed over the old one" test "$(probe version "$inst_win\\Movra.exe")" = "$next_version $next_version.0"
check "service Movra running" test "$(service_state)" = RUNNING
process_after="$(probe service Movra)"
check "service restarted ($process_before, then $process_after)" \
  test -n "$process_after" -a "$process_after" != "$process_before"
check "its Movra.cfg byte-identical" cmp -s "$work/service.cfg" "$service_data/Movra.cfg"

step="uninstall with the service"
wine "$inst/Uninstall.exe" /S >/dev/null 2>&1
kill "$holder_pid"; wait "$holder_pid" 2>/dev/null; holder_pid=""
wineserver -w
check "service removed" no_service
check "program files and install folder gone" test ! -e "$inst"
check "its folder kept with its Movra.cfg" cmp -s "$work/service.cfg" "$service_data/Movra.cfg"

echo "failures: $failures"
[ "$failures" -eq 0 ]
