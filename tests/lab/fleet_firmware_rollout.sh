#!/usr/bin/env bash
# oxlo fleet firmware against seven devices: three come back with 2.0.0 after
# a short reboot, one comes back with its old version, one refuses the end
# message, one runs 2.0.0 already and one is of another model. The dry run
# sends no firmware; the run upgrades the three and names the failures; a
# second run sends firmware only to what failed, and its canary failing
# stops the rest; Ctrl-C lets the running upload finish and starts no
# more. Then oxlo firmware --version: confirmed, back with another
# version, and not back in time.
source "$(dirname "$0")/lib.sh"

cat >"$work/devices.json" <<'JSON'
[
  {"mac": "02-00-00-00-00-01", "model": "Oxlo CG-100", "version": "1.0.0",
   "firmware": {"version_after": "2.0.0", "reboot_ms": 1000}},
  {"mac": "02-00-00-00-00-02", "model": "Oxlo CG-100", "version": "1.0.0",
   "firmware": {"version_after": "2.0.0", "reboot_ms": 1000}},
  {"mac": "02-00-00-00-00-03", "model": "Oxlo CG-100", "version": "1.0.0",
   "firmware": {"reboot_ms": 2500}},
  {"mac": "02-00-00-00-00-04", "model": "Oxlo CG-100", "version": "1.0.0",
   "firmware": {"refuse_end": true}},
  {"mac": "02-00-00-00-00-05", "model": "Oxlo CG-100", "version": "1.0.0",
   "firmware": {"version_after": "2.0.0", "reboot_ms": 1000}},
  {"mac": "02-00-00-00-00-06", "model": "Oxlo CG-100", "version": "2.0.0"},
  {"mac": "02-00-00-00-00-07", "model": "Oxlo CG-200", "version": "1.0.0",
   "firmware": {"version_after": "2.0.0", "reboot_ms": 1000}},
  {"mac": "02-00-00-00-00-08", "model": "Oxlo CG-100", "version": "1.0.0",
   "firmware": {"version_after": "2.0.0", "reboot_ms": 600000}}
]
JSON
start_sim "$OXLO_LAB_DEV_NS" dev --config "$work/devices.json"
head -c 1000 /dev/urandom >"$work/image.bin"
printf 'devices:\n' >"$work/hall.yaml"
for i in 1 2 3 4 5 6 7; do printf '  - mac: 02-00-00-00-00-0%s\n' "$i" >>"$work/hall.yaml"; done

# counts: firmware messages each device 02-00-00-00-00-01 to -08 received so far.
counts() {
  python3 - "$work/dev.log" <<'PY'
import collections, json, sys
sent = collections.Counter()
for line in open(sys.argv[1]):
    data = bytes.fromhex(json.loads(line)["hex"])
    if data[1:2] == b"F" and len(data) >= 8:
        sent[data[7]] += 1
print(" ".join(str(sent[i]) for i in range(1, 9)) + " ")
PY
}
# run NAME ARGS...: fleet firmware ARGS, its report in $work/NAME.json; prints the exit status.
run() {
  local name=$1 status=0; shift
  "$OXLO_CLI" fleet firmware "$@" --version 2.0.0 --search-timeout 1 --back-within 20 \
    --report "$work/$name.json" >"$work/$name.out" 2>"$work/$name.err" || status=$?
  echo "$status"
}
results() { json_query "$work/$1.json" '" ".join(x["result"] for x in d["devices"])'; }

# The plan, and no firmware message.
[ "$(run dry "$work/hall.yaml" "$work/image.bin" --dry-run --json)" = 0 ] ||
  fail "dry run: $(cat "$work/dry.err")"
cmp -s "$work/dry.out" "$work/dry.json" || fail "the dry run's --json and --report differ"
[ "$(results dry)" = "would_upgrade would_upgrade would_upgrade would_upgrade would_upgrade unchanged would_upgrade" ] ||
  fail "dry run: $(results dry)"
[ "$(json_query "$work/dry.json" '[(x["canary"], x["order"]) for x in d["devices"]]')" = \
  "[(True, 1), (False, 2), (False, 3), (False, 4), (False, 5), (False, None), (False, 6)]" ] ||
  fail "dry run order: $(json_query "$work/dry.json" 'd["devices"]')"
[ "$(log_lines dev 0246)" = 0 ] || fail "the dry run sent firmware"

# The run: the other model is refused, two fail, three are upgraded.
[ "$(run first "$work/hall.yaml" "$work/image.bin" --model "Oxlo CG-100" --max-failures 3)" = 1 ] ||
  fail "first run did not fail: $(cat "$work/first.err")"
[ "$(results first)" = "upgraded upgraded failed failed upgraded unchanged failed" ] ||
  fail "first run: $(results first)"
[ "$(json_query "$work/first.json" '[x["reason"] for x in d["devices"]]')" = \
  "[None, None, 'came back with version 1.0.0', 'the device refused the end message', None, None, 'refused: it reports model Oxlo CG-200, not Oxlo CG-100']" ] ||
  fail "first run reasons: $(json_query "$work/first.json" '[x["reason"] for x in d["devices"]]')"
[ "$(json_query "$work/first.json" '[x["version_after"] for x in d["devices"][:3]]')" = "['2.0.0', '2.0.0', '1.0.0']" ] ||
  fail "first run versions: $(json_query "$work/first.json" 'd["devices"]')"
[ "$(json_query "$work/first.json" 'd["summary"]')" = \
  "{'upgraded': 3, 'unchanged': 1, 'failed': 3, 'not_started': 0}" ] ||
  fail "first run summary: $(json_query "$work/first.json" 'd["summary"]')"
[ "$(cat "$work/first.err")" = "oxlo: 02-00-00-00-00-03: came back with version 1.0.0
oxlo: 02-00-00-00-00-04: the device refused the end message
oxlo: 02-00-00-00-00-07: refused: it reports model Oxlo CG-200, not Oxlo CG-100" ] ||
  fail "first run named: $(cat "$work/first.err")"
grep -q '^02-00-00-00-00-03  .*  1\.0\.0  *1\.0\.0  *failed  *came back with version 1\.0\.0  *[0-9]*\.[0-9]$' \
  "$work/first.out" || fail "the table: $(cat "$work/first.out")"
grep -qx '7 devices: 3 upgraded, 1 unchanged, 3 failed, 0 not started' "$work/first.out" ||
  fail "the summary line: $(cat "$work/first.out")"
# 1000 bytes: eight chunks and the end message each; nothing to 06, 07 or 08.
[ "$(counts)" = "9 9 9 9 9 0 0 0 " ] || fail "first run sent: $(counts)"

# Again, as before: only what failed before gets the image, and the first of
# those, now the canary, fails and stops the rest before they start.
[ "$(run second "$work/hall.yaml" "$work/image.bin" --model "Oxlo CG-100" --max-failures 3)" = 1 ] ||
  fail "second run did not fail"
[ "$(results second)" = "unchanged unchanged failed not_started unchanged unchanged failed" ] ||
  fail "second run: $(results second)"
[ "$(json_query "$work/second.json" '[x["version_before"] for x in d["devices"]]')" = \
  "['2.0.0', '2.0.0', '1.0.0', '1.0.0', '2.0.0', '2.0.0', '1.0.0']" ] ||
  fail "second run versions: $(json_query "$work/second.json" 'd["devices"]')"
[ "$(json_query "$work/second.json" '(d["devices"][3]["reason"], d["devices"][3]["seconds"])')" = \
  "('canary 02-00-00-00-00-03 failed', None)" ] ||
  fail "not started: $(json_query "$work/second.json" 'd["devices"][3]')"
grep -qx 'oxlo: 1 device not started: canary 02-00-00-00-00-03 failed' "$work/second.err" ||
  fail "second run said: $(cat "$work/second.err")"
[ "$(counts)" = "9 9 18 9 9 0 0 0 " ] || fail "second run sent: $(counts)"

# Without a canary both failures are tried again.
[ "$(run third "$work/hall.yaml" "$work/image.bin" --model "Oxlo CG-100" --max-failures 3 --canary 0)" = 1 ] ||
  fail "third run did not fail"
[ "$(results third)" = "unchanged unchanged failed failed unchanged unchanged failed" ] ||
  fail "third run: $(results third)"
[ "$(counts)" = "9 9 27 18 9 0 0 0 " ] || fail "third run sent: $(counts)"

# Ctrl-C while the first of six forced upgrades runs: it finishes, the
# others do not start, and the table and report still come.
status=0
"$OXLO_CLI" fleet firmware "$work/hall.yaml" "$work/image.bin" --version 2.0.0 --force --canary 0 \
  --parallel 1 --max-failures 5 --model "Oxlo CG-100" --search-timeout 1 --back-within 20 \
  --report "$work/stopped.json" >"$work/stopped.out" 2>"$work/stopped.err" &
pid=$!
for _ in $(seq 200); do [ "$(counts)" != "9 9 27 18 9 0 0 0 " ] && break; sleep 0.05; done
kill -INT "$pid"
wait "$pid" || status=$?
[ "$status" = 1 ] || fail "stopped run: exit $status, $(cat "$work/stopped.err")"
[ "$(results stopped)" = "upgraded not_started not_started not_started not_started not_started failed" ] ||
  fail "stopped run: $(results stopped)"
grep -qx 'oxlo: 5 devices not started: stopped by the operator' "$work/stopped.err" ||
  fail "stopped run said: $(cat "$work/stopped.err")"
[ "$(counts)" = "18 9 27 18 9 0 0 0 " ] || fail "stopped run sent: $(counts)"

# An image or inventory it cannot use: bad usage, and no search even.
status=0
"$OXLO_CLI" fleet firmware "$work/hall.yaml" "$work/none.bin" --version 2.0.0 2>"$work/err" || status=$?
[ "$status" = 2 ] || fail "a missing image: exit $status"
[ "$(counts)" = "18 9 27 18 9 0 0 0 " ] || fail "a missing image sent: $(counts)"

# One device with --version.
firmware() {
  local status=0
  "$OXLO_CLI" firmware "$@" --version 2.0.0 >"$work/one.out" 2>"$work/one.err" || status=$?
  echo "$status"
}
[ "$(firmware 02-00-00-00-00-07 "$work/image.bin" --back-within 20)" = 0 ] ||
  fail "confirmed: $(cat "$work/one.err")"
grep -qx "Updating firmware was successful: the device reports version 2.0.0" "$work/one.out" ||
  fail "confirmed: $(cat "$work/one.out")"
[ "$(firmware 02-00-00-00-00-03 "$work/image.bin" --back-within 20)" = 1 ] || fail "other version"
[ "$(tail -n 1 "$work/one.err")" = "oxlo: Updating firmware was failed: came back with version 1.0.0" ] ||
  fail "other version: $(cat "$work/one.err")"
[ "$(firmware 02-00-00-00-00-08 "$work/image.bin" --back-within 2)" = 1 ] || fail "not back"
[ "$(tail -n 1 "$work/one.err")" = "oxlo: Updating firmware was failed: did not come back within 2 s" ] ||
  fail "not back: $(cat "$work/one.err")"
[ "$(counts)" = "18 9 36 18 9 0 9 9 " ] || fail "oxlo firmware sent: $(counts)"
