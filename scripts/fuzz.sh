#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time, then replays the kept crash
# inputs. A crash stops the run; libFuzzer leaves the input as crash-* in the corpus directory.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
jobs="${QUORLEN_JOBS:-$(nproc)}"
QUORLEN_SETUP_EXTRA=sanitizers bash scripts/setup-debian.sh

CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja -DQUORLEN_FUZZ=ON
targets=(fuzz_knob_value fuzz_settings_json fuzz_arguments fuzz_image_reader)
cmake --build build-fuzz -j"$jobs" --target "${targets[@]}"

# Seeds: valid inputs of each kind, made here so no binary files live in the repository. An image seed's
# first byte picks its extension (0 .exr, 1 .png, 2 .tif).
seeds=build-fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds"/{fuzz_knob_value,fuzz_settings_json,fuzz_arguments,fuzz_image_reader}
printf '\x01point' >"$seeds/fuzz_knob_value/choice"
printf '\x02 0.5, -1e3 ,2' >"$seeds/fuzz_knob_value/vector"
printf '\x03x|z' >"$seeds/fuzz_knob_value/bits"
printf '{"lightType": "point", "_pointLightPos": [0, 1.5, 6], "surfaceNoise": true, "noiseFrequency": 2}' \
  >"$seeds/fuzz_settings_json/object"
printf '1001-1100x2\nshot/out.%%04d.exr:N' >"$seeds/fuzz_arguments/range"
printf -- '-5--1\nrender.####.exr:ViewLayer.Normal' >"$seeds/fuzz_arguments/negative"
tmp=$(mktemp -d)
oiiotool --pattern fill:topleft=0,0,1:topright=1,0,0:bottomleft=0,1,0:bottomright=1,1,1 4x3 3 \
  --chnames N.X,N.Y,N.Z --pattern constant:color=0.1,0.2,0.3 4x3 3 --chnames P.x,P.y,P.z --chappend \
  -d float -o "$tmp/layers.exr"
oiiotool --pattern checker 5x4 3 -d uint8 -o "$tmp/plain.png"
oiiotool --pattern constant:color=0.5,0.25,1 4x4 3 -d half --tile 2 2 -o "$tmp/tiled.tif"
{ printf '\x00'; cat "$tmp/layers.exr"; } >"$seeds/fuzz_image_reader/layers"
{ printf '\x01'; cat "$tmp/plain.png"; } >"$seeds/fuzz_image_reader/plain"
{ printf '\x02'; cat "$tmp/tiled.tif"; } >"$seeds/fuzz_image_reader/tiled"
rm -rf "$tmp"

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
for target in "${targets[@]}"; do
  corpus="build-fuzz/corpus/$target"
  mkdir -p "$corpus"
  echo "fuzz: $target for ${seconds}s"
  (cd build-fuzz && "./bin/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=65536 \
     -timeout=10 -artifact_prefix="corpus/$target/" "corpus/$target" "seeds/$target" 2>&1 |
     grep -E '^(#[0-9]+ +DONE|Done|==[0-9]+==ERROR|SUMMARY|INFO: Running with)' || true)
  if compgen -G "$corpus/crash-*" >/dev/null || compgen -G "$corpus/oom-*" >/dev/null ||
     compgen -G "$corpus/timeout-*" >/dev/null; then
    echo "fuzz: $target found a failing input:" "$corpus"/{crash,oom,timeout}-* >&2
    exit 1
  fi
done
ctest --test-dir build-fuzz --output-on-failure
