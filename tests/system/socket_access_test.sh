#!/usr/bin/env bash
# Who may use the daemon's socket: a user in the socket's group reads
# sensors through velkdirect, a user outside it is told "permission denied"
# (exit 3), and the socket carries the requested mode and group the moment
# the daemon says it is ready. Needs root; run it under in_private_tmp.
#   socket_access_test.sh VELKD_SIM VELKDIRECT
set -euo pipefail
sim=$1 cli=$2
sock=/tmp/velkdirect.sock

# Test accounts, created once and shared by later runs. useradd fails while
# another process holds the passwd lock, so it is retried.
retry() { for _ in $(seq 50); do "$@" 2>/dev/null && return 0; sleep 0.2; done; "$@"; }
getent group vdt12sock >/dev/null || retry groupadd -f --system vdt12sock
for user in vdt12in vdt12out; do
  id -u "$user" >/dev/null 2>&1 ||
    retry bash -c "id -u $user >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin $user"
done
id -nG vdt12in | grep -qw vdt12sock || retry usermod -a -G vdt12sock vdt12in

as() { local user=$1; shift; setpriv --reuid="$user" --regid="$user" --init-groups -- "$@"; }

sim_pid=
start() {
  rm -f /tmp/ready
  "$sim" --ready-fd 3 "$@" 3>/tmp/ready 2>/tmp/velkd-sim.log &
  sim_pid=$!
  for _ in $(seq 600); do
    [[ -s /tmp/ready ]] && return 0
    kill -0 $sim_pid 2>/dev/null || { cat /tmp/velkd-sim.log >&2; return 1; }
    sleep 0.02
  done
  return 1
}
stop() { kill $sim_pid; wait $sim_pid || true; sim_pid=; }
trap 'if [[ -n $sim_pid ]]; then kill $sim_pid 2>/dev/null || true; fi' EXIT

expect_denied() { # USER OWNER:GROUP MODE
  local status=0 err
  err=$(as "$1" "$cli" sensors 2>&1 >/dev/null) || status=$?
  [[ $status == 3 ]] || { echo "$1: exit $status, expected 3: $err" >&2; return 1; }
  grep -qxF "velkdirect: permission denied on $sock ($2, mode $3)" <<<"$err" ||
    { echo "$1: unexpected message: $err" >&2; return 1; }
  grep -q "^hint: .*group ${2#*:}" <<<"$err" || { echo "$1: no hint: $err" >&2; return 1; }
}

# Requested mode and group, read right after the ready line.
start --socket-group vdt12sock --socket-mode 0660
[[ $(stat -c '%a %U:%G %F' $sock) == "660 root:vdt12sock socket" ]] || { stat $sock >&2; exit 1; }
out=$(as vdt12in "$cli" sensors)
grep -q cpu0_temp <<<"$out" || { echo "member could not read sensors: $out" >&2; exit 1; }
expect_denied vdt12out root:vdt12sock 0660
stop

# The default: the daemon's own user and group only.
start
[[ $(stat -c '%a %U:%G' $sock) == "660 root:root" ]] || { stat $sock >&2; exit 1; }
expect_denied vdt12in root:root 0660
stop

# A wider mode lets everyone in.
start --socket-mode 0666
as vdt12out "$cli" platform >/dev/null
stop
echo "socket access: ok"
