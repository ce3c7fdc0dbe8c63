#!/usr/bin/env bash
# With a second local address on the device's network every firmware message
# reaches the device twice; one that refuses the copies still gets the whole
# image. Replies cut before their status byte fail the upload, whatever
# their echo reads.
source "$(dirname "$0")/lib.sh"

second_ip=10.57.0.3
host_if=$(ip -o -4 addr show | awk -v ip="$OXLO_LAB_HOST_IP/" 'index($4, ip) == 1 {print $2}')
[ -n "$host_if" ] || fail "no interface holds $OXLO_LAB_HOST_IP"
ip addr add "$second_ip/24" dev "$host_if"

mkdir "$work/saved"
start_sim "$OXLO_LAB_DEV_NS" dev --devices 1 --firmware-out "$work/saved" --reject-repeats
start_sim "$OXLO_LAB_DEV2_NS" dev2 --devices 1 --mac-base 02-00-00-00-10-00 \
  --cut-firmware-replies 10 --cut-firmware-replies-from 10

# 64 KiB: 512 chunks and the end message, so the refusals of the copies
# arrive while the next message waits for its reply.
mac=02-00-00-00-00-01
head -c 65536 /dev/urandom >"$work/image.bin"
"$OXLO_CLI" firmware "$mac" "$work/image.bin" >"$work/out" 2>"$work/err" ||
  fail "two copies of each message: exit $?: $(cat "$work/err")"
grep -qx "Updating firmware was successful (not confirmed: give --version to wait for the device to report it)" "$work/out" || fail "$(cat "$work/out")"
cmp "$work/saved/$mac.bin" "$work/image.bin" || fail "the saved image differs"
for source in "$OXLO_LAB_HOST_IP" "$second_ip"; do
  [ "$(log_lines dev 0246 "$source")" = 513 ] ||
    fail "$(log_lines dev 0246 "$source") messages from $source, not 513"
done

# Chunks 0 to 9 are answered in full; the reply to chunk 10 reads "1" and ends.
head -c 2000 /dev/urandom >"$work/2000.bin"
status=0
"$OXLO_CLI" firmware 02-00-00-00-10-01 "$work/2000.bin" >/dev/null 2>"$work/err" || status=$?
[ "$status" = 1 ] || fail "cut replies: exit $status"
grep -qx "oxlo: Updating firmware was failed: the reply to chunk 10 ends before its status" \
  "$work/err" || fail "cut replies: $(cat "$work/err")"
[ "$(log_lines dev2 0246020000001001)" = 11 ] || fail "sent on after a cut reply"
