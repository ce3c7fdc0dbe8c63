#!/usr/bin/env bash
# Runs inside scripts/lab: N simulated devices answer one query at once.
# Prints how many `oxlo discover` listed and when the last reply arrived,
# next to the round trip of a bare UDP ping-pong over the same veth.
set -euo pipefail
: "${OXLO_CLI:?}" "${OXLO_SIM:?}" "${OXLO_PINGPONG:?}"
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

ip netns exec "$OXLO_LAB_DEV_NS" "$OXLO_PINGPONG" serve 4000 2>/dev/null &
pids+=($!)
sleep 0.2
"$OXLO_PINGPONG" ping "$OXLO_LAB_DEV_IP" 4000 1000

for n in ${BENCH_DEVICES:-1000 5000}; do
  ip netns exec "$OXLO_LAB_DEV_NS" "$OXLO_SIM" --devices "$n" 2>"$work/sim.err" &
  sim=$!
  pids+=($sim)
  for _ in $(seq 200); do grep -q '^oxlo-sim:' "$work/sim.err" && break; sleep 0.05; done
  "$OXLO_CLI" discover --json --stats --timeout 3 >"$work/found.json" 2>"$work/stats"
  listed=$(python3 -c "import json,sys; print(len({d['mac'] for d in json.load(open(sys.argv[1]))}))" "$work/found.json")
  echo "discovery: $n simulated, $listed listed; $(cat "$work/stats")"
  kill "$sim"; wait "$sim" 2>/dev/null || true
done
