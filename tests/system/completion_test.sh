#!/usr/bin/env bash
# velkdirect's completion in bash with bash-completion loaded, as Tab calls
# it: commands, options and the daemon's live names; nothing (and quickly)
# when no daemon serves. Run it under in_private_tmp.
#   completion_test.sh COMPLETION_FILE VELKD_SIM VELKDIRECT
set -euo pipefail
completion=$1 sim=$2 cli=$3

# Completes LINE (cursor at its end) and prints the candidates, sorted.
complete_line() {
  bash --norc --noprofile -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    COMP_LINE=$2 COMP_POINT=${#2}
    read -ra COMP_WORDS <<<"$2"
    [[ $2 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_WORDS[0]=$3
    _velkdirect
    printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$completion" "$1" "$cli"
}
expect() { # LINE EXPECTED...
  local got want
  got=$(complete_line "$1")
  want=$(printf "%s\n" "${@:2}" | sort)
  [[ $got == "$want" ]] || { printf 'completing "%s": got\n%s\nwanted\n%s\n' "$1" "$got" "$want" >&2; exit 1; }
}

# No daemon: commands still complete, names do not, and no message shows.
expect "velkdirect sen" sensor sensors
expect "velkdirect --ver" --version
start=$SECONDS
expect "velkdirect sensor " ""
((SECONDS - start < 2)) || { echo "completion waited for an absent daemon" >&2; exit 1; }

"$sim" --ready-fd 3 3>/tmp/ready 2>/tmp/velkd-sim.log &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null || true' EXIT
for _ in $(seq 600); do [[ -s /tmp/ready ]] && break; sleep 0.02; done

names() { "$cli" "$1" | awk 'NR > 1 { print $1 }'; }
sensors=$(names sensors)
(($(wc -l <<<"$sensors") >= 2)) || { echo "no sensors listed: $sensors" >&2; exit 1; }
# shellcheck disable=SC2086
expect "velkdirect sensor " $sensors
expect "velkdirect sensor cpu" $(grep '^cpu' <<<"$sensors")
# shellcheck disable=SC2086
expect "velkdirect poll disable " $sensors
expect "velkdirect indicator " $(names indicators)
expect "velkdirect fru " $(names frus)
expect "velkdirect fru mainboard " decode read write
expect "velkdirect sensors --type " current fan temperature voltage
expect "velkdirect ch" check
expect "velkdirect indicator fault_led " fast off on slow
expect "velkdirect sensors --j" --json
echo "completion: ok"
