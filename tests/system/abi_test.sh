#!/usr/bin/env bash
# The shared library's ABI against the baseline in abi/: any change to a
# public record's layout, a function's signature or the exported symbol set
# fails until the baseline is updated on purpose (`cmake --build BUILD
# --target abi_baseline`, then commit abi/). Needs the library's debug
# information; a build without it skips (exit 77).
#   abi_test.sh BASELINE LIBRARY
set -euo pipefail
baseline=$1 library=$2
if ! readelf -S "$library" | grep -q '\.debug_info'; then
  echo "$library has no debug information: the ABI is not compared (build with -g, e.g. RelWithDebInfo)"
  exit 77
fi
status=0
report=$(abidiff "$baseline" "$library") || status=$?
if ((status != 0)); then
  echo "$report"
  echo "abidiff exit status $status: the ABI differs from $baseline" >&2
  exit 1
fi
echo "ABI unchanged against ${baseline##*/}"
