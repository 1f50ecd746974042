#!/usr/bin/env bash
# Runs each libFuzzer target for a bounded time, starting from the seed corpus in the repository.
# New inputs go to a scratch corpus in the build folder (the seeds stay as they are); a crash is
# saved there as an artefact and fails the run.
#   tools/run-fuzzers.sh <build dir> [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "$1")
seconds=${2:-60}
root=$PWD

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

for target in state preset; do
  scratch="$build/fuzz-corpus/$target"
  artefacts="$build/fuzz-artefacts/$target/"
  log="$build/fuzz-$target.log"
  mkdir -p "$scratch" "$artefacts"
  echo "fuzzing $target for ${seconds}s (log: $log)"
  if ! "$build/tests/fuzz/sorvanta_fuzz_$target" \
         -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
         -artifact_prefix="$artefacts" "$scratch" "$root/tests/fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 200 "$log"
    echo "fuzzing $target failed; the input is in $artefacts" >&2
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added|stat::peak_rss_mb)' "$log"
done
