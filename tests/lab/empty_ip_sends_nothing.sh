#!/usr/bin/env bash
# An empty --ip is bad usage: nothing is sent, where a missing --ip would
# broadcast.
source "$(dirname "$0")/lib.sh"

start_sim "$OXLO_LAB_DEV_NS" dev --devices 1
status=0
"$OXLO_CLI" discover --ip "" --timeout 0.5 >/dev/null 2>"$work/err" || status=$?
[ "$status" = 2 ] || fail "discover --ip '': exit $status"
grep -qx "oxlo: --ip: '' is not a device address" "$work/err" || fail "said: $(cat "$work/err")"
"$OXLO_CLI" discover --ip "$OXLO_LAB_DEV_IP" --timeout 0.5 | grep -q 02-00-00-00-00-01 ||
  fail "discover --ip $OXLO_LAB_DEV_IP found nothing"
queries=$(log_lines dev 0267 "$OXLO_LAB_HOST_IP")
[ "$queries" = 1 ] || fail "the simulator received $queries queries, want 1"
