#!/usr/bin/env bash
# The doctor names what keeps each device out of reach on the interface it
# answered on, and the assignment it prints mends it: afterwards the device
# is clean and answers at its new address.
source "$(dirname "$0")/lib.sh"

cat >"$work/dev.json" <<'JSON'
[
  {"mac": "02-00-5E-00-01-01", "name": "Press hall", "ip": "10.57.0.101", "mask": "255.255.255.0", "gateway": "10.57.0.1"},
  {"mac": "02-00-5E-00-01-02", "name": "Factory 'new'", "ip": "192.168.1.10", "mask": "255.255.255.0", "gateway": "192.168.1.1"},
  {"mac": "02-00-5E-00-01-03", "name": "Twin A", "ip": "10.57.0.120", "mask": "255.255.255.0", "gateway": "10.57.0.1"},
  {"mac": "02-00-5E-00-01-04", "name": "Twin B", "ip": "10.57.0.120", "mask": "255.255.255.0", "gateway": "10.57.0.1"},
  {"mac": "02-00-5E-00-01-05", "name": "No address", "ip": "0.0.0.0", "mask": "255.255.255.0", "gateway": "0.0.0.0"}
]
JSON
cat >"$work/dev2.json" <<'JSON'
[
  {"mac": "02-00-5E-00-02-01", "name": "Line 2", "ip": "10.58.0.101", "mask": "255.255.255.0", "gateway": "10.58.0.1"},
  {"mac": "02-00-5E-00-02-02", "name": "Moved", "ip": "10.57.0.130", "mask": "255.255.255.0", "gateway": "0.0.0.0"}
]
JSON
start_sim "$OXLO_LAB_DEV_NS" dev --config "$work/dev.json"
start_sim "$OXLO_LAB_DEV2_NS" dev2 --config "$work/dev2.json"

# The host's interface holding an address, and the device side's.
if_of() { ip -o -4 addr show | awk -v a="$1/" 'index($4, a) == 1 { print $2 }'; }
if1=$(if_of "$OXLO_LAB_HOST_IP")
if2=$(if_of "$OXLO_LAB_HOST_IP2")
dev_if=$(ip -n "$OXLO_LAB_DEV_NS" -o -4 addr show | awk -v a="$OXLO_LAB_DEV_IP/" 'index($4, a) == 1 { print $2 }')

# doctor FILE [ARGS]: its JSON in FILE, its exit status on stdout.
doctor() {
  local out=$1 status=0; shift
  "$OXLO_CLI" doctor --json --timeout 1 "$@" >"$out" 2>"$work/err" || status=$?
  echo "$status"
}
# findings FILE: "MAC interface kind,kind" per device, sorted.
findings() {
  python3 - "$1" <<'PY'
import json, sys
for d in sorted(json.load(open(sys.argv[1])), key=lambda d: d["mac"]):
    print(d["mac"], d["interface"], ",".join(p["kind"] for p in d["problems"]) or "-")
PY
}

status=$(doctor "$work/first.json")
[ "$status" = 1 ] || fail "doctor with problems exited $status: $(cat "$work/err")"
expected="02-00-5E-00-01-01 $if1 -
02-00-5E-00-01-02 $if1 other_subnet
02-00-5E-00-01-03 $if1 duplicate_address
02-00-5E-00-01-04 $if1 duplicate_address
02-00-5E-00-01-05 $if1 no_usable_address
02-00-5E-00-02-01 $if2 -
02-00-5E-00-02-02 $if2 other_subnet"
got=$(findings "$work/first.json")
[ "$got" = "$expected" ] || fail "findings differ:
$got
expected:
$expected"

mend() {  # mend FILE MAC KEY
  json_query "$1" "[x['mend']['$3'] for x in d if x['mac'] == '$2'][0]"
}
# The device side's own address answers ARP, so it is never suggested.
new=$(mend "$work/first.json" 02-00-5E-00-01-02 ip)
[ "$new" != "$OXLO_LAB_DEV_IP" ] || fail "suggested $new, which the device side holds"
[ "$(mend "$work/first.json" 02-00-5E-00-01-02 probed)" = True ] || fail "the suggestion was not probed"
[ "$(mend "$work/first.json" 02-00-5E-00-02-02 ip)" != "$OXLO_LAB_DEV2_IP" ] || fail "suggested the device side's address"

# Without root there is no ARP probe, but one datagram and the kernel's
# neighbour table still find the device side holding the first candidate:
# the unprivileged run suggests what the root run does.
nobody=(setpriv --reuid 65534 --regid 65534 --clear-groups)
if "${nobody[@]}" "$OXLO_CLI" --version >/dev/null 2>&1; then
  ip neigh flush dev "$if1"
  "${nobody[@]}" "$OXLO_CLI" doctor --json --timeout 1 >"$work/unprivileged.json" || true
  [ "$(mend "$work/unprivileged.json" 02-00-5E-00-01-02 probed)" = True ] ||
    fail "an unprivileged run did not probe: $(mend "$work/unprivileged.json" 02-00-5E-00-01-02 probe)"
  [ "$(mend "$work/unprivileged.json" 02-00-5E-00-01-02 ip)" = "$new" ] ||
    fail "unprivileged, $(mend "$work/unprivileged.json" 02-00-5E-00-01-02 ip) was suggested; as root $new"
  "${nobody[@]}" "$OXLO_CLI" doctor --timeout 1 >"$work/unprivileged.txt" || true
  grep -q "no host answered a datagram and the kernel's neighbour table for $new" \
    "$work/unprivileged.txt" || fail "$(cat "$work/unprivileged.txt")"
else
  echo "note: $OXLO_CLI cannot run as an unprivileged user here; its probe is not checked"
fi
# As root every suggestion is probed by ARP, and said so.
"$OXLO_CLI" doctor --timeout 1 >"$work/root.txt" || true
grep -q "not probed" "$work/root.txt" && fail "a root run left a suggestion unprobed: $(cat "$work/root.txt")"
grep -q "no host answered an ARP probe for $new" "$work/root.txt" || fail "$(cat "$work/root.txt")"

# Taken addresses are refused unless forced; nothing is sent then.
status=0
"$OXLO_CLI" assign 02-00-5E-00-01-01 --ip 10.57.0.120 --mask 255.255.255.0 --gateway 10.57.0.1 \
  --timeout 1 2>"$work/err" || status=$?
[ "$status" = 1 ] && grep -q "refused: 10.57.0.120 is also held by 02-00-5E-00-01-03" "$work/err" ||
  fail "a taken address was not refused ($status): $(cat "$work/err")"
status=0
"$OXLO_CLI" assign 02-00-5E-00-01-01 --ip "$OXLO_LAB_HOST_IP" --mask 255.255.255.0 \
  --gateway 10.57.0.1 --name X --timeout 1 2>"$work/err" || status=$?
[ "$status" = 1 ] && grep -qF "also held by this computer ($if1)" "$work/err" ||
  fail "this computer's address was not refused ($status): $(cat "$work/err")"
[ "$(log_lines dev 0253)" = 0 ] || fail "a refused assignment was sent"

# The printed commands, run as printed, mend both devices in another subnet.
for mac in 02-00-5E-00-01-02 02-00-5E-00-02-02; do
  command=$(mend "$work/first.json" "$mac" command)
  eval "\"\$OXLO_CLI\" ${command#oxlo }" >/dev/null || fail "'$command' failed"
done
# The device takes its new address, as a real one would.
ip -n "$OXLO_LAB_DEV_NS" addr add "$new/24" dev "$dev_if"

doctor "$work/second.json" >/dev/null
[ "$(findings "$work/second.json" | grep 02-00-5E-00-01-02)" = "02-00-5E-00-01-02 $if1 -" ] ||
  fail "not mended: $(findings "$work/second.json")"
[ "$(json_query "$work/second.json" "[x['name'] for x in d if x['mac'] == '02-00-5E-00-01-02'][0]")" = "Factory 'new'" ] ||
  fail "the name was not kept"
"$OXLO_CLI" discover --ip "$new" --json --timeout 1 >"$work/one.json" || fail "discover --ip $new failed"
[ "$(json_query "$work/one.json" "[x['mac'] for x in d]")" = "['02-00-5E-00-01-02']" ] ||
  fail "not reachable at $new: $(cat "$work/one.json")"

# One interface only: its devices are clean now, so the doctor is content.
status=$(doctor "$work/third.json" --interface "$if2")
[ "$status" = 0 ] || fail "doctor on $if2 exited $status: $(cat "$work/third.json")"
[ "$(findings "$work/third.json")" = "02-00-5E-00-02-01 $if2 -
02-00-5E-00-02-02 $if2 -" ] || fail "wrong devices on $if2: $(findings "$work/third.json")"

# Another device answering with Press hall's MAC on the second network: both
# are listed, each flagged; the same device through two adapters would be one.
kill "${sim_pids[1]}"
wait "${sim_pids[1]}" 2>/dev/null || true
cat >"$work/twin.json" <<'JSON'
[{"mac": "02-00-5E-00-01-01", "name": "Twin elsewhere", "ip": "10.58.0.150", "mask": "255.255.255.0", "gateway": "10.58.0.1"}]
JSON
start_sim "$OXLO_LAB_DEV2_NS" twin --config "$work/twin.json"
doctor "$work/twins.json" >/dev/null
[ "$(json_query "$work/twins.json" "sorted((x['interface'], x['ip'], [p['kind'] for p in x['problems']]) for x in d if x['mac'] == '02-00-5E-00-01-01')")" = \
  "[('$if1', '10.57.0.101', ['one_mac_on_two_networks']), ('$if2', '10.58.0.150', ['one_mac_on_two_networks'])]" ] ||
  fail "one MAC on two networks: $(findings "$work/twins.json")"
"$OXLO_CLI" doctor --timeout 1 >"$work/twins.txt" || true
grep -q "^  one MAC on two networks: another device with this MAC answers at 10.58.0.150 on $if2" \
  "$work/twins.txt" || fail "$(cat "$work/twins.txt")"
