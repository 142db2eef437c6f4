#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, only
# when one is missing. Run as root on Debian 12.
set -euo pipefail

# python3 turns the protocol table (protocol/protocol.toml) into code at build time.
packages=(
  build-essential cmake pkg-config
  libtirpc-dev libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libfmt-dev libtomlplusplus-dev nlohmann-json3-dev
  libmicrohttpd-dev
  jq libsystemd-dev scdoc python3
  python3-dev python3-cffi python3-pytest
)
# The cross compiler checks the record layouts of the 32-bit big-endian target;
# the exporter's end-to-end tests run a real Prometheus (and promtool) in a
# network namespace of their own (unshare, ip) and scrape with curl; systemd,
# man-db, groff and abigail-tools serve the tests of the units, man pages and
# ABI; clang and its runtime libraries (libFuzzer, the sanitizers) build the
# fuzz targets. --packaging: what building the .deb files takes and checking
# them and what they ship: units (systemd), man pages (man-db), example rules
# (promtool, in prometheus), the ABI (abigail-tools). --target adds what the test run on that target
# needs (scripts/target-test.sh): the target's C library, qemu-user, and
# GoogleTest's sources to build for it.
case "${1:-}" in
  --tests)
    packages+=(g++-powerpc-linux-gnu prometheus curl iproute2 util-linux
               systemd man-db groff-base abigail-tools passwd
               clang libclang-rt-14-dev)
    ;;
  --packaging)
    packages+=(dpkg-dev fakeroot lintian file gzip systemd man-db prometheus abigail-tools)
    ;;
  --target)
    packages+=(g++-powerpc-linux-gnu libc6-dev-powerpc-cross qemu-user googletest binutils-powerpc-linux-gnu)
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Other jobs on the machine may hold the package lock for a while.
  apt-get -o DPkg::Lock::Timeout=600 update -qq
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}" </dev/null >/dev/null
fi
