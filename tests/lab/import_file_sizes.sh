#!/usr/bin/env bash
# Import of settings files of the shortest usable size, the whole size and
# longer; a shorter file, or one holding a value no list names, is refused
# before anything is sent.
source "$(dirname "$0")/lib.sh"
mac=02-00-00-00-00-01

start_sim "$OXLO_LAB_DEV_NS" dev --devices 1
head -c 172 /dev/zero >"$work/short.oxl"
# All zero but CAN bit rate index 10 (offset 130) and ID format A (131).
head -c 429 /dev/zero >"$work/rate10.oxl"
printf '\012\001' | dd of="$work/rate10.oxl" bs=1 seek=130 conv=notrunc status=none
while IFS='|' read -r file reason; do
  status=0
  "$OXLO_CLI" import "$mac" "$work/$file" 2>"$work/err" || status=$?
  [ "$status" = 1 ] || fail "$file: exit $status"
  grep -qxF "oxlo: $work/$file: $reason" "$work/err" || fail "$file: $(cat "$work/err")"
done <<'CASES'
short.oxl|The settings file is too short: 172 bytes, at least 173 are needed.
rate10.oxl|The settings file holds CAN bit rate index 10, which has no entry (0 to 9).
CASES
[ ! -s "$work/dev.log" ] || fail "a refused file still sent: $(cat "$work/dev.log")"

"$OXLO_CLI" export "$mac" "$work/base.oxl" || fail "export exited $?"
# The base file with new texts and filters, at each size.
python3 - "$work/base.oxl" "$work" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
assert len(data) == 429, len(data)
data[25:57] = "Imported".encode().ljust(32, b"\0")
data[81 + 12:81 + 28] = b"W\xe4rme".ljust(16, b"\0")  # 8-bit alias
data[141] = 1
data[173:181] = b"000007FF"
data[141 + 31] = 2
data[173 + 8 * 31:173 + 8 * 32] = b"1FFFFFFF"
for size in (173, 429, 500):
    open(f"{sys.argv[2]}/f{size}.oxl", "wb").write(bytes((data + b"\xee" * 71)[:size]))
PY

for size in 173 429 500; do
  applies=$(log_lines dev "0241")
  "$OXLO_CLI" import "$mac" "$work/f$size.oxl" >/dev/null || fail "a $size-byte file: exit $?"
  [ "$(log_lines dev "0241")" = $((applies + 1)) ] || fail "a $size-byte file: no apply command"
  "$OXLO_CLI" config get "$mac" --json >"$work/after$size.json" || fail "config get exited $?"
  settings_valid "$work/after$size.json"
  python3 - "$work/after$size.json" "$size" <<'PY'
import json, sys
d, size = json.load(open(sys.argv[1])), int(sys.argv[2])
assert d["network"]["name"] == "Imported", d["network"]
assert d["port"]["alias"] == "Wärme", d["port"]
filters = d["filters"]
assert (filters[0]["type"], filters[31]["type"]) == ("Standard", "Extend"), filters
# A 173-byte file holds the types but no identifiers.
ids = ("00000000", "00000000") if size == 173 else ("000007FF", "1FFFFFFF")
assert (filters[0]["id"], filters[31]["id"]) == ids, (size, filters)
PY
done
