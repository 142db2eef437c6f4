#!/usr/bin/env bash
# Every systemd unit of an install of this build passes systemd-analyze
# verify, man pages referenced by Documentation= included. The units name
# programs by their installed paths; the copies verified here point at the
# same programs in a DESTDIR install instead.
#   units_test.sh BUILD_DIR WORK_DIR BINDIR UNITDIR
set -euo pipefail
build=$1 work=$2 bindir=$3 unitdir=$4
rm -rf "$work" && mkdir -p "$work/units"
DESTDIR="$work/root" cmake --install "$build" >/dev/null
root=$work/root
shopt -s nullglob
units=("$root$unitdir"/*.service "$root$unitdir"/*.socket "$root$unitdir"/*.timer)
((${#units[@]})) || { echo "no units installed in $unitdir" >&2; exit 1; }
for unit in "${units[@]}"; do
  sed "s#$bindir/#$root$bindir/#g" "$unit" >"$work/units/${unit##*/}"
done
manpath=$(find "$root" -type d -path '*/share/man' | head -1)
cd "$work/units"
# Unknown keys and the like are only warnings to verify; here any remark fails.
remarks=$(MANPATH="$manpath:" systemd-analyze verify ./* 2>&1) || { echo "$remarks" >&2; exit 1; }
[[ -z $remarks ]] || { echo "$remarks" >&2; exit 1; }
echo "verified: $(ls)"
