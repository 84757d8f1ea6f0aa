#!/usr/bin/env bash
# Regenerates tests/reference_images/expected/ from cases.txt with the built `quorlen` (build/ by default).
# Run after a change that is meant to alter rendered pixels, look at what changed, and commit the result.
# Usage: scripts/update-references.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
bin="$build/bin/quorlen"
[[ -x "$bin" ]] || { echo "update-references: no $bin; build first (cmake --preset release && cmake --build build)" >&2; exit 1; }
root=tests/reference_images
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/expected"
while read -r name args; do
  [[ -z "$name" || "$name" == \#* ]] && continue
  args=${args//\{in\}/$root/inputs}
  args=${args//\{out\}/$work/expected/$name}
  # The arguments hold no quotes or spaces of their own, so word splitting is the parsing.
  # shellcheck disable=SC2086
  "$bin" $args 2>&1 </dev/null | cat
  echo "update-references: $name"
done <"$root/cases.txt"
# The demo's multi-layer passes and contact sheet are inputs to and a montage of what is compared already.
rm -f "$work/expected/demo/demo_passes.exr" "$work/expected/demo/contact_sheet.png"
rm -rf "$root/expected"
mv "$work/expected" "$root/expected"
echo "update-references: wrote $root/expected ($(du -sh "$root/expected" | cut -f1))"
