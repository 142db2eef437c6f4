#!/usr/bin/env bash
# Who may use the daemon's socket: a user in the socket's group reads
# sensors, a user outside it is told "permission denied" (exit 3) with a hint
# that never asks to join group root, a daemon run by a user the library does
# not trust is named with the users it trusts, and the socket has its mode and
# group the moment the daemon says it is ready.
# Needs root; run it under in_private_tmp.
#   socket_access_test.sh VELKD_SIM VELKDIRECT VELKDIRECT_EXPORTER
set -euo pipefail
sim=$1 cli=$2 exporter=$3 sock=/tmp/velkdirect.sock
fail() { echo "$*" >&2; exit 1; }

# Accounts shared by later runs; useradd fails while another process holds
# the passwd lock, so it is retried.
retry() { for _ in $(seq 50); do "$@" 2>/dev/null && return 0; sleep 0.2; done; "$@"; }
getent group vdt12sock >/dev/null || retry groupadd -f --system vdt12sock
for user in vdt12in vdt12out; do
  id -u $user &>/dev/null || retry bash -c "id -u $user &>/dev/null ||
    useradd --system --no-create-home --shell /usr/sbin/nologin $user"
done
id -nG vdt12in | grep -qw vdt12sock || retry usermod -a -G vdt12sock vdt12in
as() { setpriv --reuid="$1" --regid="$1" --init-groups -- "${@:2}"; }

sim_pid=
trap '[[ -z $sim_pid ]] || kill $sim_pid 2>/dev/null || true' EXIT
start() { # PROGRAM OPTIONS...; then the socket's "mode owner:group" must be $want
  rm -f /tmp/ready
  "$@" --ready-fd 3 3>/tmp/ready 2>/tmp/velkd-sim.log &
  sim_pid=$!
  for _ in $(seq 600); do
    [[ -s /tmp/ready ]] && break
    kill -0 $sim_pid 2>/dev/null || fail "$(cat /tmp/velkd-sim.log)"
    sleep 0.02
  done
  [[ $(stat -c '%a %U:%G %F' $sock) == "$want socket" ]] || fail "$(stat $sock)"
}
stop() { kill $sim_pid; wait $sim_pid || true; sim_pid=; }
expect_denied() { # USER OWNER:GROUP MODE HINT
  local status=0 err
  err=$(as "$1" "$cli" sensors 2>&1 >/dev/null) || status=$?
  [[ $status == 3 ]] || fail "$1: exit $status, expected 3: $err"
  grep -qxF "velkdirect: cannot reach the management daemon at $sock: permission denied ($2, mode $3)" <<<"$err" ||
    fail "$1: $err"
  grep -q "^hint: .*$4" <<<"$err" || fail "$1: no hint: $err"
  ! grep -q "group root" <<<"$err" || fail "$1: asked to join group root: $err"
  err=$(as "$1" "$cli" check) && fail "check passed"
  grep -qF "VELKDIRECT UNKNOWN - cannot reach the management daemon at $sock: permission denied" <<<"$err" ||
    fail "$1: check: $err"
}

want="660 root:vdt12sock" start "$sim" --socket-group vdt12sock --socket-mode 0660
as vdt12in "$cli" sensors | grep -q cpu0_temp || fail "a member could not read sensors"
expect_denied vdt12out root:vdt12sock 0660 "member of group vdt12sock"
stop
# The default: the daemon's own user and group only.
want="660 root:root" start "$sim"
expect_denied vdt12in root:root 0660 "run as root"
stop
# A daemon run by a user the library does not trust: refused, and said so.
want="660 vdt12out:$(id -gn vdt12out)" start setpriv --reuid=vdt12out --regid=vdt12out --init-groups -- "$sim"
for command in platform check; do
  status=0
  err=$("$cli" $command 2>&1) || status=$?
  [[ $status == 3 ]] || fail "$command: exit $status: $err"
  grep -qF "the daemon at $sock runs as user vdt12out, which this library does not talk to: it trusts only root" \
    <<<"$err" || fail "$command: $err"
done
# The exporter's log says the same when a scrape finds it so.
if [[ -x $exporter ]]; then
"$exporter" --web.listen-address 127.0.0.1:9799 2>/tmp/exporter.log &
exporter_pid=$!
for _ in $(seq 100); do grep -q listening /tmp/exporter.log && break; sleep 0.1; done
exec 4<>/dev/tcp/127.0.0.1/9799
printf 'GET /metrics HTTP/1.0\r\n\r\n' >&4
grep -q '^velkdirect_up 0' <&4 || fail "exporter: not up 0"
exec 4<&-
kill $exporter_pid; wait $exporter_pid || true
grep -qF "runs as user vdt12out, which this library does not talk to" /tmp/exporter.log || fail "exporter: $(cat /tmp/exporter.log)"
fi
stop
# A wider mode lets everyone in.
want="666 root:root" start "$sim" --socket-mode 0666
as vdt12out "$cli" platform >/dev/null
stop
echo "socket access: ok"
