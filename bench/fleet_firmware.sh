#!/usr/bin/env bash
# Runs inside scripts/lab: `oxlo fleet firmware` of a 64 KiB image to 1, 50
# and 200 simulated devices, all at once (--parallel the device count, no
# canary). Each device holds every firmware reply 2 ms (flash writes), is back
# at once with version 2.0.0. Prints each run's time, the ratios against one
# device (goals: 50 at most 1.5 times, 200 at most 3 times), oxlo's peak
# memory (goal: under 64 MB) and whether every device was upgraded and
# confirmed and holds the image byte for byte. A missed goal is printed, not
# a failure. BENCH_FIRMWARE_SEARCH (default 1) is the search's seconds, the
# same for every size and part of each time; each run also shows its slowest
# device's own time, which leaves the search out.
set -euo pipefail
: "${OXLO_CLI:?}" "${OXLO_SIM:?}"
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

search=${BENCH_FIRMWARE_SEARCH:-1}
timer=()
if [ -x /usr/bin/time ]; then
  timer=(/usr/bin/time -v -o "$work/time")
else
  echo "bench: no /usr/bin/time (apt-get install time): peak memory not measured" >&2
fi

start_sim() {  # start_sim COUNT OUT_DIR
  mkdir -p "$2"
  ip netns exec "$OXLO_LAB_DEV_NS" "$OXLO_SIM" --devices "$1" --mac-base 02-00-00-00-00-00 \
    --flash-ms 2 --reboot-ms 0 --version-after 2.0.0 --firmware-out "$2" 2>"$work/sim.err" &
  pids+=($!)
  for _ in $(seq 200); do grep -q '^oxlo-sim:' "$work/sim.err" && return; sleep 0.05; done
  echo "bench: the simulator did not start: $(cat "$work/sim.err")" >&2
  exit 1
}
stop_sim() {
  kill "${pids[-1]}"
  wait "${pids[-1]}" 2>/dev/null || true
  unset 'pids[-1]'
}
inventory() {  # inventory FILE COUNT: the generated devices 1 to COUNT
  python3 - "$2" >"$1" <<'PY'
import sys
print("devices:")
for i in range(1, int(sys.argv[1]) + 1):
    print(f"  - mac: 02-00-00-{i >> 16 & 255:02X}-{i >> 8 & 255:02X}-{i & 255:02X}")
PY
}

head -c 65536 /dev/urandom >"$work/image.bin"
declare -A took memory
for n in 1 50 200; do
  out=$work/saved$n
  start_sim "$n" "$out"
  inventory "$work/fleet$n.yml" "$n"
  start=$(date +%s.%N)
  status=0
  "${timer[@]}" "$OXLO_CLI" fleet firmware "$work/fleet$n.yml" "$work/image.bin" --version 2.0.0 \
    --canary 0 --parallel "$n" --search-timeout "$search" --json >"$work/report$n.json" \
    2>"$work/err$n" || status=$?
  end=$(date +%s.%N)
  stop_sim
  took[$n]=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
  memory[$n]=""
  if [ -f "$work/time" ]; then
    memory[$n]=$(awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' "$work/time")
  fi
  rm -f "$work/time"
  confirmed=$(python3 - "$work/report$n.json" <<'PY' 2>/dev/null || echo "no report"
import json, sys
d = json.load(open(sys.argv[1]))["devices"]
ok = sum(1 for x in d if x["result"] == "upgraded" and x["version_after"] == "2.0.0")
slowest = max((x["seconds"] or 0 for x in d), default=0)
print(f"{ok} of {len(d)} upgraded and confirmed (the slowest {slowest:.2f} s from its first chunk)")
PY
)
  intact=0
  for i in $(seq "$n"); do
    mac=$(printf '02-00-00-%02X-%02X-%02X' $((i >> 16 & 255)) $((i >> 8 & 255)) $((i & 255)))
    cmp -s "$out/$mac.bin" "$work/image.bin" && intact=$((intact + 1))
  done
  echo "fleet firmware: $n device(s) ${took[$n]} s, exit $status, $confirmed, $intact of $n images intact, peak memory ${memory[$n]:-?} MB"
  [ "$status" = 0 ] || sed 's/^/  oxlo: /' "$work/err$n" | head -5
done

for pair in 50:1.5 200:3; do
  n=${pair%%:*} goal=${pair#*:}
  awk -v a="${took[$n]}" -v b="${took[1]}" -v n="$n" -v g="$goal" 'BEGIN {
    r = a / b
    printf "fleet firmware: %d devices at once %.2f times one device (goal: at most %s: %s)\n", n, r, g, r <= g ? "met" : "missed"
  }'
done
if [ ${#timer[@]} -gt 0 ]; then
  peak=$(printf '%s\n' "${memory[@]}" | sort -n | tail -1)
  awk -v m="$peak" 'BEGIN { printf "fleet firmware: oxlo peak memory %.1f MB (goal: under 64 MB: %s)\n", m, m < 64 ? "met" : "missed" }'
fi
