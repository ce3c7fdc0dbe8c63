#!/usr/bin/env bash
# Runs inside scripts/lab: `oxlo fleet apply` of one change to N simulated
# devices (BENCH_FLEET, default 200) against the same change to one device,
# and `oxlo fleet inventory` of BENCH_FLEET_INVENTORY (default 1000) devices.
# Prints the times, their ratio with the goal (at most 3) and whether every
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

m=${BENCH_FLEET_INVENTORY:-1000}
start_sim "$m"
read_time=$(seconds sh -c '"$0" fleet inventory --json --search-timeout 3 >"$1"' "$OXLO_CLI" "$work/inventory.json")
read_count=$(python3 -c 'import json,sys; print(sum(1 for x in json.load(open(sys.argv[1])) if x["settings"]))' "$work/inventory.json")
echo "fleet inventory: $m simulated, $read_count read with their settings (${read_time} s)"
