#!/usr/bin/env bash
# The installed tree.
#   installed_tree_test.sh install PREFIX BUILD_DIR: a fresh install of BUILD_DIR,
#       which must put every file under PREFIX (the install manifest lists
#       them; nothing is ever written to the host's system folders)
#   installed_tree_test.sh pkgconfig|find_package PREFIX CONSUMER_DIR WORK_DIR [CFLAGS]
#       builds the consumer with pkg-config or find_package and runs it
#       against the installed velkd-sim,
#       under in_private_tmp (the machine's own socket is never touched).
set -euo pipefail
mode=$1 prefix=$2

if [[ $mode == install ]]; then
  rm -rf "$prefix"
  cmake --install "$3" --prefix "$prefix"
  outside=$(grep -v "^$prefix/" "$3/install_manifest.txt" || true)
  [[ -z $outside ]] || { echo "installed outside $prefix:"$'\n'"$outside" >&2; exit 1; }
  for file in etc/default/velkd-sim etc/default/velkdirect-exporter lib/sysusers.d/velkdirect-exporter.conf \
              lib/systemd/system/velkd-sim.socket lib/systemd/system/velkdirect-exporter.service; do
    [[ -f $prefix/$file ]] || { echo "not installed: $prefix/$file" >&2; exit 1; }
  done
  exit 0
fi

consumer_dir=$3 work=$4 cflags=${5:-}
rm -rf "$work" && mkdir -p "$work"
case $mode in
  pkgconfig)
    export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name velkdirectfe.pc)")
    # shellcheck disable=SC2046,SC2086
    cc -std=c11 -Wall -Wextra -Werror $cflags -o "$work/consumer" "$consumer_dir/consumer.c" \
      $(pkg-config --cflags --libs velkdirectfe)
    export LD_LIBRARY_PATH=$(pkg-config --variable=libdir velkdirectfe)
    program=("$work/consumer")
    ;;
  find_package)
    cmake -S "$consumer_dir" -B "$work" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="-Wall -Werror $cflags" \
      -DCMAKE_EXE_LINKER_FLAGS="$cflags" >/dev/null
    cmake --build "$work" >/dev/null
    program=("$work/consumer")
    ;;
  *) echo "unknown mode $mode" >&2; exit 2 ;;
esac

# Start the installed daemon and wait for its ready line.
"$prefix/bin/velkd-sim" --ready-fd 3 3>/tmp/ready 2>/tmp/velkd-sim.log &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 600); do
  [[ -s /tmp/ready ]] && break
  kill -0 $sim 2>/dev/null || { cat /tmp/velkd-sim.log >&2; exit 1; }
  sleep 0.05
done

output=$("${program[@]}")
echo "$output"
grep -q "^platform: Velk V-440 Server (VLK-440-SIM)$" <<<"$output" && grep -q "^sensors: 10$" <<<"$output"
