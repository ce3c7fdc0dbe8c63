#!/usr/bin/env bash
# A query to one address goes to that host only, whichever adapter leads there.
source "$(dirname "$0")/lib.sh"

start_sim "$OXLO_LAB_DEV_NS" dev --devices 1
start_sim "$OXLO_LAB_DEV2_NS" dev2 --devices 1 --mac-base 02-00-00-00-10-00
# The address as written, zero-padded, and with blanks around it.
asked=0
for ip in "$OXLO_LAB_DEV2_IP" 010.58.0.02 " 10.58.0.2 "; do
  "$OXLO_CLI" discover --ip "$ip" --json --timeout 1 >"$work/one.json" 2>"$work/err" ||
    fail "'$ip': exit $?: $(cat "$work/err")"
  [ "$(json_query "$work/one.json" 'len(d)')" = 1 ] || fail "'$ip': expected one device: $(cat "$work/one.json")"
  [ "$(json_query "$work/one.json" 'd[0]["mac"]')" = 02-00-00-00-10-01 ] || fail "'$ip': wrong device answered"
  asked=$((asked + 1))
  [ "$(log_lines dev2 0267 "$OXLO_LAB_HOST_IP2")" = "$asked" ] || fail "'$ip': dev2 did not get the query once"
done
[ "$(log_lines dev 0267)" = 0 ] || fail "the unicast query reached the other host"
