#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, test and benchmark Quorlen.
# Idempotent and non-interactive: installs only what is missing; uses sudo when not root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libopenimageio-dev libopenexr-dev openimageio-tools libopencolorio-dev opencolorio-tools
  libtbb-dev libcli11-dev nlohmann-json3-dev libfmt-dev libdeflate-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3-dev pybind11-dev python3-numpy python3-pytest
  libboost-dev
  python3 chromium chromium-driver python3-selenium
)
if [[ "${QUORLEN_SETUP_EXTRA:-}" == *format* ]]; then
  packages+=(clang-format)
fi
if [[ "${QUORLEN_SETUP_EXTRA:-}" == *sanitizers* ]]; then
  packages+=(clang libclang-rt-14-dev)
fi
# The farm tests: a one-node Slurm cluster, Dask's distributed, and YAML for the job templates.
if [[ "${QUORLEN_SETUP_EXTRA:-}" == *farm* ]]; then
  packages+=(slurm-wlm munge python3-distributed python3-yaml)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]} == 0)); then
  echo "setup: all packages present"
  exit 0
fi

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then sudo_cmd=(sudo); fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
