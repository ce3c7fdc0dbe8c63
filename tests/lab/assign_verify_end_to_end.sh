#!/usr/bin/env bash
# assign --verify: the device takes the address and keeps its name; the
# addresses may be written zero-padded or with blanks around them.
source "$(dirname "$0")/lib.sh"
here=$(dirname "$0")

start_sim "$OXLO_LAB_DEV_NS" dev --config "$here/devices.json"
"$OXLO_CLI" assign 02-00-5e-00-00-02 --ip 010.57.0.222 --mask 255.255.255.000 \
  --gateway " 10.57.0.9 " --verify --timeout 1 >"$work/out" 2>"$work/err" ||
  fail "assign --verify exited $?: $(cat "$work/err")"
grep -qx "Sent 10.57.0.222 / 255.255.255.0 via 10.57.0.9 to 02-00-5E-00-00-02" "$work/out" ||
  fail "$(cat "$work/out")"
"$OXLO_CLI" discover --json --timeout 1 >"$work/after.json"
python3 - "$work/after.json" <<'PY'
import json, sys
by_mac = {d["mac"]: d for d in json.load(open(sys.argv[1]))}
d = by_mac["02-00-5E-00-00-02"]
assert (d["ip"], d["mask"], d["gateway"]) == ("10.57.0.222", "255.255.255.0", "10.57.0.9"), d
assert d["name"] == "Förderband Süd", d["name"]
assert by_mac["02-00-5E-00-00-01"]["ip"] == "10.57.0.101", "another device changed"
PY

# --json: what was sent and whether the device took it, one document.
"$OXLO_CLI" assign 02-00-5e-00-00-02 --ip 10.57.0.223 --mask 255.255.255.0 \
  --gateway 10.57.0.9 --verify --json --timeout 1 >"$work/assign.json" 2>"$work/err" ||
  fail "assign --json exited $?: $(cat "$work/err")"
[ "$(json_query "$work/assign.json" '(d["mac"], d["sent"], d["verified"])')" = "('02-00-5E-00-00-02', {'ip': '10.57.0.223', 'mask': '255.255.255.0', 'gateway': '10.57.0.9', 'name': 'Förderband Süd'}, True)" ] ||
  fail "assign --json printed: $(cat "$work/assign.json")"
