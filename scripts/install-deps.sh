#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, only
# when one is missing. Run as root on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libtirpc-dev libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libfmt-dev libtomlplusplus-dev nlohmann-json3-dev
  jq libsystemd-dev scdoc
)
# The cross compiler checks the record layouts of the 32-bit big-endian target;
# systemd, man-db, groff, bash-completion and abigail-tools serve the tests of
# the units, man pages, completion and ABI. --packaging: what building and
# checking the .deb files takes.
case "${1:-}" in
  --tests)
    packages+=(g++-powerpc-linux-gnu systemd man-db groff-base bash-completion abigail-tools passwd util-linux)
    ;;
  --packaging)
    packages+=(dpkg-dev fakeroot lintian file gzip)
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get -o DPkg::Lock::Timeout=600 update -qq
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}" >/dev/null
fi
