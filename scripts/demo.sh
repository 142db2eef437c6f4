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

# A daemon that already answers is used as it is.
if $cli platform >/dev/null 2>&1; then
  stop_hint="a daemon was already serving /tmp/velkdirect.sock; it keeps running"
else
  log=/tmp/velkd-sim.log
  ready=$(mktemp)
  nohup "$sim" --ready-fd 3 3>"$ready" >"$log" 2>&1 &
  pid=$!
  for _ in $(seq 200); do
    [[ -s $ready ]] && break
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "velkd-sim did not start:" >&2
      cat "$log" >&2
      exit 1
    fi
    sleep 0.05
  done
  rm -f "$ready"
  echo "velkd-sim started in the background (pid $pid, log $log)"
  stop_hint="velkd-sim keeps running; stop it with: kill $pid"
fi
echo
echo "\$ velkdirect tree"
$cli tree
echo
echo "\$ velkdirect sensors"
$cli sensors
echo
echo "$stop_hint"
