#!/usr/bin/env bash
# velkdirect-exporter end to end, in a private /tmp and a network namespace of
# its own (only loopback, every port free):
#   exporter_test.sh BINDIR RULES
# promtool lints the exporter's and `velkdirect metrics` output; hostile
# clients (slow, endless, numerous, all from 127.0.0.1) are cut off or refused
# while scrapes from 127.0.0.2 are answered on time; a second exporter on the
# same address is refused; POST is 405; a real Prometheus scrapes it every second: every
# sensor is there, a sensor pushed past its critical threshold shows with its
# alert; the exporter answers 200 with velkdirect_up 0 for a stopped daemon,
# on time for a hung one, and at once to a scrape waiting when it is stopped.
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
# A POST, with a body or without, is refused as a method (405 with Allow).
for body in "" "x=1"; do
  answer=$(curl -sS -i -X POST ${body:+-d "$body"} "$exporter_url/metrics" | tr -d '\r')
  [[ $answer == "HTTP/1.1 405 "* && $answer == *$'\nAllow: GET, HEAD\n'* ]] ||
    fail "POST /metrics${body:+ with a body}: $(head -1 <<<"$answer")"
done
has 'velkdirect_exporter_build_info{version="' || fail "no build_info"
! grep -v '^velkdirect_sensor_info{' "$work/metrics" | grep -q 'unit=' || fail "a unit in a label of a reading"

# Hostile clients. Connections are bash's /dev/tcp, from 127.0.0.1; the
# scrapes that must still be answered come from 127.0.0.2.
trap '' PIPE # a write to a connection the exporter cut fails, and the test goes on
per_address=8 request_deadline=5
other_scrape() { # a scrape from another address, answered within 2 s
  [[ $(curl -sS -m 2 --interface 127.0.0.2 -o "$work/metrics" -w '%{http_code}' "$exporter_url/metrics") == 200 ]] &&
    has 'velkdirect_up 1'
}
is_closed() { # FD: the exporter closed it (end of file rather than a timeout)
  local byte status
  IFS= read -r -t 0.2 -N 1 -u "$1" byte
  status=$?
  ((status == 1))
}
# Twice the per-address cap plus one (more than the old server's 16 threads),
# each sending its request a byte a second: the cap refuses the extra ones at
# once, a scrape from another address is answered meanwhile, and the ones let
# in are cut at the request deadline.
slow=()
for _ in $(seq $((2 * per_address + 1))); do
  exec {fd}<>/dev/tcp/127.0.0.1/9745
  slow+=("$fd")
done
request=$'GET /metrics HTTP/1.1\r\nHost: slow\r\nX-Slow: '
sleep 0.5
closed=0
for fd in "${slow[@]}"; do is_closed "$fd" && closed=$((closed + 1)); done
((closed == per_address + 1)) || fail "$closed of $((2 * per_address + 1)) connections from one address refused"
for ((second = 0; second <= request_deadline + 1; second++)); do
  for fd in "${slow[@]}"; do printf '%s' "${request:second:1}" >&"$fd" 2>/dev/null || true; done
  ((second == 1)) && { other_scrape || fail "no scrape while slow requests trickle in"; }
  sleep 1
done
closed=0
for fd in "${slow[@]}"; do is_closed "$fd" && closed=$((closed + 1)); done
((closed == ${#slow[@]})) || fail "$((${#slow[@]} - closed)) slow requests still open past the deadline"
for fd in "${slow[@]}"; do exec {fd}>&-; done
# A request line or a header line that never ends is refused at the cap on
# each connection's buffer; the exporter answers and closes.
while IFS='|' read -r what start code; do
  exec {fd}<>/dev/tcp/127.0.0.1/9745
  { printf '%b' "$start"; head -c 100000 /dev/zero | tr '\0' a; } >&"$fd" 2>/dev/null &
  IFS= read -r -t 3 -u "$fd" status_line || true
  [[ $status_line == "HTTP/1.1 $code "* ]] || fail "$what: answered \"$status_line\", not $code"
  exec {fd}>&-
done <<'ROWS'
an endless request line|GET /metrics?|414
an endless header line|GET /metrics HTTP/1.1\r\nHost: endless\r\nX-Endless: |431
ROWS
other_scrape || fail "no scrape after the hostile clients"
trap - PIPE
# An address in use is refused, never shared.
if timeout 5 "$exporter" --web.listen-address 127.0.0.1:9745 2>"$work/second.log"; then
  fail "a second exporter started on the same address"
else
  status=$?
fi
((status == 1)) || fail "a second exporter on the same address: status $status, not 1"
grep -q 'cannot listen on 127.0.0.1:9745' "$work/second.log" || fail "no word on the address in use"
# Nor is it shared by the default, every address at the same port.
status=0
timeout 5 "$exporter" 2>"$work/second.log" || status=$?
((status == 1)) || fail "a second exporter on every address: status $status, not 1"

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
values='{__name__=~"velkdirect_(temperature_celsius|voltage_volts|fan_speed_rpm|sensor_value)"}'
curl -fsS --get --data-urlencode "query=group by (id) ($values)" http://127.0.0.1:9090/api/v1/query |
  jq -r '.data.result[].metric.id' | sort >"$work/prom-ids"
diff "$work/ids" "$work/prom-ids" || fail "sensors missing in Prometheus"
query_is 'velkdirect_sensor_state{id="cpu0_temp"}' 0 || fail "cpu0_temp not ok at start"
# cpu0_temp (logical number 2) to raw 194: 97 degrees C, past ucr 95.
"$cli" sensor "#2" set-reading 194 >/dev/null
wait_for "the critical state in Prometheus" query_is 'velkdirect_sensor_state{id="cpu0_temp"}' 2
query_is 'velkdirect_sensor_threshold_crossed{id="cpu0_temp",threshold="ucr"}' 1 ||
  fail "ucr not crossed"
query_is 'velkdirect_temperature_celsius{id="cpu0_temp"}' 97 || fail "value not 97"
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
# Stopped while a scrape waits for the hung daemon, an exporter answers that
# scrape at once with up 0 and exits cleanly.
"$exporter" --web.listen-address :9746 2>>"$work/exporter.log" &
stopping_pid=$!
pids+=("$stopping_pid")
wait_for "a second exporter" curl -fsS -o /dev/null http://127.0.0.1:9746/
# :PORT is every address: 127.0.0.2 too.
curl -fsS -o /dev/null http://127.0.0.2:9746/ || fail ":9746 is not every address"
curl -sS -o "$work/waiting" -w '%{http_code}' http://127.0.0.1:9746/metrics >"$work/waiting-code" &
waiting_pid=$!
sleep 0.5
start=$SECONDS
kill "$stopping_pid"
wait "$stopping_pid" || fail "an exporter stopped with a scrape waiting exited with $?"
wait "$waiting_pid" || true
((SECONDS - start <= 2)) || fail "an exporter with a scrape waiting took $((SECONDS - start)) s to stop"
[[ $(<"$work/waiting-code") == 200 ]] && grep -q 'velkdirect_up 0' "$work/waiting" ||
  fail "the scrape waiting when the exporter stopped was not answered"
stop_daemon

start_daemon
wait_for "a scrape with the daemon back" query_is velkdirect_up 1
# --socket: an exporter reads the daemon on the socket it names (where the
# library takes VELKDIRECT_SOCKET).
if VELKDIRECT_SOCKET=/tmp/none.sock "$cli" platform >/dev/null 2>&1; then
  echo "the library does not read VELKDIRECT_SOCKET: --socket not checked"
else
  "$sim" --socket /tmp/second.sock --ready-fd 3 3>"$work/second-ready" 2>>"$work/sim.log" &
  pids+=($!)
  wait_for "a second velkd-sim" test -s "$work/second-ready"
  "$exporter" --web.listen-address 127.0.0.1:9747 --socket /tmp/second.sock 2>>"$work/exporter.log" &
  pids+=($!)
  wait_for "an exporter on the second socket" curl -fsS -o "$work/metrics" http://127.0.0.1:9747/metrics
  has 'velkdirect_up 1' || fail "--socket: not up on the second daemon's socket"
  "$exporter" --web.listen-address 127.0.0.1:9748 --socket /tmp/none.sock 2>>"$work/exporter.log" &
  pids+=($!)
  wait_for "an exporter on no socket" curl -fsS -o "$work/metrics" http://127.0.0.1:9748/metrics
  has 'velkdirect_up 0' || fail "--socket: up with no daemon on that socket"
fi

# 500 fans declared once (count, {n}), two thresholds "na": listed by the
# tool with na (null in JSON), scraped lint-clean with no series for them.
stop_daemon
cat >"$work/fans.toml" <<'TOML'
[platform]
name = "fan wall"
model = "FW-500"
[[sensor]]
count = 500
count_from = 0
id = "fan{n}"
number = 100
path = "/wall/fan{n}"
properties = { unit = "RPM" }
conversion = { m = 50.0, b = 0.0 }
thresholds = { lnr = "na", lcr = 500.0, lnc = 1000.0, unc = 9000.0, ucr = 10000.0, unr = "na" }
reading = { behaviour = "constant", value = 4800.0 }
TOML
start_daemon --config "$work/fans.toml"
[[ $("$cli" sensors | grep -c '^fan') == 500 ]] || fail "500 fans not listed"
"$cli" sensor fan499 | grep -q '^thresholds  *lnr na  lcr 500 .* unr na$' || fail "no na in: $("$cli" sensor fan499)"
[[ $("$cli" sensors --json | jq -c '.[499] | [.id, .thresholds.lnr, .thresholds.lcr]') == '["fan499",null,500]' ]] ||
  fail "JSON of an na threshold"
scrape
lint "$work/metrics"
[[ $(grep -c '^velkdirect_fan_speed_rpm{' "$work/metrics") == 500 ]] || fail "500 fan speeds not scraped"
! grep -q 'threshold="\(lnr\|unr\)"' "$work/metrics" || fail "series for a threshold that is na"
kill "$exporter_pid"
wait "$exporter_pid" || fail "the exporter did not exit cleanly"
echo "exporter: passed"
