#!/usr/bin/env bash
# A firmware upgrade of SIZE bytes, SOAK_RUNS times, through the command line
# (oxlo firmware) or the device list window (FRONT window). Each run sends a
# new image; a reported success counts only when the simulator saved exactly
# that image, a failure only with its message, within its time limit and, in
# the window, with the window usable again.
#   firmware.sh SIZE [cli|window]
source "$(dirname "$0")/lib.sh"
size=${1:?SIZE}
front=${2:-cli}
mac=02-00-00-00-00-01
data_ms=${SOAK_DATA_MS:-1000}
end_ms=${SOAK_END_MS:-3000}
# Every message answered at the slowest the impairment allows, with room.
limit=$((end_ms / 1000 + data_ms / 1000 + 60))

mkdir "$work/saved"
start_sim "$OXLO_LAB_DEV_NS" dev --devices 1 --firmware-out "$work/saved"
[ "$front" = cli ] || : "${OXLO_SOAK_WINDOW:?}"

for run in $(seq "$runs"); do
  head -c "$size" /dev/urandom >"$work/image.bin"
  rm -f "$work/saved/$mac.bin"
  if [ "$front" = cli ]; then
    timed "$limit" "$work/out" "$work/err" "$OXLO_CLI" firmware "$mac" "$work/image.bin" \
      --data-timeout "$data_ms" --end-timeout "$end_ms"
    success=$(grep -cx "Updating firmware was successful (not confirmed: give --version to wait for the device to report it)" "$work/out" || true)
    message=$(grep -m1 '^oxlo: ' "$work/err" || true)
    restored=yes
  else
    timed "$limit" "$work/out" "$work/err" "$OXLO_SOAK_WINDOW" firmware "$work/image.bin" \
      --data-ms "$data_ms" --end-ms "$end_ms"
    if [ "$status" = 3 ]; then
      not_started "$(sed -n 's/^not started: //p' "$work/out")"
      continue
    fi
    success=$(grep -cx "said: Updating firmware was successful" "$work/out" || true)
    message=$(sed -n 's/^said: \(..*\)/\1/p' "$work/out")
    restored=$(sed -n 's/^restored: //p' "$work/out")
  fi
  sleep "$drain_s"  # a copy of the end message may still be on its way
  if [ "$status" = 0 ] && [ "$success" = 1 ]; then
    if cmp -s "$work/saved/$mac.bin" "$work/image.bin"; then
      verified
    elif [ -e "$work/saved/$mac.bin" ]; then
      false_success "$run" "the device saved another image"
    else
      false_success "$run" "the device saved no image"
    fi
  elif [ "$status" = 124 ] || [ "$status" = 137 ]; then
    failed_badly "$run" "still running after $limit s"
  elif [ "$status" = 0 ] || [ "$success" = 1 ]; then
    failed_badly "$run" "exit $status with: $(cat "$work/out" "$work/err")"
  elif [ -z "$message" ]; then
    failed_badly "$run" "exit $status without a message: $(cat "$work/out" "$work/err")"
  elif [ "$restored" != yes ]; then
    failed_badly "$run" "the window was left unusable after: $message"
  else
    failed_cleanly "$(reason_of <(echo "$message"))"
  fi
done

label="firmware $size bytes"
[ $((size % 1024)) != 0 ] || label="firmware $((size / 1024)) KiB"
summary "$label ($([ "$front" = cli ] && echo "oxlo firmware" || echo "window's Upgrade Firmware"))"
