#!/usr/bin/env bash
# Runs a test that once hung inside a library: when it is still running after SECONDS, every
# thread's stack (gdb) goes to REPORT_DIR/<test>-<attempt>.txt and to the log, the test is
# stopped, and it runs once more. A hang then leaves what it takes to understand it; `make test`
# prints the reports at its end.
# Usage: hang-watch.sh SECONDS REPORT_DIR COMMAND [ARGS...]
set -u
limit=$1
reports=$2
shift 2
name=$(basename "$1")
for attempt in 1 2; do
  "$@" &
  test_pid=$!
  sleep "$limit" &
  timer_pid=$!
  finished=""
  wait -n -p finished "$test_pid" "$timer_pid"
  status=$?
  if [[ "$finished" == "$test_pid" ]]; then
    kill "$timer_pid" 2>/dev/null
    wait "$timer_pid" 2>/dev/null
    exit "$status"
  fi
  mkdir -p "$reports"
  report="$reports/$name-$attempt.txt"
  {
    echo "hang-watch: $name still running after ${limit}s (attempt $attempt of 2); every thread's stack:"
    gdb -p "$test_pid" -batch -ex "thread apply all bt" </dev/null 2>&1 || echo "hang-watch: gdb could not attach"
  } >"$report"
  cat "$report" >&2
  kill -9 "$test_pid" 2>/dev/null
  wait "$test_pid" 2>/dev/null
done
exit 124
