#!/usr/bin/env bash
# velkdirect-exporter end to end, in a private /tmp and a network namespace of
# its own (only loopback, every port free):
#   exporter_test.sh BINDIR RULES
# promtool lints the exporter's and `velkdirect metrics` output; a real
# Prometheus scrapes it every second: every sensor is there, a sensor pushed
# past its critical threshold shows with its alert; the exporter answers 200
# with velkdirect_up 0 for a stopped daemon, and on time for a hung one.
set -euo pipefail
bin=$1 rules=$2
sim=$bin/daemon/velkd-sim cli=$bin/cli/velkdirect exporter=$bin/exporter/velkdirect-exporter
ip link set lo up
work=$(mktemp -d /tmp/exporter-test.XXXXXX)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true' EXIT
fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/*.log; do echo "--- $log" >&2; tail -20 "$log" >&2; done
  exit 1
}
wait_for() { # WHAT COMMAND...: retried for up to 30 s
  for _ in $(seq 300); do "${@:2}" && return 0; sleep 0.1; done
  fail "timed out waiting for $1"
}
start_daemon() {
  rm -f "$work/ready"
  "$sim" --ready-fd 3 "$@" 3>"$work/ready" 2>>"$work/sim.log" &
  sim_pid=$!
  pids+=("$sim_pid")
  wait_for "velkd-sim" test -s "$work/ready"
}
stop_daemon() { kill "$sim_pid"; wait "$sim_pid" || fail "velkd-sim did not stop cleanly"; }
exporter_url=http://127.0.0.1:9745
scrape() { # GET /metrics into $work/metrics: a 200 whatever the daemon does
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
query() { # Prometheus's instant query: the single series' value, or "none"
  curl -fsS --get --data-urlencode "query=$1" http://127.0.0.1:9090/api/v1/query |
    jq -r 'if (.data.result | length) == 1 then .data.result[0].value[1] else "none" end'
}
query_is() { [[ $(query "$1") == "$2" ]]; }
alert_is_raised() {
  curl -fsS http://127.0.0.1:9090/api/v1/alerts | jq -e --arg name "$1" --arg id "$2" >/dev/null \
    '[.data.alerts[] | select(.labels.alertname == $name and .labels.id == $id)] | length == 1'
}

start_daemon
"$exporter" --web.listen-address 127.0.0.1:9745 2>>"$work/exporter.log" &
exporter_pid=$!
pids+=("$exporter_pid")
wait_for "the exporter" curl -fsS -o /dev/null "$exporter_url/"
scrape
lint "$work/metrics"
has 'velkdirect_up 1' || fail "not up"
"$cli" metrics >"$work/cli-metrics"
lint "$work/cli-metrics"
curl -fsS "$exporter_url/" | grep -q 'href="metrics"' || fail "no link to the metrics on /"
[[ $(curl -s -o /dev/null -w '%{http_code}' "$exporter_url/nothing") == 404 ]] || fail "not a 404"

promtool check rules "$rules" >/dev/null || fail "the example rules do not load"
cat >"$work/prometheus.yml" <<YAML
global: {scrape_interval: 1s, scrape_timeout: 1s, evaluation_interval: 1s}
rule_files: ['$rules']
scrape_configs: [{job_name: velkdirect, static_configs: [{targets: ['127.0.0.1:9745']}]}]
YAML
prometheus --config.file "$work/prometheus.yml" --storage.tsdb.path "$work/data" \
  --web.listen-address 127.0.0.1:9090 --log.level warn 2>>"$work/prometheus.log" &
pids+=($!)
wait_for "a scrape with the daemon up" query_is velkdirect_up 1
# Every sensor the daemon lists has its value in Prometheus.
"$cli" sensors --json | jq -r '.[].id' | sort >"$work/ids"
[[ $(wc -l <"$work/ids") == 10 ]] || fail "the platform should list 10 sensors"
values='{__name__=~"velkdirect_sensor_(celsius|volts|value)"}'
curl -fsS --get --data-urlencode "query=group by (id) ($values)" http://127.0.0.1:9090/api/v1/query |
  jq -r '.data.result[].metric.id' | sort >"$work/prom-ids"
diff "$work/ids" "$work/prom-ids" || fail "sensors missing in Prometheus"
query_is 'velkdirect_sensor_state{id="cpu0_temp"}' 0 || fail "cpu0_temp not ok at start"
# cpu0_temp (logical number 2) to raw 194: 97 degrees C, past ucr 95.
"$cli" sensor "#2" set-reading 194 >/dev/null
wait_for "the critical state in Prometheus" query_is 'velkdirect_sensor_state{id="cpu0_temp"}' 2
query_is 'velkdirect_sensor_threshold_crossed{id="cpu0_temp",threshold="ucr"}' 1 ||
  fail "ucr not crossed"
query_is 'velkdirect_sensor_celsius{id="cpu0_temp"}' 97 || fail "value not 97"
wait_for "the critical alert" alert_is_raised VelkdirectSensorCritical cpu0_temp

stop_daemon
wait_for "a scrape with the daemon down" query_is velkdirect_up 0
query_is 'up{job="velkdirect"}' 1 || fail "the exporter stopped answering"
scrape
lint "$work/metrics"
! has 'velkdirect_sensor' || fail "sensor series with no daemon"

# A hung daemon: the scrape still answers before Prometheus's timeout.
"$sim" --print-default >"$work/hung.toml"
printf '\n[[fault]]\nprocedure = "get_platform_names"\ndelay_ms = 4000\n' >>"$work/hung.toml"
start_daemon --config "$work/hung.toml"
start=$SECONDS
scrape -H 'X-Prometheus-Scrape-Timeout-Seconds: 1'
((SECONDS - start <= 2)) || fail "scrape of a hung daemon took $((SECONDS - start)) s"
has 'velkdirect_up 0' || fail "up while the daemon hangs"
stop_daemon

start_daemon
wait_for "a scrape with the daemon back" query_is velkdirect_up 1
kill "$exporter_pid"
wait "$exporter_pid" || fail "the exporter did not exit cleanly"
echo "exporter: passed"
