#!/usr/bin/env bash
# Builds and runs the whole test suite: everything under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the concurrency tests, the exporter's shared
# reading and the daemon's load and attack tests under ThreadSanitizer, and
# a short run of each fuzz target.
# The end-to-end tests need root (each runs in a private mount namespace).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --tests

jobs=$(nproc)
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKDIRECTFE_SANITIZE=ON -DVELKDIRECTFE_BENCH=ON -DVELKDIRECTFE_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ctest -j"$jobs" --output-on-failure --timeout 300)

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKDIRECTFE_TSAN=ON -DVELKDIRECTFE_BENCH=OFF -DVELKDIRECTFE_WERROR=ON >/dev/null
cmake --build build-tsan -j"$jobs" --target concurrency_test daemon_e2e_test monitoring_unit_test
(cd build-tsan && ctest -L threads --output-on-failure --timeout 300)
# velkd-sim's own threads under load and attack; a race stops the daemon at
# once, so the test sees it.
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest -R '^(Starvation|HostileClients|Faults|Lifecycle)\.' \
  --output-on-failure --timeout 300)
# The exporter's reading shared between scrape threads, and its HTTP server's
# suspended scrapes and deadline sweep.
(cd build-tsan && ctest -R '^(SharedReading|HttpServer|RequestDeadlines)\.' --output-on-failure --timeout 300)

# Each fuzz target over its seeds for a few thousand inputs: a smoke run
# that finds regressions in seconds (scripts/fuzz.sh runs them for longer).
fuzz_start=$SECONDS
scripts/fuzz.sh --runs 5000
echo "fuzz smoke run (build included): $((SECONDS - fuzz_start)) s"

# The Debian packages, built with Debian's hardening flags (dpkg-buildflags)
# and checked by lintian.
scripts/build-debs.sh build-deb
