#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a bounded time, one after the
# other, then replays the kept regression inputs. Any crash, leak, timeout, out-of-memory or sanitizer report
# fails the run; libFuzzer leaves the input as crash-*/leak-*/timeout-*/oom-* in the target's corpus
# directory (build-fuzz/corpus/<target>/, where it fails every later run until it is moved, fixed, to
# tests/fuzz_regressions/<target>/), and the whole output is in build-fuzz/logs/<target>.log.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET [TARGET...]]   (default 60 s, all four targets)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz.sh: SECONDS_PER_TARGET must be a positive whole number, not \"$seconds\"" >&2
  exit 1
fi
jobs="${QUORLEN_JOBS:-$(nproc)}"
QUORLEN_SETUP_EXTRA=sanitizers bash scripts/setup-debian.sh

targets=(fuzz_knob_value fuzz_settings_json fuzz_arguments fuzz_image_reader)
if (($# > 1)); then targets=("${@:2}"); fi
built=$SECONDS
CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja -DQUORLEN_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$jobs" --target "${targets[@]}"
echo "fuzz: build took $((SECONDS - built)) s"

bash fuzz/make_seeds.sh build-fuzz/seeds

# The image reader sends stderr to /dev/null while a library reads, which would swallow a report made there,
# so sanitizer reports go to files of their own (build-fuzz/logs/<target>.sanitizer.<pid>).
export LSAN_OPTIONS="suppressions=$PWD/tests/reliability/lsan.supp:print_suppressions=0"
rm -rf build-fuzz/logs
mkdir -p build-fuzz/logs
failed=0
for target in "${targets[@]}"; do
  corpus="build-fuzz/corpus/$target"
  log="build-fuzz/logs/$target.log"
  mkdir -p "$corpus"
  reports="$PWD/build-fuzz/logs/$target.sanitizer"
  export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:fast_unwind_on_malloc=0:log_path=$reports"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports"
  status=0
  "build-fuzz/bin/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=65536 \
    -timeout=10 -artifact_prefix="$corpus/" "$corpus" "build-fuzz/seeds/$target" >"$log" 2>&1 || status=$?
  # The final figures: runs, coverage, features, corpus size, rate.
  echo "fuzz: $target ${seconds}s: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)"
  if ((status != 0)) || compgen -G "$corpus/crash-*" >/dev/null || compgen -G "$corpus/leak-*" >/dev/null ||
     compgen -G "$corpus/oom-*" >/dev/null || compgen -G "$corpus/timeout-*" >/dev/null ||
     compgen -G "build-fuzz/logs/$target.sanitizer.*" >/dev/null; then
    grep -h -E 'ERROR|SUMMARY|runtime error|Test unit written' "$log" build-fuzz/logs/"$target".sanitizer.* >&2 ||
      true
    echo "fuzz: $target failed (exit $status); see $log" >&2
    failed=1
  fi
done
((failed == 0)) || exit 1
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:fast_unwind_on_malloc=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ctest --test-dir build-fuzz --output-on-failure --no-tests=error -R "^($(IFS='|'; echo "${targets[*]}"))_regressions\$"
