#!/usr/bin/env bash
# Runs inside scripts/lab: the device list window uploads an image to one
# simulated device, once on the bare veth and once with what the device side
# sends (its replies) held BENCH_DELAY_US (default 1000) microseconds longer:
# by netem on the device's veth, or, where the kernel has no netem, by
# nfqueue_delay fed from an iptables rule on the same veth.
# Before each upload a bare UDP ping-pong over the same veth, under the same
# delay, gives the round trip the window's time is set against; after it the
# same upload from a plain blocking socket shows what the device side costs.
# On the bare veth BENCH_TURNS (default 5) more turns of both give the median
# ratio of the window to the plain socket.
set -euo pipefail
: "${OXLO_SIM:?}" "${OXLO_PINGPONG:?}" "${OXLO_UI_FIRMWARE:?}" "${OXLO_FIRMWARE_BARE:?}" "${OXLO_NFQUEUE_DELAY:?}"
size=${BENCH_FIRMWARE_BYTES:-1048576}
delay_us=${BENCH_DELAY_US:-1000}
queue=57
work=$(mktemp -d)
pids=()
devif=$(ip -n "$OXLO_LAB_DEV_NS" -o link | awk -F': ' '$2 != "lo" { sub(/@.*/, "", $2); print $2; exit }')
# With two CPUs the device side keeps to one and the tool side to the other:
# where the scheduler happens to put each blurs the comparison by a third.
device_cpu=()
tool_cpu=()
if [ "$(nproc)" -ge 2 ] && command -v taskset >/dev/null; then
  device_cpu=(taskset -c 1)
  tool_cpu=(taskset -c 0)
fi
in_dev() { ip netns exec "$OXLO_LAB_DEV_NS" "${device_cpu[@]}" "$@"; }
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

wait_for() {  # wait_for FILE TEXT
  for _ in $(seq 100); do grep -q "$2" "$1" && return 0; sleep 0.05; done
  cat "$1" >&2
  return 1
}

# Sets $how to what holds the device side's packets; fails when nothing can.
delay_on() {
  if in_dev tc qdisc add dev "$devif" root netem delay "${delay_us}us" 2>/dev/null; then
    how="netem on $devif"
    return 0
  fi
  if ! command -v iptables >/dev/null; then
    echo "bench: no netem in this kernel and no iptables (apt-get install iptables): skipping the delayed upload" >&2
    return 1
  fi
  in_dev "$OXLO_NFQUEUE_DELAY" "$queue" "$delay_us" 2>"$work/delay.err" &
  delayer=$!
  pids+=("$delayer")
  wait_for "$work/delay.err" '^nfqueue_delay: ready' || return 1
  in_dev iptables -A OUTPUT -o "$devif" -p udp -j NFQUEUE --queue-num "$queue"
  how="nfqueue_delay on $devif (no netem in this kernel)"
}

delay_off() {
  if [ -n "${delayer:-}" ]; then
    in_dev iptables -D OUTPUT -o "$devif" -p udp -j NFQUEUE --queue-num "$queue"
    kill "$delayer"
  else
    in_dev tc qdisc del dev "$devif" root
  fi
}

in_dev "$OXLO_PINGPONG" serve 4000 2>/dev/null &
pids+=($!)
in_dev "$OXLO_SIM" --devices 1 --mac-base 02-00-00-00-00-00 --firmware-out "$work/firmware" 2>"$work/sim.err" &
pids+=($!)
wait_for "$work/sim.err" '^oxlo-sim:' || { echo "bench: oxlo-sim did not start" >&2; exit 1; }

ms_of() {  # ms_of FILE: the upload's time from either program's first line
  sed -n 's/.* messages sent .* in \([0-9]*\) ms,.*/\1/p; s/.* messages in \([0-9]*\) ms,.*/\1/p' "$1" | head -1
}

ratio_line() {  # ratio_line LABEL WINDOW_MS PLAIN_MS: prints the ratio, or nothing
  [ -n "$2" ] && [ -n "$3" ] && [ "$3" -gt 0 ] || return 0
  awk -v u="$2" -v b="$3" -v l="$1" \
    'BEGIN { printf "firmware (%s): window %d ms, plain socket %d ms: %.2f times\n", l, u, b, u / b }'
}

# run LABEL ROUNDS: the ping-pong floor, the window's upload with its waits
# probed, the plain socket's, then ROUNDS more turns of the window (unprobed:
# no clock read per message) and the plain socket, whose median ratio is
# what the window itself costs.
run() {
  local ping rtt ratios=()
  ping=$("${tool_cpu[@]}" "$OXLO_PINGPONG" ping "$OXLO_LAB_DEV_IP" 4000 1000)
  echo "$ping ($1)"
  rtt=$(sed -n 's/.*median \([0-9.]*\) us.*/\1/p' <<<"$ping")
  "${tool_cpu[@]}" "$OXLO_UI_FIRMWARE" --firmware-out "$work/firmware" --size "$size" --rtt-us "$rtt" --label "$1" \
    | tee "$work/ui.out" || true
  "${tool_cpu[@]}" "$OXLO_FIRMWARE_BARE" --size "$size" --mac 02-00-00-00-00-01 --label "$1" | tee "$work/bare.out" || true
  ratio_line "$1" "$(ms_of "$work/ui.out")" "$(ms_of "$work/bare.out")" | tee -a "$work/ratios"
  for round in $(seq "$2"); do
    "${tool_cpu[@]}" "$OXLO_UI_FIRMWARE" --firmware-out "$work/firmware" --size "$size" --label "$1" \
      --no-probe >"$work/ui.out" || true
    "${tool_cpu[@]}" "$OXLO_FIRMWARE_BARE" --size "$size" --mac 02-00-00-00-00-01 --label "$1" \
      >"$work/bare.out" || true
    ratio_line "$1, turn $round" "$(ms_of "$work/ui.out")" "$(ms_of "$work/bare.out")" \
      | tee -a "$work/ratios"
  done
  if [ "$2" -gt 0 ]; then
    grep -F "firmware ($1, turn" "$work/ratios" | sed -n 's/.*: \([0-9.]*\) times$/\1/p' | sort -n \
      | awk -v l="$1" -v n="$2" '{ r[NR] = $1 } END { if (NR) printf "firmware (%s): window against plain socket, median of %d turns: %.2f times (goal 1.2: %s)\n", l, n, r[int((NR + 1) / 2)], r[int((NR + 1) / 2)] <= 1.2 ? "met" : "missed" }'
  fi
}

run "no delay" "${BENCH_TURNS:-5}"
if delay_on; then
  echo "firmware: what the device side sends held ${delay_us} us longer by $how"
  run "delay ${delay_us} us" 0
  delay_off
fi
