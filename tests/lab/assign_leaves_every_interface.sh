#!/usr/bin/env bash
# The address assignment leaves once from each local address, and a device
# not among those answering makes --verify fail.
source "$(dirname "$0")/lib.sh"

start_sim "$OXLO_LAB_DEV_NS" dev --devices 1
start_sim "$OXLO_LAB_DEV2_NS" dev2 --devices 1 --mac-base 02-00-00-00-10-00
status=0
"$OXLO_CLI" assign 02-AA-BB-CC-DD-EE --ip 10.57.0.50 --mask 255.255.255.0 --gateway 10.57.0.1 \
  --name Nobody --verify --timeout 1 || status=$?
[ "$status" = 1 ] || fail "--verify of an absent device exited $status"
[ "$(log_lines dev 0253 "$OXLO_LAB_HOST_IP")" = 1 ] || fail "no 'S' from $OXLO_LAB_HOST_IP"
[ "$(log_lines dev2 0253 "$OXLO_LAB_HOST_IP2")" = 1 ] || fail "no 'S' from $OXLO_LAB_HOST_IP2"
[ "$(log_lines dev 0253)" = 1 ] && [ "$(log_lines dev2 0253)" = 1 ] || fail "an 'S' was sent twice"
