#!/usr/bin/env bash
# The command line of movra_report as scripts use it: the options that are refused, the one
# summary line, --compare's two runs in the order off, on and its side-by-side columns agreeing
# with them, --borrowing choosing the run, and --save-cfg writing a configuration that Movra's
# own reader takes back byte for byte, without playing anything.
#   report_cli.sh movra_report SCENARIOS_DIR
set -u
report="$1"; scenarios="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Refused command lines: usage on stderr, status 2, nothing on stdout.
refused() {
  "$report" "$@" >"$work/out" 2>"$work/err"
  local rc=$?
  [ "$rc" = 2 ] || fail "'$*' ended with $rc, not 2"
  [ -s "$work/out" ] && fail "'$*' printed on stdout"
  grep -q '^usage: movra_report ' "$work/err" || fail "'$*' gave no usage line"
}
refused
refused "$scenarios/saturated.tisim" --compare --borrowing 1
refused "$scenarios/saturated.tisim" --cycles 0
refused "$scenarios/saturated.tisim" --frobnicate
refused "$scenarios/saturated.tisim" --cfg
# A scenario that cannot be read names itself.
"$report" "$work/missing.tisim" >/dev/null 2>"$work/err"
[ $? = 2 ] || fail "a missing scenario did not end with 2"
grep -q "missing.tisim" "$work/err" || fail "a missing scenario is not named"

summary='^work conservation: in [0-9]+\.[0-9]%, out [0-9]+\.[0-9]%$'
sat=("$scenarios/saturated.tisim" --cfg "$scenarios/saturated.cfg" --cycles 80)

# One run: exactly one summary line; --quiet drops the per-cycle lines.
for b in 0 1; do
  "$report" "${sat[@]}" --quiet --borrowing "$b" >"$work/run$b" 2>"$work/err" ||
    fail "--borrowing $b failed: $(cat "$work/err")"
  [ "$(grep -cE "$summary" "$work/run$b")" = 1 ] || fail "--borrowing $b: not one summary line"
done
"$report" "${sat[@]}" >"$work/loud" 2>/dev/null || fail "a run without --quiet failed"
[ "$(wc -l <"$work/loud")" -gt "$(wc -l <"$work/run1")" ] || fail "--quiet changed nothing"
# The two settings give different runs: on the saturated scenario borrowing carries more.
cmp -s <(grep -E "$summary" "$work/run0") <(grep -E "$summary" "$work/run1") &&
  fail "--borrowing 0 and 1 gave the same run"

# --compare: the same two runs, off then on, then the columns.
"$report" "${sat[@]}" --compare >"$work/cmp" 2>"$work/err" || fail "--compare failed"
grep -E "$summary" "$work/cmp" >"$work/cmp-lines"
[ "$(wc -l <"$work/cmp-lines")" = 2 ] || fail "--compare: not two summary lines"
grep -E "$summary" "$work/run0" "$work/run1" -h | cmp -s - "$work/cmp-lines" ||
  fail "--compare's runs differ from --borrowing 0 and 1"
grep -qE '^borrowing +off +on$' "$work/cmp" || fail "--compare: no column header"
# The columns repeat the runs' figures, off first.
row="$(grep -E '^work conservation in, %' "$work/cmp" | awk '{print $(NF-1), $NF}')"
runs="$(sed -E 's/^work conservation: in ([0-9.]+)%.*/\1/' "$work/cmp-lines" | paste -sd' ')"
[ "$row" = "$runs" ] || fail "--compare's columns ($row) are not its runs ($runs)"

# --save-cfg plays nothing and writes Movra's own file: UTF-16 with a byte-order mark, the
# option as asked; read back and saved again it is the same to the byte.
"$report" "$scenarios/demo.tisim" --borrowing 1 --save-cfg "$work/a.cfg" >"$work/out" 2>&1 ||
  fail "--save-cfg failed: $(cat "$work/out")"
[ -s "$work/out" ] && fail "--save-cfg printed: $(head -3 "$work/out")"
[ "$(od -An -tx1 -N2 "$work/a.cfg" | tr -d ' ')" = fffe ] || fail "--save-cfg: no UTF-16 mark"
iconv -f UTF-16 -t UTF-8 "$work/a.cfg" | tr -d '\r' >"$work/a.txt"
grep -qx 'ChanalBorrowing: 1' "$work/a.txt" || fail "--save-cfg lost --borrowing 1"
grep -qx 'TrafficSpeedAutoControll: 3' "$work/a.txt" || fail "--save-cfg: not mode 3"
"$report" "$scenarios/demo.tisim" --cfg "$work/a.cfg" --save-cfg "$work/b.cfg" >/dev/null 2>&1 ||
  fail "--cfg of a saved file failed"
cmp -s "$work/a.cfg" "$work/b.cfg" || fail "a saved configuration does not read back the same"
"$report" "$scenarios/demo.tisim" --cfg "$work/a.cfg" --borrowing 0 --save-cfg "$work/c.cfg" \
  >/dev/null 2>&1 || fail "--borrowing 0 --save-cfg failed"
iconv -f UTF-16 -t UTF-8 "$work/c.cfg" | grep -q 'ChanalBorrowing' &&
  fail "--borrowing 0 kept the option in the file"

[ "$failures" = 0 ] && echo "movra_report command line: all checks passed"
exit $((failures > 0))
