#!/usr/bin/env bash
# Settings exported from one device and imported into another: every write
# goes to the target, and the target then reads back as the source did.
source "$(dirname "$0")/lib.sh"
here=$(dirname "$0")
source_mac=02-00-5E-00-01-01
target_mac=02-00-5E-00-01-02

start_sim "$OXLO_LAB_DEV_NS" dev --config "$here/settings_devices.json"
"$OXLO_CLI" config get "$source_mac" --json >"$work/source.json" || fail "config get exited $?"
settings_valid "$work/source.json"
"$OXLO_CLI" config get "$source_mac" >"$work/source.txt" || fail "config get (text) exited $?"
grep -qx "  Bit rate:      125 kbps" "$work/source.txt" || fail "text: $(cat "$work/source.txt")"
"$OXLO_CLI" export "$source_mac" "$work/source.oxl" || fail "export exited $?"
[ "$(stat -c %s "$work/source.oxl")" = 429 ] || fail "the file holds $(stat -c %s "$work/source.oxl") bytes"
"$OXLO_CLI" import "$target_mac" "$work/source.oxl" >"$work/import.out" || fail "import exited $?"
grep -q "$target_mac" "$work/import.out" || fail "import said: $(cat "$work/import.out")"

# The settings messages and the apply command, once each, in order, all to the target.
python3 - "$work/dev.log" "${target_mac//-/}" <<'PY'
import json, sys
path, target = sys.argv[1], sys.argv[2].upper()
writes = []
for line in open(path):
    data = bytes.fromhex(json.loads(line)["hex"])
    code = data[1]
    settings = code in (0x4E, 0x4F, 0x43) or 1 <= code <= 8
    if (settings and len(data) > 9) or code == 0x41:
        writes.append((code, data[2:8].hex().upper()))
expected = [(c, target) for c in (0x4E, 0x4F, 0x43, 1, 2, 3, 4, 5, 6, 7, 8, 0x41)]
assert writes == expected, f"writes {writes}"
PY

"$OXLO_CLI" config get "$target_mac" --json >"$work/target.json" || fail "config get of the target exited $?"
settings_valid "$work/target.json"
python3 - "$work/source.json" "$work/target.json" "$source_mac" "$target_mac" <<'PY'
import json, sys
source, target = json.load(open(sys.argv[1])), json.load(open(sys.argv[2]))
assert source["mac"] == sys.argv[3] and target["mac"] == sys.argv[4], (source["mac"], target["mac"])
assert source["network"]["name"] == "Förderband Süd", source["network"]
assert source["port"]["alias"] == "Linie 3" and source["can"]["id"] == "01ABCDEF", source
for key in ("network", "port", "can", "filters"):
    assert source[key] == target[key], f"{key}: {source[key]} != {target[key]}"
PY

# "-" is standard input and output: the source's settings through a pipe,
# the file's and the document's, and the target reads back the same.
"$OXLO_CLI" config set "$target_mac" port.alias=Piped >/dev/null || fail "config set exited $?"
"$OXLO_CLI" export "$source_mac" - 2>/dev/null | "$OXLO_CLI" import "$target_mac" - >"$work/piped.out" ||
  fail "export | import exited $?"
grep -qx "Wrote the settings in standard input into $target_mac" "$work/piped.out" || fail "import said: $(cat "$work/piped.out")"
"$OXLO_CLI" config get "$target_mac" --json | python3 -c 'import json,sys; assert json.load(sys.stdin)["port"]["alias"] == "Linie 3"' ||
  fail "the piped import did not arrive"
printf '{"port": {"alias": "Piped"}}' | "$OXLO_CLI" config apply "$target_mac" - >/dev/null || fail "config apply - exited $?"
"$OXLO_CLI" config get "$target_mac" --json | python3 -c 'import json,sys; assert json.load(sys.stdin)["port"]["alias"] == "Piped"' ||
  fail "the piped document did not arrive"

# --json: export says what it wrote, import whether the device holds it; the
# settings file itself on standard output leaves no room for a document.
"$OXLO_CLI" export "$source_mac" "$work/j.oxl" --json >"$work/export.json" || fail "export --json exited $?"
[ "$(json_query "$work/export.json" '(d["mac"], d["file"], d["bytes"])')" = "('$source_mac', '$work/j.oxl', 429)" ] ||
  fail "export --json printed: $(cat "$work/export.json")"
"$OXLO_CLI" import "$target_mac" "$work/j.oxl" --json >"$work/import.json" || fail "import --json exited $?"
[ "$(json_query "$work/import.json" '(d["mac"], d["verified"], d["not_taken"], d["not_applied"])')" = "('$target_mac', True, [], [])" ] ||
  fail "import --json printed: $(cat "$work/import.json")"
status=0
"$OXLO_CLI" export "$source_mac" - --json >/dev/null 2>&1 || status=$?
[ "$status" = 2 ] || fail "export - --json exited $status"
