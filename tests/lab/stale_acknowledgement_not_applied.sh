#!/usr/bin/env bash
# The device loses an apply command, and a late copy of an acknowledgement
# it sent earlier arrives in its place: the settings are stored but not in
# use. The read-back shows what is stored, so only the discovery reply tells;
# import and config set of a name exit 1 and say so.
source "$(dirname "$0")/lib.sh"
here=$(dirname "$0")
source_mac=02-00-5E-00-01-01
target_mac=02-00-5E-00-01-02

shown_name() {
  "$OXLO_CLI" discover --json >"$work/found.json" || fail "discover exited $?"
  json_query "$work/found.json" "[x['name'] for x in d if x['mac'] == '$target_mac'][0]"
}

# The second apply command the device gets is lost.
start_sim "$OXLO_LAB_DEV_NS" dev --config "$here/settings_devices.json" --lose-apply 2
"$OXLO_CLI" export "$source_mac" "$work/source.oxl" >/dev/null || fail "export exited $?"
"$OXLO_CLI" config set "$target_mac" network.name=First >/dev/null || fail "first config set exited $?"
status=0
"$OXLO_CLI" import "$target_mac" "$work/source.oxl" --timeout 2 >"$work/out" 2>"$work/err" || status=$?
[ "$status" = 1 ] || fail "import after a lost apply command: exit $status, $(cat "$work/out" "$work/err")"
grep -qxF "oxlo: $target_mac stored but not applied: name" "$work/err" || fail "import said: $(cat "$work/err")"
[ ! -s "$work/out" ] || fail "a success was printed: $(cat "$work/out")"
[ "$(shown_name)" = First ] || fail "the device shows another name than First"

# Once more with config set, after a restart that loses the first apply.
kill "${sim_pids[-1]}"
wait "${sim_pids[-1]}" 2>/dev/null || true
start_sim "$OXLO_LAB_DEV_NS" dev2 --config "$here/settings_devices.json" --lose-apply 1
status=0
"$OXLO_CLI" config set "$target_mac" network.name=Second --json >"$work/out" 2>"$work/err" || status=$?
[ "$status" = 1 ] || fail "config set after a lost apply command: exit $status, $(cat "$work/out" "$work/err")"
grep -qxF "oxlo: $target_mac stored but not applied: name" "$work/err" || fail "config set said: $(cat "$work/err")"
[ "$(json_query "$work/out" "d['verified'], d['not_applied']")" = "False ['name']" ] \
  || fail "config set --json printed: $(cat "$work/out")"
# Nothing was repeated: one settings message and one apply command.
[ "$(writes dev2)" = "41x1 4Ex1" ] || fail "the device got: $(writes dev2)"
# With the apply command through, the same change is applied and confirmed.
"$OXLO_CLI" config set "$target_mac" network.name=Third >"$work/out" || fail "config set exited $?"
[ "$(shown_name)" = Third ] || fail "the device shows another name than Third"
