#!/usr/bin/env bash
# `oxlo fleet apply` of a new name and local port to SOAK_FLEET_DEVICES
# (default 100) simulated devices, SOAK_FLEET_RUNS times (default 10), over a
# lossy link. Reads ask again for what did not answer, so with 2% of the
# replies lost a run should end with at most 5 devices failed; only a lost
# acknowledgement, never asked again, fails a device then. A device reported applied counts
# only when it holds the change, as read over the unimpaired link.
source "$(dirname "$0")/lib.sh"
devices=${SOAK_FLEET_DEVICES:-100}
fleet_runs=${SOAK_FLEET_RUNS:-10}
most_failed=$(((devices * 5 + 99) / 100))
start_sim "$OXLO_LAB_DEV_NS" dev --devices "$devices"

inventory() {  # inventory FILE RUN
  python3 - "$devices" "$2" >"$1" <<'PY'
import sys
count, run = int(sys.argv[1]), int(sys.argv[2])
print(f"defaults:\n  port: {{local_port: {4100 + run}}}\ndevices:")
for i in range(1, count + 1):
    print(f"  - mac: 02-00-00-{i >> 16 & 255:02X}-{i >> 8 & 255:02X}-{i & 255:02X}")
    print(f"    name: Soak {run}-{i}")
PY
}

verdict=0
failed_counts=()
for run in $(seq "$fleet_runs"); do
  inventory "$work/fleet.yaml" "$run"
  timed 600 "$work/out" "$work/err" "$OXLO_CLI" fleet apply "$work/fleet.yaml" \
    --report "$work/report.json"
  if [ ! -s "$work/report.json" ]; then
    echo "soak: run $run: no report (exit $status): $(tail -3 "$work/err")" >&2
    verdict=1
    continue
  fi
  clean_look "$OXLO_CLI" fleet inventory --json >"$work/held.json" \
    || { echo "soak: run $run: fleet inventory failed over the clean link" >&2; verdict=1; }
  result=$(python3 - "$work/report.json" "$work/held.json" "$run" <<'PY'
import json, sys
report, held, run = json.load(open(sys.argv[1])), json.load(open(sys.argv[2])), int(sys.argv[3])
by_mac = {d["mac"]: d for d in held}
false = 0
for i, d in enumerate(report["devices"], 1):
    if d["result"] != "applied":
        continue
    h = by_mac.get(d["mac"])
    s = h and h.get("settings")
    if not s or s["network"]["name"] != f"Soak {run}-{i}" or s["port"]["local_port"] != 4100 + run \
            or h["name"] != f"Soak {run}-{i}":
        false += 1
        print(f"soak: run {run}: {d['mac']} reported applied but does not show it", file=sys.stderr)
reasons = {}
for d in report["devices"]:
    if d["result"] == "failed":
        reason = d["error"].split(":")[0]
        reasons[reason] = reasons.get(reason, 0) + 1
print(report["failed"], false, "; ".join(f"{n} x {r}" for r, n in sorted(reasons.items())))
PY
)
  read -r failed false reasons <<<"$result"
  failed_counts+=("$failed")
  echo "  run $run: $failed failed${reasons:+ ($reasons)}"
  [ "$false" = 0 ] || verdict=1
  [ "$failed" -le "$most_failed" ] || verdict=1
done
worst=$(printf '%s\n' "${failed_counts[@]}" | sort -n | tail -1)
echo "fleet apply of $devices devices under $OXLO_LAB_IMPAIR: $fleet_runs runs, failed per run:" \
  "${failed_counts[*]} (at most $worst; goal: at most $most_failed)," \
  "median $(sort -n "$work/times" | awk '{ t[NR] = $1 } END { printf "%.1f", t[int((NR + 1) / 2)] }') s"
exit "$verdict"
