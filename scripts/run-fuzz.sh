#!/usr/bin/env bash
# Runs each libFuzzer target of a fuzz build (`make fuzz`) for a fixed number of runs, from its
# seed corpus and the kept findings. A finding stops the run and is written into the build's
# fuzz folder as finding-<family>-*: fix it and keep the input in fuzz/regressions/<family>/.
set -euo pipefail
build=$1
runs=$2
cd "$(dirname "$0")/.."
for family in answers pushes values stored; do
  work="$build/fuzz/work/$family"
  mkdir -p "$work"
  echo "== fuzz_$family: $runs runs"
  dict=()
  # The JSON values' tokens help the families whose bytes are mostly JSON.
  if [ "$family" = values ] || [ "$family" = stored ]; then dict=(-dict=fuzz/json.dict); fi
  QT_QPA_PLATFORM=offscreen "$build/fuzz/fuzz_$family" "${dict[@]}" -runs="$runs" -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz/finding-$family-" "$work" "$build/fuzz/corpus/$family" "fuzz/regressions/$family" \
    2>"$build/fuzz/$family.log" || { tail -40 "$build/fuzz/$family.log"; exit 1; }
  grep -E "stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb" "$build/fuzz/$family.log"
done
