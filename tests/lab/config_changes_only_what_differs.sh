#!/usr/bin/env bash
# config set and config apply send only the groups that differ, then the
# apply command; an unchanged document, a dry run and a refused value send
# no write at all; what they print meets the settings schema.
source "$(dirname "$0")/lib.sh"
here=$(dirname "$0")

start_sim "$OXLO_LAB_DEV_NS" dev --config "$here/settings_devices.json"
mac=$(json_query "$here/settings_devices.json" 'd[0]["mac"]')

"$OXLO_CLI" config get "$mac" --json >"$work/held.json" || fail "config get exited $?"
settings_valid "$work/held.json"

# change NAME ARGS...: runs config ARGS --json into $work/NAME.json.
change() {
  local name=$1 status=0; shift
  "$OXLO_CLI" config "$@" --json >"$work/$name.json" 2>"$work/$name.err" || status=$?
  [ "$status" = 0 ] || fail "config $* exited $status: $(cat "$work/$name.err")"
}
report() { json_query "$work/$1.json" "$2"; }

change same apply "$mac" "$work/held.json"
[ "$(report same '(d["changed"], d["diff"], d["verified"])')" = "(False, [], True)" ] ||
  fail "the unchanged document: $(cat "$work/same.json")"
[ "$(writes dev)" = "" ] || fail "the unchanged document wrote: $(writes dev)"

change dry set "$mac" port.local_port=4711 --dry-run
[ "$(report dry '([(c["key"], c["after"]) for c in d["diff"]], d["changed"])')" = "([('port.local_port', 4711)], False)" ] ||
  fail "dry run: $(cat "$work/dry.json")"
[ "$(writes dev)" = "" ] || fail "the dry run wrote: $(writes dev)"

status=0
"$OXLO_CLI" config set "$mac" can.id=FFFFFFFFF 2>"$work/bad.err" || status=$?
[ "$status" = 1 ] && [ "$(cat "$work/bad.err")" = "oxlo: can.id: Please Check CAN ID Fomat" ] ||
  fail "a bad identifier: exit $status, $(cat "$work/bad.err")"
[ "$(writes dev)" = "" ] || fail "a refused value wrote: $(writes dev)"

# One key: its group and the apply command, nothing else; then read back.
change one set "$mac" port.local_port=4711
[ "$(report one '(d["changed"], d["verified"])')" = "(True, True)" ] || fail "one key: $(cat "$work/one.json")"
[ "$(writes dev)" = "41x1 4Fx1" ] || fail "one key wrote: $(writes dev)"

# A partial document with a filter slot: that filter group only.
echo '{"filters": [{"group": 6, "slot": 3, "type": "Standard", "id": "7FF"}]}' >"$work/slot.json"
change partial apply "$mac" "$work/slot.json"
[ "$(writes dev)" = "06x1 41x2 4Fx1" ] || fail "the filter slot wrote: $(writes dev)"

# The first document again takes back both changes, and a second run changes nothing.
change back apply "$mac" "$work/held.json"
[ "$(report back '[c["key"] for c in d["diff"]]')" = "['port.local_port', 'filters.6.3.type', 'filters.6.3.id']" ] ||
  fail "back: $(cat "$work/back.json")"
change again apply "$mac" "$work/held.json"
[ "$(report again 'd["changed"]')" = False ] || fail "a second apply changed: $(cat "$work/again.json")"
"$OXLO_CLI" config get "$mac" --json >"$work/after.json"
settings_valid "$work/after.json"
cmp -s "$work/held.json" "$work/after.json" || fail "not as first read: $(diff "$work/held.json" "$work/after.json")"

# A settings file is a whole document: it takes back a change made since.
"$OXLO_CLI" export "$mac" "$work/held.oxl" >/dev/null || fail "export exited $?"
change renamed set "$mac" network.name=Elsewhere
change file apply "$mac" "$work/held.oxl"
[ "$(report file '[c["key"] for c in d["diff"]]')" = "['network.name']" ] ||
  fail "the settings file: $(cat "$work/file.json")"
