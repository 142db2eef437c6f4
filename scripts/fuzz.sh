#!/usr/bin/env bash
# Runs the libFuzzer targets (tests/fuzz), all at once, each for the given
# seconds (default 60): scripts/fuzz.sh [seconds-per-target] [target...]
# Targets: replies records connection description (default: all). Each keeps
# a working corpus in $VELK_FUZZ_DIR/<target> (default ~/.cache/velkdirectfe-fuzz),
# started from the seeds in tests/fuzz/corpus/<target> (the loader's also from
# velkd-sim's built-in platform, daemon/default_platform.toml), and its log there.
# A crash, leak or sanitizer report leaves the input in $VELK_FUZZ_DIR/<target>/
# artifacts and fails the script; add it to the seeds once it is fixed.
# scripts/fuzz.sh --runs N [target...] (scripts/test.sh's smoke run) runs N
# inputs of each instead, from the seeds only, working (and leaving what it
# finds) in the build directory's fuzz-smoke/.
set -euo pipefail
cd "$(dirname "$0")/.."

runs= seconds=60
if [[ "${1:-}" == --runs ]]; then
  runs=$2
  shift 2
elif (($# > 0)); then
  seconds=$1
  shift
fi
targets=("$@")
((${#targets[@]})) || targets=(replies records connection description)

# The whole project built by clang with the fuzzer's coverage and ASan+UBSan.
build=${VELK_FUZZ_BUILD:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKDIRECTFE_FUZZ=ON \
  -DVELKDIRECTFE_TESTS=OFF -DVELKDIRECTFE_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}" >/dev/null

if [[ -n "$runs" ]]; then
  work=$build/fuzz-smoke
  rm -rf "$work"
else
  work=${VELK_FUZZ_DIR:-$HOME/.cache/velkdirectfe-fuzz}
fi
# Every allocation is bounded by the input's size; more than this is a finding.
options=(-malloc_limit_mb=256 -rss_limit_mb=1024 -print_final_stats=1)
[[ -n "$runs" ]] && options+=(-runs="$runs") || options+=(-max_total_time="$seconds")

pids=()
for t in "${targets[@]}"; do
  mkdir -p "$work/$t/corpus" "$work/$t/artifacts"
  [[ $t == description ]] && cp daemon/default_platform.toml "$work/$t/corpus/built_in.toml"
  "$build/tests/fuzz/fuzz_$t" "${options[@]}" -artifact_prefix="$work/$t/artifacts/" \
    "$work/$t/corpus" "tests/fuzz/corpus/$t" >"$work/$t/log" 2>&1 &
  pids+=($!)
done
failed=0
for i in "${!targets[@]}"; do
  t=${targets[$i]}
  if wait "${pids[$i]}"; then
    echo "$t: $(grep -E '^#[0-9]+' "$work/$t/log" | tail -1)"
  else
    failed=1
    echo "$t: FAILED (log: $work/$t/log)"
    tail -40 "$work/$t/log"
  fi
done
exit $failed
