#!/usr/bin/env bash
# A device that does not answer every read request: config get and export
# fail naming what is missing, and export leaves the existing file as it
# was. An import nobody acknowledges fails.
source "$(dirname "$0")/lib.sh"

start_sim "$OXLO_LAB_DEV_NS" dev --devices 1 --silent 0x13
mkdir "$work/out"
printf 'kept as it was\n' >"$work/out/settings.oxl"
cp "$work/out/settings.oxl" "$work/kept"

while read -r mac missing; do
  for command in "config get" export; do
    status=0
    if [ "$command" = export ]; then
      "$OXLO_CLI" export "$mac" "$work/out/settings.oxl" --timeout 0.5 2>"$work/err" || status=$?
    else
      "$OXLO_CLI" config get "$mac" --timeout 0.5 >/dev/null 2>"$work/err" || status=$?
    fi
    [ "$status" = 1 ] || fail "$command $mac: exit $status"
    grep -q "$missing" "$work/err" || fail "$command $mac: $(cat "$work/err")"
  done
  cmp -s "$work/out/settings.oxl" "$work/kept" || fail "export $mac changed the file"
  [ "$(ls -A "$work/out")" = settings.oxl ] || fail "export $mac left $(ls -A "$work/out")"
done <<'CASES'
02-AA-BB-CC-DD-EE did not answer the read requests
02-00-00-00-00-01 did not send: filter group 3$
CASES

# Every byte zero but the CAN ID format (A) is a usable file; no device has
# this MAC to acknowledge it.
head -c 429 /dev/zero >"$work/zeros.oxl"
printf '\001' | dd of="$work/zeros.oxl" bs=1 seek=131 conv=notrunc status=none
status=0
"$OXLO_CLI" import 02-AA-BB-CC-DD-EE "$work/zeros.oxl" --timeout 0.5 2>"$work/err" || status=$?
[ "$status" = 1 ] || fail "unacknowledged import: exit $status"
grep -qx "oxlo: Connection Lost. Please try again." "$work/err" || fail "import: $(cat "$work/err")"
