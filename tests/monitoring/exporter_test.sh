#!/usr/bin/env bash
# velkdirect-exporter end to end, in a private /tmp and a network namespace
# of its own (only loopback, every port free):
#   exporter_test.sh exposition|prometheus BINDIR RULES
# exposition: promtool lints the exporter's and `velkdirect metrics` output;
#   the exporter answers 200 with velkdirect_up 0 for a stopped or hung
#   daemon. A refused reading goes through the same reading code in the
#   tool's test (tests/cli).
# prometheus: a real Prometheus scrapes it every second; every sensor is
#   there, a sensor pushed past its critical threshold shows in Prometheus
#   and its alert rules; the daemon stopped and back. (`velkdirect check`
#   on the same states: tests/cli.)
set -euo pipefail
mode=$1 bin=$2 rules=$3
sim=$bin/daemon/velkd-sim cli=$bin/cli/velkdirect exporter=$bin/exporter/velkdirect-exporter

ip link set lo up
work=$(mktemp -d /tmp/exporter-test.XXXXXX)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/*.log; do echo "--- $log" >&2; tail -20 "$log" >&2; done
  exit 1
}
# Retries a condition for up to 30 s.
wait_for() {
  local what=$1
  shift
  for _ in $(seq 300); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  fail "timed out waiting for $what"
}

start_daemon() {
  rm -f "$work/ready"
  "$sim" --ready-fd 3 "$@" 3>"$work/ready" 2>>"$work/sim.log" &
  sim_pid=$!
  pids+=("$sim_pid")
  wait_for "velkd-sim" test -s "$work/ready"
}
stop_daemon() {
  kill "$sim_pid"
  wait "$sim_pid" || fail "velkd-sim did not stop cleanly"
}
exporter_url=http://127.0.0.1:9745
start_exporter() {
  "$exporter" --web.listen-address 127.0.0.1:9745 2>>"$work/exporter.log" &
  exporter_pid=$!
  pids+=("$exporter_pid")
  wait_for "the exporter" curl -fsS -o /dev/null "$exporter_url/"
}
# GET /metrics into $work/metrics; must be a 200 whatever the daemon does.
scrape() {
  local code
  code=$(curl -sS -o "$work/metrics" -w '%{http_code}' "$@" "$exporter_url/metrics")
  [[ $code == 200 ]] || fail "scrape answered $code"
}
has() { grep -qF -- "$1" "$work/metrics"; }
lint() {
  local problems
  problems=$(promtool check metrics <"$1" 2>&1) || fail "promtool check metrics: $problems"
  [[ -z $problems ]] || fail "promtool check metrics: $problems"
}
faulty_description() { # the built-in platform with one fault added
  "$sim" --print-default >"$work/$1.toml"
  printf '\n[[fault]]\n%s\n' "$2" >>"$work/$1.toml"
  echo "$work/$1.toml"
}

exposition() {
  start_daemon
  start_exporter
  scrape
  lint "$work/metrics"
  has 'velkdirect_up 1' || fail "not up"
  "$cli" metrics >"$work/cli-metrics"
  lint "$work/cli-metrics"
  curl -fsS "$exporter_url/" | grep -q 'href="metrics"' || fail "no link to the metrics on /"
  [[ $(curl -s -o /dev/null -w '%{http_code}' "$exporter_url/nothing") == 404 ]] || fail "unknown path not 404"

  stop_daemon
  scrape
  lint "$work/metrics"
  has 'velkdirect_up 0' || fail "up with no daemon"
  ! has 'velkdirect_sensor' || fail "sensor series with no daemon"

  # A hung daemon: the scrape still answers before Prometheus's timeout.
  start_daemon --config "$(faulty_description hung 'procedure = "get_platform_names"
delay_ms = 4000')"
  local start=$SECONDS
  scrape -H 'X-Prometheus-Scrape-Timeout-Seconds: 1'
  ((SECONDS - start <= 2)) || fail "scrape of a hung daemon took $((SECONDS - start)) s"
  has 'velkdirect_up 0' || fail "up while the daemon hangs"
  stop_daemon

  kill -0 "$exporter_pid" || fail "the exporter died"
  kill "$exporter_pid"
  wait "$exporter_pid" || fail "the exporter did not exit cleanly"
}

# Prometheus's instant query: the value of the single series, or "none".
query() {
  curl -fsS --get --data-urlencode "query=$1" http://127.0.0.1:9090/api/v1/query |
    jq -r 'if (.data.result | length) == 1 then .data.result[0].value[1] else "none" end'
}
query_is() { [[ $(query "$1") == "$2" ]]; }
alert_is_raised() {
  curl -fsS http://127.0.0.1:9090/api/v1/alerts |
    jq -e --arg name "$1" --arg id "$2" \
      '[.data.alerts[] | select(.labels.alertname == $name and .labels.id == $id)] | length == 1' >/dev/null
}

prometheus_e2e() {
  cat >"$work/prometheus.yml" <<YAML
global:
  scrape_interval: 1s
  scrape_timeout: 1s
  evaluation_interval: 1s
rule_files: ['$rules']
scrape_configs:
  - job_name: velkdirect
    static_configs:
      - targets: ['127.0.0.1:9745']
YAML
  promtool check rules "$rules" >/dev/null || fail "the example rules do not load"
  start_daemon
  start_exporter
  prometheus --config.file "$work/prometheus.yml" --storage.tsdb.path "$work/data" \
    --web.listen-address 127.0.0.1:9090 --log.level warn 2>>"$work/prometheus.log" &
  pids+=($!)
  wait_for "a scrape with the daemon up" query_is velkdirect_up 1

  # Every sensor the daemon lists has its value in Prometheus.
  "$cli" sensors --json | jq -r '.[].id' | sort >"$work/ids"
  [[ $(wc -l <"$work/ids") == 10 ]] || fail "the platform should list 10 sensors"
  curl -fsS --get --data-urlencode 'query=group by (id) ({__name__=~"velkdirect_sensor_(celsius|volts|value)"})' \
    http://127.0.0.1:9090/api/v1/query | jq -r '.data.result[].metric.id' | sort >"$work/prom-ids"
  diff "$work/ids" "$work/prom-ids" || fail "sensors missing in Prometheus"
  query_is 'velkdirect_sensor_state{id="cpu0_temp"}' 0 || fail "cpu0_temp not ok at start"

  # cpu0_temp (logical number 2) to raw 194: 97 degrees C, past ucr 95.
  "$cli" sensor "#2" set-reading 194 >/dev/null # velkdirectfe_set_sensor_reading
  wait_for "the critical state in Prometheus" query_is 'velkdirect_sensor_state{id="cpu0_temp"}' 2
  query_is 'velkdirect_sensor_threshold_crossed{id="cpu0_temp",threshold="ucr"}' 1 || fail "ucr not crossed"
  query_is 'velkdirect_sensor_celsius{id="cpu0_temp"}' 97 || fail "value not 97"
  wait_for "the critical alert" alert_is_raised VelkdirectSensorCritical cpu0_temp

  stop_daemon
  wait_for "a scrape with the daemon down" query_is velkdirect_up 0
  query_is 'up{job="velkdirect"}' 1 || fail "the exporter stopped answering"

  start_daemon
  wait_for "a scrape with the daemon back" query_is velkdirect_up 1
  query_is 'up{job="velkdirect"}' 1 || fail "the exporter stopped answering"
}

case $mode in
  exposition) exposition ;;
  prometheus) prometheus_e2e ;;
  *) fail "unknown mode $mode" ;;
esac
echo "exporter $mode: passed"
