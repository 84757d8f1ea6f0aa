#!/usr/bin/env bash
# Writes valid inputs of each fuzz target's kind to OUTDIR/<target>/: the fuzzers start from them and the
# replay tests run them, so no binary seeds live in the repository. An image seed's first byte picks its
# extension (0 .exr, 1 .png, 2 .tif).
# Usage: fuzz/make_seeds.sh OUTDIR
set -euo pipefail
out="${1:?usage: make_seeds.sh OUTDIR}"
rm -rf "$out"
mkdir -p "$out"/{fuzz_knob_value,fuzz_settings_json,fuzz_arguments,fuzz_image_reader}

printf '\x00point' >"$out/fuzz_knob_value/choice"
printf '\x02 0.5, -1e3 ,2' >"$out/fuzz_knob_value/vector"
printf '\x0dx|z' >"$out/fuzz_knob_value/bits"
printf '{"lightType": "point", "_pointLightPos": [0, 1.5, 6], "surfaceNoise": true, "noiseFrequency": 2}' \
  >"$out/fuzz_settings_json/object"
printf '1001-1100x2\nshot/out.%%04d.exr:N' >"$out/fuzz_arguments/range"
printf -- '-5--1\nrender.####.exr:ViewLayer.Normal' >"$out/fuzz_arguments/negative"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
oiiotool --pattern fill:topleft=0,0,1:topright=1,0,0:bottomleft=0,1,0:bottomright=1,1,1 4x3 3 \
  --chnames N.X,N.Y,N.Z --pattern constant:color=0.1,0.2,0.3 4x3 3 --chnames P.x,P.y,P.z --chappend \
  -d float -o "$tmp/layers.exr"
oiiotool --pattern checker 5x4 3 -d uint8 -o "$tmp/plain.png"
# TIFF tiles are multiples of 16 pixels.
oiiotool --pattern constant:color=0.5,0.25,1 16x16 3 -d half --tile 16 16 -o "$tmp/tiled.tif"
# Zip chunks in both shapes (16 lines and one line), compressed and stored as they are.
oiiotool --pattern fill:top=0,0.5,1:bottom=1,0.5,0 6x37 3 -d half --compression zip -o "$tmp/zip.exr"
oiiotool --pattern noise:type=uniform:min=0:max=1 5x3 3 -d float --compression zips -o "$tmp/zips.exr"
{ printf '\x00'; cat "$tmp/layers.exr"; } >"$out/fuzz_image_reader/layers"
{ printf '\x00'; cat "$tmp/zip.exr"; } >"$out/fuzz_image_reader/zip"
{ printf '\x00'; cat "$tmp/zips.exr"; } >"$out/fuzz_image_reader/zips"
{ printf '\x01'; cat "$tmp/plain.png"; } >"$out/fuzz_image_reader/plain"
{ printf '\x02'; cat "$tmp/tiled.tif"; } >"$out/fuzz_image_reader/tiled"
