#!/usr/bin/env bash
# Every built man page renders through man and groff without a warning, and
# the pages and READMEs list the daemon's status words, the threshold names
# and the tools' exit statuses as common/daemon_status.h,
# common/threshold_names.h and common/exit_codes.h declare them.
#   man_pages_test.sh SOURCE_DIR PAGE...
set -euo pipefail
src=$1
shift
for page in "$@"; do
  warnings=$(groff -ww -man -z "$page" 2>&1; MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] || { echo "$page:"$'\n'"$warnings" >&2; exit 1; }
  [[ $(MANWIDTH=80 man -l "$page" 2>/dev/null | grep -c '^NAME$') == 1 ]] ||
    { echo "$page: no NAME section" >&2; exit 1; }
done
echo "rendered $# pages"

missing=0
expect() { # FILE PHRASE; white space folded, so that the phrase may wrap anywhere
  [[ $(tr -s ' \t\n' ' ' <"$src/$1") == *"$2"* ]] || { echo "$1 does not say: $2" >&2; missing=1; }
}

# Status words: `kName = N,` and `{kName, "words"}` in the header.
declare -A number
while read -r name value; do number[$name]=$value; done < <(
  sed -nE 's/^ *(k[A-Za-z]+) = ([0-9]+),.*/\1 \2/p' "$src/common/daemon_status.h")
words=0
while IFS='|' read -r name text; do
  n=${number[$name]}
  expect README.md "| $n | $text"
  expect daemon/README.md "| $n | $text |"
  expect man/velkdirectfe.3.scd "*$n* $text"
  words=$((words + 1))
done < <(sed -nE 's/^ *\{(k[A-Za-z]+), "([^"]+)"\},.*/\1|\2/p' "$src/common/daemon_status.h")
((words > 0)) || { echo "no status words found in common/daemon_status.h" >&2; exit 1; }

# Threshold names, in order, where the pages and the README list all six.
names=$(sed -nE 's/.*kThresholdNames = \{(.*)\};/\1/p' "$src/common/threshold_names.h" | tr -d '",')
[[ -n $names ]] || { echo "no threshold names found in common/threshold_names.h" >&2; exit 1; }
list() { # BEFORE AFTER SEPARATOR: each name between BEFORE and AFTER, joined
  local out="" name
  for name in $names; do out+="${out:+$3}$1$name$2"; done
  echo "$out"
}
expect man/velkd-sim.toml.5.scd "*thresholds* = { $(list '*' '*' ', ') }"
expect man/velkdirect-exporter.1.scd "one of $(list '*' '*' ', ')"
expect man/velkdirect.1.scd "*set-thresholds* $(list '[*--' '* _V_]' ' ')"
expect README.md "the six thresholds ($(list '`' '`' ' '))"

# Exit statuses: the rows of exit_code::table ("  N  meaning", continued on
# lines indented further), each a row of the README's table and a number in
# both tools' EXIT STATUS sections.
codes=0
while IFS='|' read -r code meaning; do
  expect README.md "| $code | $meaning |"
  for page in man/velkdirect.1.scd man/velkd-sim.8.scd; do
    [[ $(sed -n '/^# EXIT STATUS/,/^# [A-Z]/p' "$src/$page") == *"*$code*"* ]] ||
      { echo "$page: exit status $code is not listed" >&2; missing=1; }
  done
  codes=$((codes + 1))
done < <(sed -n '/table =/,/;$/p' "$src/common/exit_codes.h" |
  sed -nE 's/^ *"(.*)\\n"$/\1/p; s/^ *"(.*)";$/\1/p' |
  awk '/^  [0-9]  / { if (row) print row; row = substr($0, 3, 1) "|" substr($0, 6); next }
       /^     / && row { sub(/^ +/, ""); row = row " " $0 }
       END { if (row) print row }')
((codes > 0)) || { echo "no exit statuses found in common/exit_codes.h" >&2; exit 1; }
((missing == 0)) || exit 1
echo "checked $words status words, $(wc -w <<<"$names") threshold names, $codes exit statuses"
