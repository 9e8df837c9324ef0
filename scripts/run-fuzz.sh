#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build (`make fuzz`) for a fixed number of runs, from its
# seed corpus and the kept findings, with leaks checked (scripts/lsan.supp) and undefined
# behaviour fatal. A target that finds something does not stop the others: each finding is kept
# in the build's fuzz folder (finding-<family>-*, with the target's log beside it), every one is
# named at the end, and the script then exits non-zero. Fix each and keep its input in
# fuzz/regressions/<family>/.
set -uo pipefail
build=$1
runs=$2
cd "$(dirname "$0")/.."
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
failed=()
for family in answers pushes values stored; do
  work="$build/fuzz/work/$family"
  mkdir -p "$work"
  echo "== fuzz_$family: $runs runs"
  dict=()
  # The JSON values' tokens help the families whose bytes are mostly JSON.
  if [ "$family" = values ] || [ "$family" = stored ]; then dict=(-dict=fuzz/json.dict); fi
  # A family without kept findings yet has no folder in a fresh clone.
  corpora=("$work" "$build/fuzz/corpus/$family")
  if [ -d "fuzz/regressions/$family" ]; then corpora+=("fuzz/regressions/$family"); fi
  log="$build/fuzz/$family.log"
  "$build/fuzz/fuzz_$family" "${dict[@]}" -runs="$runs" -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz/finding-$family-" "${corpora[@]}" 2>"$log"
  status=$?
  # A report the run survived (a sanitizer line without a stop) counts as a finding too.
  if [ $status -ne 0 ] || grep -qE "runtime error:|ERROR: (Address|Leak)Sanitizer" "$log"; then
    tail -40 "$log"
    failed+=("$family (exit $status, log $log)")
    continue
  fi
  grep -E "stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb" "$log"
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "== findings:"
  printf '  %s\n' "${failed[@]}"
  ls -1 "$build"/fuzz/finding-* 2>/dev/null | sed 's/^/  kept: /'
  exit 1
fi
echo "== every target ran $runs times without a finding"
