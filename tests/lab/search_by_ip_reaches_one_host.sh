#!/usr/bin/env bash
# A query to one address goes to that host only; a broadcast leaves by the
# default route only.
source "$(dirname "$0")/lib.sh"

start_sim "$OXLO_LAB_DEV_NS" dev --devices 1
start_sim "$OXLO_LAB_DEV2_NS" dev2 --devices 1 --mac-base 02-00-00-00-10-00
"$OXLO_CLI" discover --ip "$OXLO_LAB_DEV2_IP" --json --timeout 1 >"$work/one.json"
[ "$(json_query "$work/one.json" 'len(d)')" = 1 ] || fail "expected one device: $(cat "$work/one.json")"
[ "$(json_query "$work/one.json" 'd[0]["mac"]')" = 02-00-00-00-10-01 ] || fail "wrong device answered"
[ "$(log_lines dev2 0267 "$OXLO_LAB_HOST_IP2")" = 1 ] || fail "dev2 did not get the query once"
[ "$(log_lines dev 0267)" = 0 ] || fail "the unicast query reached the other host"
