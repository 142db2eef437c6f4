#!/usr/bin/env bash
# 16 scrapers against velkdirect-exporter for 10 s, each scraping again as
# soon as it has its answer; prints the scrapes answered and failed, and the
# exporter's descriptors and resident memory before and after. Runs itself
# in a private /tmp and a network namespace of its own:
#   bench/scrape_load.sh BUILD_DIR [SCRAPERS] [SECONDS]
set -euo pipefail
build=$(realpath "$1") scrapers=${2:-16} seconds=${3:-10}
if [[ -z ${SCRAPE_LOAD_INSIDE:-} ]]; then
  SCRAPE_LOAD_INSIDE=1 exec "$build/tests/in_private_tmp" unshare --net bash "$(realpath "$0")" "$build" "$scrapers" "$seconds"
fi
ip link set lo up
work=$(mktemp -d /tmp/scrape-load.XXXXXX)
"$build/daemon/velkd-sim" --ready-fd 3 3>"$work/ready" 2>"$work/sim.log" &
sim=$!
"$build/exporter/velkdirect-exporter" --web.listen-address 127.0.0.1:9745 2>"$work/exporter.log" &
exporter=$!
trap 'kill $sim $exporter 2>/dev/null || true; wait 2>/dev/null || true' EXIT
for _ in $(seq 100); do [[ -s $work/ready ]] && curl -fso /dev/null http://127.0.0.1:9745/ && break; sleep 0.1; done

usage() {
  printf 'fds %s, rss %s kB' "$(ls /proc/$exporter/fd | wc -l)" "$(awk '/^VmRSS/ {print $2}' /proc/$exporter/status)"
}
# All scrapers at once for $1 seconds; prints what they got.
burst() {
  local end=$((SECONDS + $1)) i
  rm -f "$work"/scraper-*
  for i in $(seq "$scrapers"); do
    (
      ok=0 failed=0
      while ((SECONDS < end)); do
        if curl -fs -o /dev/null --max-time 15 http://127.0.0.1:9745/metrics; then ok=$((ok + 1)); else failed=$((failed + 1)); fi
      done
      echo "$ok $failed" >"$work/scraper-$i"
    ) &
  done
  wait $(jobs -p | grep -vw -e "$sim" -e "$exporter") 2>/dev/null || true
  cat "$work"/scraper-* | awk -v n="$scrapers" -v s="$1" \
    '{ok += $1; failed += $2} END {printf "%d scrapers, %d s: %d scrapes answered, %d failed (%.0f a second)\n", n, s, ok, failed, ok / s}'
}
# Warm up: the handler threads and their allocator arenas reach their size.
burst 2 >/dev/null
sleep 1
echo "before: $(usage)"
burst "$seconds"
sleep 1 # let keep-alive connections close
echo "after:  $(usage)"
