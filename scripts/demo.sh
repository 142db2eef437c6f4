#!/usr/bin/env bash
# The main job: builds the library and its tools, starts velkd-sim on its
# built-in platform in the background, and shows the inventory and the sensor
# readings through velkdirect. The daemon is left running.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVELKDIRECTFE_TESTS=OFF -DVELKDIRECTFE_BENCH=OFF >/dev/null
cmake --build build-release -j"$(nproc)" >/dev/null
sim=build-release/daemon/velkd-sim
cli=build-release/cli/velkdirect
if [[ ! -x $sim || ! -x $cli ]]; then
  echo "built build-release/src/libvelkdirectfe.so.1 (velkd-sim and velkdirect are not part of this tree yet)"
  exit 0
fi

if ! $cli platform >/dev/null 2>&1; then
  log=/tmp/velkd-sim.log
  nohup "$sim" >"$log" 2>&1 &
  for _ in $(seq 50); do
    [[ -S /tmp/velkdirect.sock ]] && $cli platform >/dev/null 2>&1 && break
    sleep 0.1
  done
  echo "velkd-sim started (pid $!, log $log)"
fi
echo
echo "\$ velkdirect tree"
$cli tree
echo
echo "\$ velkdirect sensors"
$cli sensors
echo
echo "velkd-sim keeps running; stop it with: pkill -x velkd-sim"
