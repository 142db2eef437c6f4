#!/usr/bin/env bash
# Builds and runs the whole test suite: everything under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the concurrency test under ThreadSanitizer.
# The end-to-end tests need root (each runs in a private mount namespace).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --tests

jobs=$(nproc)
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKDIRECTFE_SANITIZE=ON -DVELKDIRECTFE_BENCH=ON -DVELKDIRECTFE_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ctest -j"$jobs" --output-on-failure --timeout 300)

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKDIRECTFE_TSAN=ON -DVELKDIRECTFE_BENCH=OFF -DVELKDIRECTFE_WERROR=ON >/dev/null
cmake --build build-tsan -j"$jobs" --target concurrency_test
(cd build-tsan && ctest -L threads --output-on-failure --timeout 300)

# The Debian packages, built with Debian's hardening flags (dpkg-buildflags)
# and checked by lintian.
scripts/build-debs.sh build-deb
