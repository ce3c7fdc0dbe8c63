#!/usr/bin/env bash
# Runs inside scripts/lab: the device list window uploads an image to one
# simulated device, once on the bare veth and once with what the device side
# sends (its replies) held BENCH_DELAY_US (default 1000) microseconds longer:
# by netem on the device's veth, or, where the kernel has no netem, by
# nfqueue_delay fed from an iptables rule on the same veth.
# Before each upload a bare UDP ping-pong over the same veth, under the same
# delay, gives the round trip the window's time is set against; after it the
# same upload from a plain blocking socket shows what the device side costs.
set -euo pipefail
: "${OXLO_SIM:?}" "${OXLO_PINGPONG:?}" "${OXLO_UI_FIRMWARE:?}" "${OXLO_FIRMWARE_BARE:?}" "${OXLO_NFQUEUE_DELAY:?}"
size=${BENCH_FIRMWARE_BYTES:-1048576}
delay_us=${BENCH_DELAY_US:-1000}
queue=57
work=$(mktemp -d)
pids=()
devif=$(ip -n "$OXLO_LAB_DEV_NS" -o link | awk -F': ' '$2 != "lo" { sub(/@.*/, "", $2); print $2; exit }')
in_dev() { ip netns exec "$OXLO_LAB_DEV_NS" "$@"; }
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

run() {  # run LABEL
  local ping rtt
  ping=$("$OXLO_PINGPONG" ping "$OXLO_LAB_DEV_IP" 4000 1000)
  echo "$ping ($1)"
  rtt=$(sed -n 's/.*median \([0-9.]*\) us.*/\1/p' <<<"$ping")
  "$OXLO_UI_FIRMWARE" --firmware-out "$work/firmware" --size "$size" --rtt-us "$rtt" --label "$1" \
    | tee "$work/ui.out" || true
  "$OXLO_FIRMWARE_BARE" --size "$size" --mac 02-00-00-00-00-01 --label "$1" | tee "$work/bare.out" || true
  # The window against the plain socket's loop: what the window itself costs.
  local ui_ms bare_ms
  ui_ms=$(sed -n 's/.* messages sent .* in \([0-9]*\) ms,.*/\1/p' "$work/ui.out" | head -1)
  bare_ms=$(sed -n 's/.* messages in \([0-9]*\) ms,.*/\1/p' "$work/bare.out" | head -1)
  if [ -n "$ui_ms" ] && [ -n "$bare_ms" ] && [ "$bare_ms" -gt 0 ]; then
    awk -v u="$ui_ms" -v b="$bare_ms" -v l="$1" \
      'BEGIN { printf "firmware (%s): window %d ms, plain socket %d ms: %.2f times\n", l, u, b, u / b }'
  fi
}

run "no delay"
if delay_on; then
  echo "firmware: what the device side sends held ${delay_us} us longer by $how"
  run "delay ${delay_us} us"
  delay_off
fi
