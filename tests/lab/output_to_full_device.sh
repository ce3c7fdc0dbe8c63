#!/usr/bin/env bash
# Output that cannot be written is a failure: with stdout on a full device,
# discover and config get end with exit 1 and say why on stderr.
source "$(dirname "$0")/lib.sh"

start_sim "$OXLO_LAB_DEV_NS" dev --devices 1
while read -r args; do
  # shellcheck disable=SC2086
  "$OXLO_CLI" $args >"$work/out" || fail "oxlo $args to a file: exit $?"
  [ -s "$work/out" ] || fail "oxlo $args printed nothing"
  status=0
  # shellcheck disable=SC2086
  "$OXLO_CLI" $args >/dev/full 2>"$work/err" || status=$?
  [ "$status" = 1 ] || fail "oxlo $args >/dev/full: exit $status"
  grep -qx "oxlo: cannot write the output: No space left on device" "$work/err" ||
    fail "oxlo $args >/dev/full said: $(cat "$work/err")"
done <<'CASES'
discover --timeout 0.5
discover --json --timeout 0.5
config get 02-00-00-00-00-01 --json --timeout 1
config get 02-00-00-00-00-01 --timeout 1
CASES
