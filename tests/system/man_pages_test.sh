#!/usr/bin/env bash
# Every built man page renders through man and groff without a warning.
#   man_pages_test.sh PAGE...
set -euo pipefail
(($#)) || { echo "no man pages" >&2; exit 1; }
for page in "$@"; do
  warnings=$(groff -ww -man -z "$page" 2>&1; MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] || { echo "$page:"$'\n'"$warnings" >&2; exit 1; }
  [[ $(MANWIDTH=80 man -l "$page" 2>/dev/null | grep -c '^NAME$') == 1 ]] || { echo "$page: no NAME section" >&2; exit 1; }
done
echo "rendered $# pages"
