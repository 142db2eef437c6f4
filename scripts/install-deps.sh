#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, only
# when one is missing. Run as root on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libtirpc-dev libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libfmt-dev libtomlplusplus-dev nlohmann-json3-dev
  jq
)
# The cross compiler checks the record layouts of the 32-bit big-endian target.
if [[ "${1:-}" == "--tests" ]]; then
  packages+=(g++-powerpc-linux-gnu)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
