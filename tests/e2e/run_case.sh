#!/usr/bin/env bash
# Runs one end-to-end case: CASE_DIR/cmd is a shell snippet that runs
# "$PAIRHITS"; its stdout, stderr and exit status must equal CASE_DIR/out,
# CASE_DIR/err and CASE_DIR/status (missing out/err files mean empty).
# Usage: run_case.sh PAIRHITS CASE_DIR
# With PAIRHITS_WRAPPER set (e.g. to a valgrind command), the binary runs under it.
# With PAIRHITS_THREADS set to N, "$PAIRHITS" runs as "pairhits -t N": every
# case must give the same bytes whatever the thread count.
# A case folder holding a file named only-plain measures memory or limits
# address space: it is skipped (exit 77) under a wrapper or a sanitizer
# (PAIRHITS_SANITIZED set), whose own memory use would decide the outcome.
set -u
binary=$(realpath "$1")
case_dir=$2
if [ -f "$case_dir/only-plain" ] && [ -n "${PAIRHITS_WRAPPER:-}${PAIRHITS_SANITIZED:-}" ]; then
  echo "skipped: needs a build without sanitizers, run without a wrapper"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ -n "${PAIRHITS_WRAPPER:-}${PAIRHITS_THREADS:-}" ]; then
  threads=${PAIRHITS_THREADS:+-t $PAIRHITS_THREADS}
  printf '#!/bin/sh\nexec %s %q %s "$@"\n' "${PAIRHITS_WRAPPER:-}" "$binary" "$threads" > "$work/pairhits"
  chmod +x "$work/pairhits"
  export PAIRHITS="$work/pairhits"
else
  export PAIRHITS="$binary"
fi
export WORK="$work"
# pairhits-split, pairhits-merge and pairhits-partitioned, and the pairhits
# they run, come from the build.
[ -n "${PAIRHITS_TOOLS:-}" ] && export PATH="$PAIRHITS_TOOLS:$PATH"

cd "$case_dir" || exit 2
bash ./cmd > "$work/stdout" 2> "$work/stderr"
status=$?

fail=0
expected_status=$(cat status)
if [ "$status" != "$expected_status" ]; then
  echo "exit status $status, expected $expected_status"
  fail=1
fi
for stream in out err; do
  expected=$stream
  [ -f "$expected" ] || expected=/dev/null
  actual="$work/std$stream"
  if ! cmp -s "$expected" "$actual"; then
    echo "std$stream differs from $case_dir/$stream:"
    diff -u "$expected" "$actual" | head -20
    fail=1
  fi
done
exit $fail
