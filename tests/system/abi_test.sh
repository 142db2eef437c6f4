#!/usr/bin/env bash
# The library's ABI against the baseline in abi/: a changed record layout,
# signature or symbol set fails until the baseline is updated on purpose
# (`cmake --build BUILD --target abi_baseline`, then commit abi/). A library
# without debug information is skipped (exit 77).
#   abi_test.sh BASELINE LIBRARY
set -euo pipefail
readelf -S "$2" | grep -q '\.debug_info' || { echo "$2 has no debug information"; exit 77; }
abidiff "$1" "$2" || { echo "abidiff exit status $?: the ABI differs from $1" >&2; exit 1; }
echo "ABI unchanged against ${1##*/}"
