#!/usr/bin/env bash
# The soak run's verdict on samples made up for it: growth fails, noise and warm-up do not, and
# a run too short for the two windows is said to be not judged.
#   soak_verdict_test.sh VERDICT-SCRIPT
set -u
verdict="$1"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
failed=0 cases=0

# samples FROM TO RSS THREADS FDS: one sample every 10 s from FROM to TO (both included).
samples() { for ((t = $1; t <= $2; t += 10)); do echo "$t $3 $4 $5"; done; }

# check NAME DRIVE-END EXPECTED-STATUS EXPECTED-TEXT: the samples in $dir/samples.
check() {
  local out rc
  cases=$((cases + 1))
  out="$("$verdict" "$dir/samples" "$2")"
  rc=$?
  if [ "$rc" != "$3" ] || ! grep -qF -- "$4" <<<"$out"; then
    echo "FAIL: $1: status $rc (expected $3), output:"; sed 's/^/    /' <<<"$out"
    failed=$((failed + 1))
  else
    echo "ok: $1"
  fi
}

samples 0 240 100000 20 40 >"$dir/samples"
check "flat" 240 0 "soak: ok: no growth"
{ samples 0 50 60000 23 30; samples 60 240 100000 20 40; } >"$dir/samples"
check "warm-up" 240 0 "ok: no growth"
{ samples 0 120 100000 20 40; samples 130 240 119000 20 40; } >"$dir/samples"
check "memory +19 %" 240 0 "+19.0 %"
{ samples 0 120 100000 20 40; samples 130 240 121000 20 40; } >"$dir/samples"
check "memory +21 %" 240 1 "FAIL: resident memory grew by 21.0 %"
# A worker seen once early and again at the end is no growth; one more thread at every late
# sample is.
{ samples 0 110 100000 20 40; samples 120 120 100000 21 40; samples 130 240 100000 21 40; } \
  >"$dir/samples"
check "a worker running" 240 0 "threads 21 <= 21"
{ samples 0 120 100000 20 40; samples 130 240 100000 22 40; } >"$dir/samples"
check "threads" 240 1 "FAIL: threads ended above their early level: 22 > 20"
{ samples 0 120 100000 20 40; samples 130 170 100000 20 40; samples 180 180 100000 20 47
  samples 190 240 100000 20 41; } >"$dir/samples"
check "descriptors" 240 1 "FAIL: descriptors ended above their early level: 41 > 40"
# A spike in the last minute that comes back down is no growth.
{ samples 0 120 100000 20 40; samples 130 230 100000 20 40; samples 240 240 150000 24 49; } \
  >"$dir/samples"
check "spike" 240 0 "ok: no growth"
# Samples taken during the exit, after the driving stopped, are not the end level.
{ samples 0 240 100000 20 40; samples 250 270 100000 30 60; } >"$dir/samples"
check "exit" 240 0 "ok: no growth"
{ samples 0 120 100000 20 40; samples 130 170 200000 30 60; } >"$dir/samples"
check "too short" 170 2 "soak: growth not judged: the run drove Movra for 170 s, at least 180 s"

echo "$((cases - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
