# Sourced by the black-box scripts that drive one Movra by its process id ($pid) from the
# folder $work: counting checks, and the helper calls that see only that Movra's windows.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok   $*"; }
# Every helper call is bounded; with a process id it sees only that Movra's windows.
help() { (cd "$work" && timeout 30 wine "$helper" ${pid:+pid=$pid} "$@" 2>/dev/null | tr -d '\r'); }
# Answers any message box that is up, so that nothing waits for a click that never comes.
drain_boxes() {
  local box
  while box="$(help box 500)" && [ -n "$box" ]; do fail "unexpected message: $box"; done
}
