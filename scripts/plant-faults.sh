#!/usr/bin/env bash
# Plants faults in the product one at a time and records which tests catch
# each: the way to judge whether a change to the test suite (a trim, a
# consolidation) still catches what it caught before.
#
#   scripts/plant-faults.sh [--out FILE] [--build-dir DIR] [--jobs N] [--list] [--no-baseline] [--only ID...]
#
# Each fault below is applied in place (the file is restored on every exit
# path, and the tree is checked against git at the end; do not commit in this
# tree while it runs, or the fault goes into the commit), the sanitized build
# (ASan+UBSan, as scripts/test.sh builds it) is brought up to date in its own
# build dir, reused between faults so that each build is incremental, and
# the whole ctest suite is run. The suite runs once without a fault first;
# a test that fails then is reported and not counted as a catch. The table (id, description, the tests that
# failed) goes to --out as it grows. The exit status is 1 when a fault is not
# caught, or does not apply (its text is not found exactly once) or does not
# build: every fault must be plausible, compiling code that a test catches.
#
# Tests labelled "install" (they install the tree and build a consumer of
# it) are left out: they take long and see only the installed files. Set
# PLANT_CTEST_EXCLUDE to a different label regex, or empty, to change that.
#
# When code moves, retarget a fault by editing its file/find lines: each
# find text is one line (or part of one) and must occur exactly once in its
# file. Indentation is not part of the text.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# ---- the faults ---------------------------------------------------------------
# id / what / file / find / repl, one field a line; a blank line ends a fault.
read -r -d '' FAULTS <<'EOF'
id:   api-sensor-data-swap
what: copy-out of sensor data: byte2 filled from byte3 (a swapped field)
file: src/api/sensor_values.cpp
find: data->byte2 = info.byte2;
repl: data->byte2 = info.byte3;

id:   api-empty-note-not-null
what: copy-out of a sensor record: an empty third string comes out as "" instead of null
file: src/api/attribute_records.cpp
find: if (wire.opt_str[0] != '\0' && (rec->opt_str = strdup(wire.opt_str)) == nullptr) return -1;
repl: if ((rec->opt_str = strdup(wire.opt_str)) == nullptr) return -1;

id:   api-free-aux-missing
what: the record free functions no longer free the second string (a missing free)
file: src/api/attribute_records.cpp
find: if constexpr (requires { rec->aux_str; }) std::free(rec->aux_str);
repl: if constexpr (requires { rec->aux_str; }) {}

id:   api-list-leak-on-error
what: a list query that fails half-way through the copy leaks the records copied so far
file: src/api/attribute_queries.cpp
find: release_records(answer.count, recs.release());
repl: std::free(recs.release());

id:   api-props-leak-on-error
what: a property list that cannot be copied whole leaks the nodes already made
file: src/api/property_lists.cpp
find: velkdirectfe_nvlist_free(head);
repl: head = nullptr;

id:   api-fru-read-overflow
what: FRU read: an answer one byte longer than the caller's buffer is copied into it (off by one)
file: src/api/fru_direct.cpp
find: if (answer.count > length) return -1;
repl: if (answer.count > length + 1) return -1;

id:   api-assoc-member-bound
what: associations: the daemon's node count is trusted over the member count (a missing bound)
file: src/api/entity_associations.cpp
find: uint32_t filled = std::min(wire[i].member_count, wire[i].node_count);
repl: uint32_t filled = wire[i].node_count;

id:   api-disable-poll-swap
what: disabling polling sends the generation in the word field (a swapped field)
file: src/api/sensor_control.cpp
find: sensor_poll_info_t argument{request->sensor_num, 0, *request->poll_short};
repl: sensor_poll_info_t argument{request->sensor_num, *request->poll_short, 0};

id:   wire-string-padding
what: decoder: a string's padding computed wrongly (length % 4 instead of the rest to 4)
file: src/wire/bounded_xdr.cpp
find: u_int pad = (BYTES_PER_XDR_UNIT - length % BYTES_PER_XDR_UNIT) % BYTES_PER_XDR_UNIT;
repl: u_int pad = length % BYTES_PER_XDR_UNIT;

id:   wire-array-half-element-leak
what: decoder: an array element that fails half-way is not released (leak on an error path)
file: src/wire/bounded_xdr.cpp
find: release_elements(array, i + 1, elem_size, elem);
repl: release_elements(array, i, elem_size, elem);

id:   wire-sensor-record-order
what: wire: a sensor record's second and third strings decoded in the wrong order
file: src/wire/attribute_records.cpp
find: string(xdrs, &rec->aux_str) && string(xdrs, &rec->opt_str) &&
repl: string(xdrs, &rec->opt_str) && string(xdrs, &rec->aux_str) &&

id:   transport-mark-byte-order
what: transport: a record mark written in host byte order (a byte-order slip)
file: protocol/record_marking.cpp
find: for (std::size_t i = 0; i < kMarkBytes; ++i) bytes[i] = static_cast<unsigned char>(word >> (24 - 8 * i));
repl: for (std::size_t i = 0; i < kMarkBytes; ++i) bytes[i] = static_cast<unsigned char>(word >> (8 * i));

id:   transport-xid-unchecked
what: transport: a reply to another transaction is accepted (its xid is not checked)
file: src/transport/call_client.cpp
find: if (ntohl(head[0]) != c.xid || ntohl(head[1]) != REPLY) return RPC_CANTDECODERES;
repl: if (ntohl(head[1]) != REPLY) return RPC_CANTDECODERES;

id:   transport-first-fragment-ends
what: transport: a reply ends with its first fragment, whether or not it is the last
file: protocol/record_marking.cpp
find: return mark_.last;
repl: return true;

id:   transport-deadline-sliding
what: transport: once reply bytes arrive each wait gets a fresh 25 s, so a daemon trickling its reply is never cut off
file: src/transport/call_client.cpp
find: clnt_stat waited = wait_for(fd, POLLIN, deadline, RPC_CANTRECV);
repl: clnt_stat waited = wait_for(fd, POLLIN, received_ != 0 ? deadline_after(kCallSeconds) : deadline, RPC_CANTRECV);

id:   transport-peer-unchecked
what: transport: the socket's owner is not checked (any peer is trusted)
file: src/transport/connection.cpp
find: !peer_is_trusted(peer.uid)) {
repl: peer.uid == static_cast<uid_t>(-1)) {

id:   inventory-depth-off-by-one
what: inventory: a path's depth counts its leading '/' (off by one)
file: src/inventory/inventory_tree.cpp
find: for (const char* p = path + 1; *p; ++p) depth += *p == '/';
repl: for (const char* p = path; *p; ++p) depth += *p == '/';

id:   inventory-grow-off-by-one
what: inventory: the node array grows one ancestor too late (writes past its end)
file: src/inventory/inventory_tree.cpp
find: if (count_ + 1 >= capacity_) {
repl: if (count_ > capacity_) {

id:   inventory-root-path-leak
what: inventory: the root node's path copy is never freed (a missing free)
file: src/inventory/inventory_tree.cpp
find: for (size_t i = 0; i < count_; ++i) std::free(nodes_[i].path);
repl: for (size_t i = 1; i < count_; ++i) std::free(nodes_[i].path);

id:   inventory-components-not-freed
what: inventory: the component list fetched for the walk is not freed
file: src/inventory/inventory_direct.cpp
find: velkdirectfe_free_component_attrs(handle_, component_count_, components_);
repl: (void)components_;

id:   daemon-fru-range-off-by-one
what: velkd-sim: a FRU read or write one byte past the area's end is accepted
file: daemon/platform.cpp
find: return offset <= area && length <= area - offset;
repl: return offset <= area && length <= area - offset + 1;

id:   daemon-generation-any
what: velkd-sim: disabling polling with generation 0 (any) is refused as a wrong generation
file: daemon/platform.cpp
find: if (generation != 0 && generation != s.generation) return kWrongState;
repl: if (generation != s.generation) return kWrongState;

id:   daemon-fru-write-result
what: velkd-sim: a FRU write answers the offset instead of the size written (a swapped field)
file: daemon/handlers.cpp
find: if (status == 0) res.write_result = static_cast<int>(arg.size);
repl: if (status == 0) res.write_result = static_cast<int>(arg.offset);

id:   daemon-name-unbounded
what: velkd-sim: a name argument's length claim is not bounded (a missing bound on an untrusted count)
file: daemon/handlers.cpp
find: return xdr_string(xdrs, name, kMaxNameLength);
repl: return xdr_string(xdrs, name, ~0u);

id:   daemon-per-user-cap
what: velkd-sim: one more connection per user than the cap is admitted (off by one)
file: daemon/server.cpp
find: of_user >= options_.max_connections_per_user) {
repl: of_user > options_.max_connections_per_user) {

id:   daemon-first-byte-timeout
what: velkd-sim: a client that sends nothing after connecting is never dropped
file: daemon/server.cpp
find: c->deadline = deadline_in(options_.limits.first_byte_timeout_ms);
repl: c->deadline = kNoDeadline;

id:   daemon-bad-description-exit
what: velkd-sim: a description that does not load exits 2, as for bad usage (a wrong exit code)
file: daemon/main.cpp
find: e.cut_short() ? fmt::format(" (the check stops after {})", velkd::kMaxLoadProblems) : "");
repl: e.cut_short() ? fmt::format(" (the check stops after {})", velkd::kMaxLoadProblems) : ""); return exit_code::usage;

id:   cli-no-daemon-exit
what: velkdirect: an unreachable daemon exits 1 instead of 3 (a wrong exit code)
file: cli/main.cpp
find: return fail(exit_code::no_daemon, velk::client::diagnose_local_failure(e.subject(), waited));
repl: return fail(exit_code::failed, velk::client::diagnose_local_failure(e.subject(), waited));

id:   cli-check-warning-only
what: velkdirect check --warning-only still reports CRITICAL
file: cli/monitoring_commands.cpp
find: if (warning_only) code = std::min<int>(code, kPluginWarning);
repl: if (warning_only) code = std::min<int>(code, kPluginCritical);

id:   cli-critical-bits
what: velkdirect: the upper critical threshold bit read as the upper non-critical one
file: protocol/sensor_bits.h
find: inline constexpr std::uint8_t kCriticalBits = threshold_bit(1) | threshold_bit(4);
repl: inline constexpr std::uint8_t kCriticalBits = threshold_bit(1) | threshold_bit(3);

id:   cli-hex-nibbles
what: velkdirect fru write: hex digits of a byte taken low nibble first
file: cli/arguments.cpp
find: bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
repl: bytes.push_back(static_cast<uint8_t>(digit << 4 | high));

id:   cli-six-bit-last-char
what: velkdirect fru: 6-bit ASCII drops its last character (off by one)
file: cli/fru_decode.cpp
find: for (std::size_t at = 0; at + 6 <= bits; at += 6) {
repl: for (std::size_t at = 0; at + 6 < bits; at += 6) {

id:   cli-fru-area-past-end
what: velkdirect fru: an info area one byte longer than the data is decoded (off by one past the end)
file: cli/fru_decode.cpp
find: if (offset + area.length > data.size())
repl: if (offset + area.length > data.size() + 1)

id:   metrics-quote-unescaped
what: metrics: a double quote in a label value is not escaped
file: metrics/exposition.cpp
find: else if (c == '"') out += "\\\"";
repl: else if (c == '"') out += "\"";

id:   metrics-crossed-shift
what: metrics: threshold_crossed reads the next threshold's bit (off by one)
file: metrics/exposition.cpp
find: (r.threshold_state >> i) & 1u ? "1" : "0");
repl: (r.threshold_state >> (i + 1)) & 1u ? "1" : "0");

id:   metrics-failed-calls-lost
what: metrics: a refused call is not counted in velkdirect_scrape_failed_calls (a lost status)
file: metrics/platform_reading.cpp
find: ++reading.failed_calls;
repl: (void)reading.failed_calls;
EOF

# ---- options ------------------------------------------------------------------------
out=""
build_dir="build-faults"
jobs=6
list_only=0
no_baseline=0
only=()
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out="$2"; shift 2 ;;
    --build-dir) build_dir="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    --list) list_only=1; shift ;;
    --no-baseline) no_baseline=1; shift ;;
    --only) shift; while [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; do only+=("$1"); shift; done ;;
    -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "plant-faults: unknown argument $1" >&2; exit 2 ;;
  esac
done
exclude_label="${PLANT_CTEST_EXCLUDE-^install$}"

# The helper: lists the faults, applies one, checks that the list is well formed.
helper=$(mktemp)
backup=$(mktemp -d)
cat >"$helper" <<'PY'
import sys, os
def faults(text):
    out, cur = [], {}
    for line in text.splitlines() + [""]:
        if not line.strip():
            if cur:
                out.append(cur)
                cur = {}
            continue
        key, _, value = line.partition(":")
        cur[key.strip()] = value.strip()
    return out
fs = faults(os.environ["FAULTS"])
cmd = sys.argv[1]
if cmd == "list":
    for f in fs:
        print("\t".join([f["id"], f["file"], f["what"]]))
elif cmd == "apply":
    f = next(f for f in fs if f["id"] == sys.argv[2])
    path = f["file"]
    try:
        text = open(path).read()
    except OSError:
        print("no such file"); sys.exit(3)
    n = text.count(f["find"])
    if n != 1:
        print(f"text found {n} times"); sys.exit(3)
    open(path, "w").write(text.replace(f["find"], f["repl"]))
PY
export FAULTS
py() { python3 "$helper" "$@"; }

mapfile -t all < <(py list)
if [ "$list_only" = 1 ]; then
  printf '%s\n' "${all[@]}" | awk -F'\t' '{printf "%-32s %-34s %s\n", $1, $2, $3}'
  rm -rf "$helper" "$backup"
  exit 0
fi

selected=()
for row in "${all[@]}"; do
  id=${row%%$'\t'*}
  if [ ${#only[@]} -eq 0 ]; then selected+=("$row"); continue; fi
  for o in "${only[@]}"; do [ "$o" = "$id" ] && selected+=("$row"); done
done
if [ ${#selected[@]} -eq 0 ]; then echo "plant-faults: no such fault" >&2; exit 2; fi

if ! git diff --quiet -- src daemon cli metrics exporter include common; then
  echo "plant-faults: the product tree has uncommitted changes; commit or stash them first" >&2
  exit 2
fi

# Restores the planted file on every exit path.
planted=""
restore() {
  if [ -n "$planted" ]; then
    cp "$backup/file" "$planted" # a new mtime: the next build recompiles it
    planted=""
  fi
}
cleanup() { restore; rm -rf "$helper" "$backup"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

log_dir="$build_dir/plant-faults"
mkdir -p "$log_dir"
nice -n 5 cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKDIRECTFE_SANITIZE=ON \
  -DVELKDIRECTFE_BENCH=OFF -DVELKDIRECTFE_WERROR=ON \
  -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >"$log_dir/cmake.log" 2>&1 ||
  { echo "plant-faults: cmake failed, see $log_dir/cmake.log" >&2; exit 2; }

table_head=$'| id | planted fault | caught by | s |\n|---|---|---|---|'
rows=""
write_table() {
  [ -z "$out" ] && return
  { echo "# Planted faults"
    echo
    echo "Tree at $(git rev-parse --short HEAD) ($(git rev-parse --abbrev-ref HEAD)), $(date -u '+%Y-%m-%d %H:%M UTC');" \
      "ctest -j$jobs, label excluded: ${exclude_label:-none}; s: seconds to build and test with the fault."
    echo
    echo "$table_head"
    printf '%s' "$rows"
  } >"$out"
}

# The failing tests' names: all of them up to 8, else the first 8 and a count.
summarize() {
  local n=$# out
  out=$(printf '%s, ' "${@:1:8}")
  out=${out%, }
  [ "$n" -gt 8 ] && out+=" and $((n - 8)) more ($n tests)"
  echo "$out"
}

run_suite() { # $1: log file; prints the names of the tests that failed
  ( cd "$build_dir" && ctest -j"$jobs" --timeout 300 ${exclude_label:+-LE "$exclude_label"} ) >"$1" 2>&1
  awk '/The following tests FAILED:/ { on = 1; next }
    on && match($0, /^[[:space:]]*[0-9]+ - /) { name = substr($0, RLENGTH + 1); sub(/ \([^()]*\)[[:space:]]*$/, "", name); sub(/[[:space:]]+#.*$/, "", name); print name }' \
    "$1" | sort -u
}

bad=0
started_all=$(date +%s)
# The suite without a fault first: a test that fails anyway catches nothing.
baseline=()
if [ "$no_baseline" = 0 ]; then
  nice -n 5 cmake --build "$build_dir" -j2 >"$log_dir/baseline.build.log" 2>&1 ||
    { echo "plant-faults: the unfaulted tree does not build, see $log_dir/baseline.build.log" >&2; exit 2; }
  mapfile -t baseline < <(run_suite "$log_dir/baseline.ctest.log")
  took=$(( $(date +%s) - started_all ))
  printf '%-32s %4ds  %s\n' "(no fault)" "$took" "${baseline[*]:-all tests pass}"
  if [ ${#baseline[@]} -gt 0 ]; then
    table_head="Failing without any fault (not counted below): ${baseline[*]}"$'\n\n'"$table_head"
  fi
fi
for row in "${selected[@]}"; do
  IFS=$'\t' read -r id file what <<<"$row"
  started=$(date +%s)
  cp "$file" "$backup/file" 2>/dev/null
  planted="$file"
  result=""
  if ! msg=$(py apply "$id"); then
    planted=""
    result="DOES NOT APPLY ($msg)"
  elif ! nice -n 5 cmake --build "$build_dir" -j2 >"$log_dir/$id.build.log" 2>&1; then
    result="DOES NOT BUILD (see $log_dir/$id.build.log)"
  else
    mapfile -t failed < <(comm -23 <(run_suite "$log_dir/$id.ctest.log") \
      <(printf '%s\n' "${baseline[@]}" | sed '/^$/d' | sort -u))
    if [ ${#failed[@]} -eq 0 ]; then result="NOT CAUGHT"; else result=$(summarize "${failed[@]}"); fi
  fi
  restore
  took=$(( $(date +%s) - started ))
  case "$result" in NOT\ CAUGHT|DOES\ NOT*) bad=1 ;; esac
  rows+="| $id | $what (\`$file\`) | $result | $took |"$'\n'
  write_table
  printf '%-32s %4ds  %s\n' "$id" "$took" "$result"
done

# Everything the faults touched is back as it was.
if ! git diff --quiet -- src daemon cli metrics exporter include common; then
  echo "plant-faults: the tree differs from git after restoring!" >&2
  git diff --stat >&2
  exit 2
fi
total=$(( $(date +%s) - started_all ))
echo "plant-faults: ${#selected[@]} faults in ${total}s"
if [ -n "$out" ]; then
  { echo; echo "${#selected[@]} faults in ${total} s."; } >>"$out"
fi
exit $bad
