#!/usr/bin/env bash
# Completion of velkdirect in a bash session with bash-completion loaded, as
# an interactive shell calls it on Tab: commands, options, and the live names
# from the daemon; nothing (and quickly) when no daemon serves. Run it under
# in_private_tmp.
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
  local line=$1; shift
  local got want
  got=$(complete_line "$line")
  want=$(printf "%s\n" "$@" | sort)
  [[ $got == "$want" ]] || { printf 'completing "%s":\ngot:\n%s\nwanted:\n%s\n' "$line" "$got" "$want" >&2; exit 1; }
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

sensors=$("$cli" sensors | awk 'NR > 1 { print $1 }')
(($(wc -l <<<"$sensors") >= 2)) || { echo "no sensors listed: $sensors" >&2; exit 1; }
# shellcheck disable=SC2086
expect "velkdirect sensor " $sensors
expect "velkdirect sensor cpu" $(grep '^cpu' <<<"$sensors")
# shellcheck disable=SC2086
expect "velkdirect poll disable " $sensors
expect "velkdirect indicator " $("$cli" indicators | awk 'NR > 1 { print $1 }')
expect "velkdirect fru " $("$cli" frus | awk 'NR > 1 { print $1 }')
expect "velkdirect fru mainboard " read write
expect "velkdirect indicator fault_led " fast off on slow
expect "velkdirect sensors --j" --json
echo "completion: ok"
