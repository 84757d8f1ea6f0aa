#!/usr/bin/env bash
# Installs what is missing, builds (Release) and renders the demo scene into demo-out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
cmake --preset release
cmake --build build -j"$(nproc)"
./build/bin/quorlen demo -o demo-out
