#!/usr/bin/env bash
# Builds and runs the whole test suite under AddressSanitizer + UndefinedBehaviorSanitizer, then the
# parallel-rendering tests under ThreadSanitizer. Any report fails the run.
# Usage: scripts/sanitize.sh [asan|tsan]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${QUORLEN_JOBS:-$(nproc)}"
which=("$@")
if ((${#which[@]} == 0)); then which=(asan tsan); fi

# The test whose renders share one node across threads: once on plain threads fetching rows (no task library
# in the process's way, every access seen) and once through the executor. The executor tests are left out:
# the task library is not instrumented, so the checker sees none of the ordering its task hand-off provides
# and reports the tasks' reads of what the caller wrote, with our own functions as the top frame as often as
# the library's headers. Suppressing those would hide races in our code as well (docs/reliability.md);
# tsan.supp only ignores the C library calls made from inside the task library.
tsan_targets=(reliability_concurrent_render_test)
tsan_regex='ConcurrentRender\.'

for kind in "${which[@]}"; do
  case "$kind" in
    asan)
      export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1"
      export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
      export LSAN_OPTIONS="suppressions=$PWD/tests/reliability/lsan.supp:print_suppressions=0"
      cmake --preset asan
      cmake --build build-asan -j"$jobs"
      ctest --test-dir build-asan --output-on-failure -j"$jobs"
      ;;
    tsan)
      export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/reliability/tsan.supp"
      cmake --preset tsan
      cmake --build build-tsan -j"$jobs" --target "${tsan_targets[@]}"
      ctest --test-dir build-tsan --output-on-failure --no-tests=error -j"$jobs" -R "$tsan_regex"
      ;;
    *) echo "sanitize.sh: unknown kind \"$kind\" (asan or tsan)" >&2; exit 1 ;;
  esac
done
