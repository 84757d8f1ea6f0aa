#!/usr/bin/env bash
# Builds Release and runs the benchmarks: host noise, the span engine alone, the operator through the
# executor, one frame of the render in-process, EXR zip chunks read and written with libdeflate and with
# OpenEXR's zlib path, and `quorlen render` end to end against an oiiotool command doing comparable work,
# with peak resident memory of both.
#   BUILD_DIR (default build-bench), REPS (repetitions, default 3), BENCH_FILTER (regex for the
#   benchmark programs, default all), SIZE (end-to-end frame, default 1920x1080), MEMORY_SIZE (when set,
#   e.g. 8192x8192, also renders a frame that large and reports quorlen's peak resident memory).
# Figures are noisy on a shared machine: take the best of the repetitions, not the mean.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
reps=${REPS:-3}
filter=${BENCH_FILTER:-.}
size=${SIZE:-1920x1080}

bash scripts/setup-debian.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target quorlen Quorlen noise_bench span_bench engine_bench render_bench exr_zip_bench

echo "== machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; $(date -u +%F)"
for b in noise_bench span_bench engine_bench render_bench exr_zip_bench; do
  echo "== $b"
  "$build/bin/$b" --benchmark_filter="$filter" --benchmark_repetitions="$reps" \
    --benchmark_report_aggregates_only=false
done

# End to end: four float EXR passes made by oiiotool.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
corners() {  # corners() SCALE Z: a gradient of (x, y, z) over the frame
  local s=$1 z=$2
  echo "fill:topleft=-$s,$s,$z:topright=$s,$s,$z:bottomleft=-$s,-$s,$z:bottomright=$s,-$s,$z"
}
passes() {  # passes() SIZE DIR: colour noise and gradients of normal, position and noise position
  oiiotool --pattern noise:type=uniform:min=0:max=1 "$1" 3 -d float -o "$2/color.exr"
  oiiotool --pattern "$(corners 1 -0.5)" "$1" 3 -d float -o "$2/normal.exr"
  oiiotool --pattern "$(corners 10 5)" "$1" 3 -d float -o "$2/P.exr"
  oiiotool --pattern "$(corners 3 1)" "$1" 3 -d float -o "$2/noiseP.exr"
}
passes "$size" "$work"

best() {  # best() RUNS CMD...: the least wall time in seconds over RUNS runs
  local runs=$1 t b=
  shift
  for ((i = 0; i < runs; ++i)); do
    local s e
    s=$(date +%s.%N)
    "$@" >/dev/null
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc -l)
    if [[ -z $b ]] || (($(echo "$t < $b" | bc -l))); then b=$t; fi
  done
  printf '%.3f' "$b"
}
inputs=(--color "$work/color.exr" --normal "$work/normal.exr" --P "$work/P.exr" --noiseP "$work/noiseP.exr")
echo "== quorlen render $size (one run with --stats, then the best of $reps)"
"$build/bin/quorlen" render "${inputs[@]}" -o "$work/out.exr" --stats --no-progress
echo "quorlen render, no noise:   $(best "$reps" "$build/bin/quorlen" render "${inputs[@]}" -o "$work/out.exr" --no-progress) s"
echo "quorlen render, turbulence1: $(best "$reps" "$build/bin/quorlen" render "${inputs[@]}" -o "$work/out.exr" \
  --no-progress --set surfaceNoise=on --set surfaceNoiseType=turbulence1) s"
# Comparable work: read the same four inputs, color * normal + P (one multiply-add), plus noiseP, write
# one float EXR.
echo "oiiotool mad:                $(best "$reps" oiiotool "$work/color.exr" "$work/normal.exr" "$work/P.exr" --mad \
  "$work/noiseP.exr" --add -d float -o "$work/cmp.exr") s"
peak() {  # peak() CMD...: the command's peak resident memory in MiB
  /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -1 | awk '{printf "%.0f", $1 / 1024}'
}
echo "peak resident memory: quorlen $(peak "$build/bin/quorlen" render "${inputs[@]}" -o "$work/out.exr" --no-progress) MiB," \
  "oiiotool $(peak oiiotool "$work/color.exr" "$work/normal.exr" "$work/P.exr" --mad "$work/noiseP.exr" --add -d float \
  -o "$work/cmp.exr") MiB"
if [[ -n ${MEMORY_SIZE:-} ]]; then
  mkdir -p "$work/big"
  passes "$MEMORY_SIZE" "$work/big"
  big=(--color "$work/big/color.exr" --normal "$work/big/normal.exr" --P "$work/big/P.exr" --noiseP "$work/big/noiseP.exr")
  echo "quorlen render $MEMORY_SIZE: peak resident memory $(peak "$build/bin/quorlen" render "${big[@]}" \
    -o "$work/big/out.exr" --no-progress) MiB"
fi
