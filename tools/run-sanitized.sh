#!/usr/bin/env bash
# Runs the tests of a sanitizer build; the first report stops the run with a failure.
#   tools/run-sanitized.sh address <build dir>   unit tests and fuzz corpus under ASan + UBSan
#   tools/run-sanitized.sh host <build dir>      host tests (built bundles) under ASan + UBSan
#   tools/run-sanitized.sh thread <build dir>    unit tests under TSan, the stress test for longer
set -euo pipefail
cd "$(dirname "$0")/.."
kind=$1
build=$(realpath "$2")
root=$PWD
supp=$root/tests/sanitizers

export SORVANTA_TEST_TMP="$build/tests/tmp"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp"

case "$kind" in
  address)
    export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1"
    xvfb-run -a "$build/tests/sorvanta_tests"
    for target in state preset; do
      "$build/tests/fuzz/sorvanta_fuzz_replay" "$target" "$root/tests/fuzz/corpus/$target" >/dev/null
    done
    ;;
  host)
    export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1"
    export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
    hosts=("$build"/tests/sorvanta_host_tests_artefacts/*/sorvanta_host_tests)
    xvfb-run -a "${hosts[0]}"
    ;;
  thread)
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$supp/tsan.supp:print_suppressions=0"
    export SORVANTA_STRESS_SECONDS=${SORVANTA_STRESS_SECONDS:-5}
    xvfb-run -a "$build/tests/sorvanta_tests"
    ;;
  *)
    echo "usage: $0 address|host|thread <build dir>" >&2
    exit 2
    ;;
esac
