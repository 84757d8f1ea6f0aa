#!/usr/bin/env bash
# Fails when any C++ source differs from what clang-format makes of it (.clang-format at the root).
# Fix with: git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."
QUORLEN_SETUP_EXTRA=format bash scripts/setup-debian.sh >/dev/null
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "check-format: every source is formatted"
