#!/usr/bin/env bash
# A fleet of twenty devices and one that never answers: the run names
# exactly that one as failed and applies the rest, each with only the groups
# its change needs; a second run changes nothing; a dry run sends no write;
# the inventory reads every device.
source "$(dirname "$0")/lib.sh"

start_sim "$OXLO_LAB_DEV_NS" dev --devices 20
silent=02-00-00-00-00-99
# inventory FILE LOCAL_PORT: every device named and addressed, the port shared.
inventory() {
  python3 - "$2" >"$1" <<'PY'
import sys
print(f"""# Hall 2, line network A
defaults:
  port: {{mode: TCP_Server, local_port: {sys.argv[1]}}}
  can:
    bitrate_kbps: 250
devices:""")
for i in range(1, 21):
    print(f"""  - mac: 02-00-00-00-00-{i:02X}
    name: "Line {i}"
    ip: 10.57.0.{100 + i}
    mask: 255.255.255.0
    gateway: 10.57.0.1""")
print("""    settings:
      can: {bitrate_kbps: 500}
  - mac: 02-00-00-00-00-99
    name: Silent""")
PY
}
inventory "$work/hall.yaml" 4100

# run NAME ARGS...: fleet apply ARGS with its report in $work/NAME.json; prints the exit status.
run() {
  local name=$1 status=0; shift
  "$OXLO_CLI" fleet apply "$@" --search-timeout 1 --report "$work/$name.json" \
    >"$work/$name.out" 2>"$work/$name.err" || status=$?
  echo "$status"
}
tally() { json_query "$work/$1.json" '(d["applied"], d["unchanged"], d["would_change"], d["failed"])'; }

[ "$(run first "$work/hall.yaml")" = 1 ] || fail "a silent device did not fail the run"
[ "$(cat "$work/first.err")" = "oxlo: $silent: did not answer the read requests" ] ||
  fail "failures named: $(cat "$work/first.err")"
[ "$(tally first)" = "(20, 0, 0, 1)" ] || fail "first run: $(tally first)"
grep -q "^$silent  *Silent  *failed  *did not answer" "$work/first.out" || fail "the table: $(cat "$work/first.out")"
# The last device keeps its bit rate: its CAN group does not go.
[ "$(writes dev)" = "41x20 43x19 4Ex20 4Fx20" ] || fail "first run wrote: $(writes dev)"

[ "$(run second "$work/hall.yaml")" = 1 ] || fail "the second run did not fail on the silent device"
[ "$(tally second)" = "(0, 20, 0, 1)" ] || fail "second run: $(tally second)"
[ "$(writes dev)" = "41x20 43x19 4Ex20 4Fx20" ] || fail "the second run wrote: $(writes dev)"

inventory "$work/moved.yaml" 4200
[ "$(run dry "$work/moved.yaml" --dry-run)" = 1 ] || fail "dry run"
[ "$(tally dry)" = "(0, 0, 20, 1)" ] || fail "dry run: $(tally dry)"
[ "$(json_query "$work/dry.json" 'd["devices"][0]["diff"]')" = "[{'key': 'port.local_port', 'before': 4100, 'after': 4200}]" ] ||
  fail "dry run diff: $(json_query "$work/dry.json" 'd["devices"][0]')"
[ "$(writes dev)" = "41x20 43x19 4Ex20 4Fx20" ] || fail "the dry run wrote: $(writes dev)"

# The same inventory through a pipe: "-" is standard input.
status=0
"$OXLO_CLI" fleet apply - --dry-run --search-timeout 1 --json <"$work/moved.yaml" >"$work/piped.json" 2>/dev/null || status=$?
[ "$status" = 1 ] || fail "a piped dry run exited $status"
[ "$(tally piped)" = "(0, 0, 20, 1)" ] || fail "piped dry run: $(tally piped)"

# An unknown key is refused before anything is sent.
printf 'devices:\n  - mac: 02-00-00-00-00-01\n    settings: {port: {speed: 9600}}\n' >"$work/bad.yaml"
[ "$(run bad "$work/bad.yaml")" = 2 ] || fail "a bad inventory was not bad usage"
grep -q "02-00-00-00-00-01: port.speed: unknown key" "$work/bad.err" || fail "$(cat "$work/bad.err")"

"$OXLO_CLI" fleet inventory --json --search-timeout 1 >"$work/all.json" || fail "inventory exited $?"
[ "$(json_query "$work/all.json" 'sorted({x["mac"] for x in d if x["settings"]}) == sorted("02-00-00-00-00-%02X" % i for i in range(1, 21))')" = True ] ||
  fail "the inventory misses devices"
json_query "$work/all.json" '"\n".join(json.dumps(x["settings"]) for x in d)' | while read -r doc; do
  echo "$doc" >"$work/one.json"
  settings_valid "$work/one.json"
done
[ "$(json_query "$work/all.json" '[x["settings"]["network"]["name"] for x in d if x["mac"] == "02-00-00-00-00-14"][0]')" = "Line 20" ] ||
  fail "not as applied"
"$OXLO_CLI" fleet inventory --csv --search-timeout 1 >"$work/all.csv" || fail "csv exited $?"
[ "$(wc -l <"$work/all.csv")" = 21 ] || fail "csv rows: $(wc -l <"$work/all.csv")"
