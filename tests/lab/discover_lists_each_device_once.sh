#!/usr/bin/env bash
# Three devices that each answer twice: every one is listed once, with the
# fields of its reply and the interface it came in on, in the JSON the CLI
# prints.
source "$(dirname "$0")/lib.sh"
here=$(dirname "$0")

start_sim "$OXLO_LAB_DEV_NS" dev --config "$here/devices.json" --duplicate
"$OXLO_CLI" discover --json --timeout 1.5 >"$work/found.json"

interface=$(ip -o -4 addr show | awk -v a="$OXLO_LAB_HOST_IP/" 'index($4, a) == 1 { print $2 }')
python3 - "$here/devices.json" "$work/found.json" "$interface" "$OXLO_LAB_HOST_IP" <<'PY'
import json, sys
expected = json.load(open(sys.argv[1]))
found = json.load(open(sys.argv[2]))
where = {"interface": sys.argv[3], "local_address": sys.argv[4], "problems": []}
keys = ["model", "mac", "version", "name", "ip", "mask", "gateway"]
assert len(found) == len(expected), f"listed {len(found)} devices: {found}"
by_mac = {d["mac"]: d for d in found}
assert len(by_mac) == len(found), "a device is listed twice"
for e in expected:
    got = by_mac.get(e["mac"])
    assert got is not None, f"{e['mac']} missing"
    assert sorted(got) == sorted(keys + list(where)), f"keys {sorted(got)}"
    for k in keys:
        assert got[k] == e[k], f"{e['mac']} {k}: {got[k]!r} != {e[k]!r}"
    for k, v in where.items():
        assert got[k] == v, f"{e['mac']} {k}: {got[k]!r} != {v!r}"
PY
"$OXLO_CLI" discover --timeout 1 | grep -q "Förderband Süd" || fail "table lacks the UTF-8 name"
