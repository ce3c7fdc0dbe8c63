#!/usr/bin/env bash
# Nothing is left half done without being asked: an inventory with one bad
# value or one address the doctor would call a problem sends no write to any
# device; a report path that cannot be written is refused before the first
# datagram, and one that fails at the end still leaves the table and every
# device's error; assign and config set refuse the doctor's problems, naming
# the reason, unless forced; an export to standard output appends where
# standard output leads.
source "$(dirname "$0")/lib.sh"

cat >"$work/dev.json" <<'JSON'
[
  {"mac": "02-00-5E-00-01-01", "name": "A", "ip": "10.57.0.101", "mask": "255.255.255.0", "gateway": "10.57.0.1"},
  {"mac": "02-00-5E-00-01-02", "name": "B", "ip": "10.57.0.102", "mask": "255.255.255.0", "gateway": "10.57.0.1"},
  {"mac": "02-00-5E-00-01-03", "name": "Outside", "ip": "10.57.0.103", "mask": "255.255.255.0", "gateway": "10.57.0.1"}
]
JSON
start_sim "$OXLO_LAB_DEV_NS" dev --config "$work/dev.json"
all_datagrams() { log_lines dev ""; }

# inventory FILE A_EXTRA B_EXTRA: devices A and B, each with extra YAML lines.
inventory() {
  printf 'devices:\n  - mac: 02-00-5E-00-01-01\n    name: A2\n%b  - mac: 02-00-5E-00-01-02\n    name: B2\n%b' \
    "$2" "$3" >"$1"
}
# apply NAME ARGS...: fleet apply; its exit status on stdout, output in $work/NAME.*.
apply() {
  local name=$1 status=0; shift
  "$OXLO_CLI" fleet apply --search-timeout 1 "$@" >"$work/$name.out" 2>"$work/$name.err" ||
    status=$?
  echo "$status"
}

# One device's out-of-range value stops the whole fleet before anything goes out.
inventory "$work/range.yaml" "" "    settings: {port: {local_port: 70000}}\n"
[ "$(apply range "$work/range.yaml")" = 2 ] || fail "a bad value did not stop the fleet: $(cat "$work/range.err")"
grep -q "02-00-5E-00-01-02: port.local_port: expected a whole number from 0 to 65535, not 70000" \
  "$work/range.err" || fail "$(cat "$work/range.err")"
[ "$(all_datagrams)" = 0 ] || fail "a refused inventory sent $(all_datagrams) datagrams"

# Addresses: each refused with exit 2 and the reason, and no write to any device.
while IFS='|' read -r a b reason; do
  inventory "$work/addr.yaml" "$a" "$b"
  status=$(apply addr "$work/addr.yaml")
  [ "$status" = 2 ] && grep -qF "$reason" "$work/addr.err" ||
    fail "[$a|$b] exited $status, not refused for '$reason': $(cat "$work/addr.err")"
  [ -z "$(writes dev)" ] || fail "[$a|$b] wrote: $(writes dev)"
done <<'CASES'
    ip: 10.57.0.150\n|    ip: 10.57.0.150\n|10.57.0.150 is also planned for 02-00-5E-00-01-01
|    ip: 10.57.0.101\n|10.57.0.101 is also planned for 02-00-5E-00-01-01
    ip: 10.57.0.1\n||10.57.0.1 is also held by this computer
    ip: 10.57.0.103\n||10.57.0.103 is also held by 02-00-5E-00-01-03
    ip: 10.57.0.255\n||10.57.0.255 is not an address a device can be reached at
    ip: 224.0.0.9\n||224.0.0.9 is not an address a device can be reached at
    ip: 127.0.0.9\n    mask: 255.0.0.0\n    gateway: 0.0.0.0\n||127.0.0.9 is not an address
    mask: 255.0.255.0\n||255.0.255.0 is not a subnet mask
    gateway: 10.9.9.1\n||gateway 10.9.9.1 is outside its subnet 10.57.0.0/24
CASES
# Two devices swapping addresses is no conflict.
inventory "$work/swap.yaml" "    ip: 10.57.0.102\n" "    ip: 10.57.0.101\n"
[ "$(apply swap "$work/swap.yaml" --dry-run)" = 0 ] || fail "a swap was refused: $(cat "$work/swap.err")"
# Forced, the same address goes to both.
inventory "$work/forced.yaml" "    ip: 10.57.0.150\n" "    ip: 10.57.0.150\n"
[ "$(apply forced "$work/forced.yaml" --force)" = 0 ] || fail "--force: $(cat "$work/forced.err")"
[ "$(writes dev)" = "41x2 4Ex2" ] || fail "--force wrote: $(writes dev)"

# A report that cannot go where it is asked to is refused before any datagram.
before=$(all_datagrams)
inventory "$work/ok.yaml" "" ""
[ "$(apply noreport "$work/ok.yaml" --report "$work/missing/dir/report.json")" = 2 ] ||
  fail "an unwritable report path was not refused: $(cat "$work/noreport.err")"
grep -q -- "--report: cannot write $work/missing/dir/report.json" "$work/noreport.err" ||
  fail "$(cat "$work/noreport.err")"
[ "$(all_datagrams)" = "$before" ] || fail "datagrams went out before the report path was refused"

# A report that fails at the end anyway: the table and each device's error stay.
printf '  - mac: 02-00-5E-00-01-99\n    name: Silent\n' >>"$work/ok.yaml"
mkdir "$work/gone"
before=$(all_datagrams)
"$OXLO_CLI" fleet apply "$work/ok.yaml" --timeout 3 --report "$work/gone/report.json" \
  >"$work/late.out" 2>"$work/late.err" &
runner=$!
for _ in $(seq 400); do [ "$(all_datagrams)" != "$before" ] && break; sleep 0.05; done
rm -rf "$work/gone"
status=0
wait "$runner" || status=$?
[ "$status" = 1 ] || fail "a report lost at the end exited $status"
grep -q "^02-00-5E-00-01-01  *A2  *unchanged" "$work/late.out" || fail "the table was lost: $(cat "$work/late.out")"
grep -q "02-00-5E-00-01-99: did not answer the read requests" "$work/late.err" &&
  grep -q "cannot write $work/gone/report.json" "$work/late.err" ||
  fail "errors lost: $(cat "$work/late.err")"

# assign and config set refuse what the doctor calls a problem, naming it.
sent_assignments() { log_lines dev 0253; }
# (config set reads the device first, so it takes a few of the cases.)
while IFS='|' read -r ip mask gateway reason also_set; do
  status=0
  "$OXLO_CLI" assign 02-00-5E-00-01-01 --ip "$ip" --mask "$mask" --gateway "$gateway" \
    --timeout 1 2>"$work/assign.err" || status=$?
  [ "$status" = 1 ] && grep -qF "refused: $reason" "$work/assign.err" ||
    fail "assign $ip $mask $gateway exited $status: $(cat "$work/assign.err")"
  [ "$also_set" = set ] || continue
  status=0
  "$OXLO_CLI" config set 02-00-5E-00-01-01 "network.ip=$ip" "network.mask=$mask" \
    "network.gateway=$gateway" --timeout 1 2>"$work/set.err" || status=$?
  [ "$status" = 1 ] && grep -qF "refused: $reason" "$work/set.err" ||
    fail "config set $ip $mask $gateway exited $status: $(cat "$work/set.err")"
done <<'CASES'
0.0.0.0|255.255.255.0|0.0.0.0|0.0.0.0 is not an address a device can be reached at|set
255.255.255.255|255.255.255.0|0.0.0.0|255.255.255.255 is not an address|
224.0.0.9|255.255.255.0|0.0.0.0|224.0.0.9 is not an address|
127.0.0.9|255.0.0.0|0.0.0.0|127.0.0.9 is not an address|
10.57.0.255|255.255.255.0|10.57.0.1|10.57.0.255 is not an address|set
10.57.0.160|255.0.255.0|0.0.0.0|255.0.255.0 is not a subnet mask|set
10.57.0.160|255.255.255.0|10.9.9.1|gateway 10.9.9.1 is outside its subnet 10.57.0.0/24|set
10.57.0.103|255.255.255.0|10.57.0.1|10.57.0.103 is also held by 02-00-5E-00-01-03|set
10.57.0.1|255.255.255.0|10.57.0.1|10.57.0.1 is also held by this computer|
CASES
[ "$(sent_assignments)" = 0 ] || fail "a refused assignment was sent"
[ "$(writes dev)" = "41x2 4Ex2" ] || fail "a refused config set wrote: $(writes dev)"
"$OXLO_CLI" config set 02-00-5E-00-01-01 network.gateway=10.9.9.1 --force >/dev/null ||
  fail "config set --force did not send"
[ "$(writes dev)" = "41x3 4Ex3" ] || fail "config set --force wrote: $(writes dev)"

# Export to standard output appends to the log it leads to; "-" is the same.
printf 'before\n' >"$work/log.txt"
"$OXLO_CLI" export 02-00-5E-00-01-02 /dev/stdout >>"$work/log.txt" 2>"$work/export.err" ||
  fail "export to /dev/stdout: $(cat "$work/export.err")"
[ "$(head -c 7 "$work/log.txt")" = "before" ] && [ "$(stat -c %s "$work/log.txt")" = $((7 + 429)) ] ||
  fail "the log was not appended to: $(stat -c %s "$work/log.txt") bytes"
"$OXLO_CLI" export 02-00-5E-00-01-02 - >"$work/dash.oxl" 2>/dev/null || fail "export to -"
cmp -s "$work/dash.oxl" <(tail -c 429 "$work/log.txt") || fail "export - differs from /dev/stdout"
