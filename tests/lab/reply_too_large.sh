#!/usr/bin/env bash
# A reply larger than the tool takes in one datagram is named as such, not
# reported as a reply the device did not send.
source "$(dirname "$0")/lib.sh"

start_sim "$OXLO_LAB_DEV_NS" dev --devices 1 --oversize 0x13
for command in "config get" export; do
  status=0
  if [ "$command" = export ]; then
    "$OXLO_CLI" export 02-00-00-00-00-01 "$work/settings.oxl" --timeout 0.5 2>"$work/err" || status=$?
    [ ! -e "$work/settings.oxl" ] || fail "export wrote a file"
  else
    "$OXLO_CLI" config get 02-00-00-00-00-01 --timeout 0.5 >/dev/null 2>"$work/err" || status=$?
  fi
  [ "$status" = 1 ] || fail "$command: exit $status"
  grep -qx "oxlo: 02-00-00-00-00-01 sent a reply larger than 8192 bytes" "$work/err" ||
    fail "$command said: $(cat "$work/err")"
done
