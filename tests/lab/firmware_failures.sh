#!/usr/bin/env bash
# A device that never answers fails the upload after the shortened waits;
# a device that refuses a chunk or the end message fails it at once.
source "$(dirname "$0")/lib.sh"

start_sim "$OXLO_LAB_DEV_NS" dev --devices 1 --silent F
start_sim "$OXLO_LAB_DEV2_NS" dev2 --devices 1 --mac-base 02-00-00-00-10-00 --reject-firmware-at 3
head -c 300 /dev/urandom >"$work/300.bin"
head -c 600 /dev/urandom >"$work/600.bin"
: >"$work/0.bin"

while read -r mac size reason; do
  status=0
  "$OXLO_CLI" firmware "$mac" "$work/$size.bin" --data-timeout 300 --end-timeout 300 \
    >/dev/null 2>"$work/err" || status=$?
  [ "$status" = 1 ] || fail "$mac, $size bytes: exit $status"
  grep -qx "oxlo: Updating firmware was failed: $reason" "$work/err" ||
    fail "$mac, $size bytes: $(cat "$work/err")"
done <<'CASES'
02-00-00-00-00-01 300 no reply to chunk 0 within 300 ms
02-00-00-00-00-01 0 no reply to the end message within 300 ms
02-00-00-00-10-01 300 the device refused the end message
02-00-00-00-10-01 600 the device refused chunk 3
CASES
[ "$(log_lines dev 0246020000000001)" = 2 ] || fail "the silent device got $(log_lines dev 0246020000000001) messages, not 2"
