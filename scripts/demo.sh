#!/usr/bin/env bash
# Installs what is missing, builds (Release) what the demo runs and renders the demo scene into demo-out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
cmake --preset release
# Only the command, the host layer and the two modules it loads: no test, benchmark or fuzz target.
cmake --build build -j"$(nproc)" --target quorlen ddimage Quorlen quorlen_images
./build/bin/quorlen demo -o demo-out
