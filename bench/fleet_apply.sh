#!/usr/bin/env bash
# Runs inside scripts/lab: `oxlo fleet apply` of one change to N simulated
# devices (BENCH_FLEET, default 200) against the same change to one device,
# and `oxlo fleet inventory` of BENCH_FLEET_INVENTORY (default 1000) devices;
# then one change to BENCH_FLEET_THREADS (default 500) devices with the
# threads of the process sampled from /proc during the run, and the same run
# by BENCH_BASELINE_CLI (another build of oxlo) when given.
# Prints the times, their ratios with the goals (at most 3 times one device;
# at most 4 threads; at most 1.2 times the baseline) and whether every
# device was applied, verified and read.
set -euo pipefail
: "${OXLO_CLI:?}" "${OXLO_SIM:?}"
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

start_sim() {  # start_sim COUNT
  ip netns exec "$OXLO_LAB_DEV_NS" "$OXLO_SIM" --devices "$1" 2>"$work/sim.err" &
  pids+=($!)
  for _ in $(seq 200); do grep -q '^oxlo-sim:' "$work/sim.err" && return; sleep 0.05; done
  echo "bench: the simulator did not start" >&2
  exit 1
}
inventory() {  # inventory FILE COUNT LOCAL_PORT
  python3 - "$2" "$3" >"$1" <<'PY'
import sys
count, port = int(sys.argv[1]), sys.argv[2]
print(f"defaults:\n  port: {{local_port: {port}}}\ndevices:")
for i in range(1, count + 1):
    print(f"  - mac: 02-00-00-{i >> 16 & 255:02X}-{i >> 8 & 255:02X}-{i & 255:02X}")
PY
}
seconds() {  # seconds COMMAND...: runs it, prints its wall time
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}

n=${BENCH_FLEET:-200}
start_sim "$n"
inventory "$work/one.yaml" 1 4101
inventory "$work/all.yaml" "$n" 4101
"$OXLO_CLI" fleet apply "$work/all.yaml" >/dev/null 2>&1 || true  # warm: every device at 4101
inventory "$work/one.yaml" 1 4103
one=$(seconds "$OXLO_CLI" fleet apply "$work/one.yaml")
inventory "$work/all.yaml" "$n" 4102
all=$(seconds "$OXLO_CLI" fleet apply "$work/all.yaml" --report "$work/report.json" ${BENCH_FLEET_ARGS:-})
outcome=$(python3 - "$work/report.json" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
ok = sum(1 for x in d["devices"] if x["result"] == "applied" and x["verified"])
print(f"{ok} of {len(d['devices'])} applied and verified, {d['failed']} failed")
PY
)
ratio=$(awk -v a="$all" -v b="$one" 'BEGIN { printf "%.2f", a / b }')
echo "fleet apply: one device ${one} s, $n devices ${all} s ($outcome): ${ratio} times one (goal: at most 3)"
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true

# timed_apply CLI FILE: the run's wall time and the most threads it had.
timed_apply() {
  local start end pid most=0 now
  start=$(date +%s.%N)
  "$1" fleet apply "$2" --report "$work/report.json" >/dev/null 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    now=$(awk '/^Threads:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
    [ "${now:-0}" -gt "$most" ] && most=$now
    sleep 0.02
  done
  wait "$pid" || true
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" -v t="$most" 'BEGIN { printf "%.2f %d\n", b - a, t }'
}
verified() {
  python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(sum(1 for x in d["devices"] if x["verified"]))' "$work/report.json"
}
k=${BENCH_FLEET_THREADS:-500}
start_sim "$k"
inventory "$work/many.yaml" "$k" 4201
"$OXLO_CLI" fleet apply "$work/many.yaml" >/dev/null 2>&1 || true  # warm
inventory "$work/many.yaml" "$k" 4202
read -r mine threads < <(timed_apply "$OXLO_CLI" "$work/many.yaml")
echo "fleet apply: $k devices ${mine} s, $(verified) verified, at most $threads threads (goal: at most 4)"
if [ -n "${BENCH_BASELINE_CLI:-}" ]; then
  inventory "$work/many.yaml" "$k" 4203
  read -r base base_threads < <(timed_apply "$BENCH_BASELINE_CLI" "$work/many.yaml")
  inventory "$work/many.yaml" "$k" 4204
  read -r mine threads < <(timed_apply "$OXLO_CLI" "$work/many.yaml")
  echo "fleet apply: $k devices ${mine} s against the baseline's ${base} s with $base_threads threads:" \
    "$(awk -v a="$mine" -v b="$base" 'BEGIN { printf "%.2f", a / b }') times (goal: at most 1.2)"
fi
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true

m=${BENCH_FLEET_INVENTORY:-1000}
start_sim "$m"
read_time=$(seconds sh -c '"$0" fleet inventory --json --search-timeout 3 >"$1"' "$OXLO_CLI" "$work/inventory.json")
read_count=$(python3 -c 'import json,sys; print(sum(1 for x in json.load(open(sys.argv[1])) if x["settings"]))' "$work/inventory.json")
echo "fleet inventory: $m simulated, $read_count read with their settings (${read_time} s)"
