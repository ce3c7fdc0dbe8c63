#!/usr/bin/env bash
# A second search while port 2057 is held ends with exit code 1 and the bind error.
source "$(dirname "$0")/lib.sh"

"$OXLO_CLI" discover --timeout 3 >/dev/null &
holder=$!
sleep 0.5
status=0
"$OXLO_CLI" discover --timeout 1 2>"$work/err" || status=$?
wait "$holder"
[ "$status" = 1 ] || fail "exit code $status"
grep -qx "oxlo: Could not bind socket. Address and port are already in use." "$work/err" ||
  fail "stderr: $(cat "$work/err")"
