# Shared by the lab tests; they run inside scripts/lab's host namespace with
# OXLO_CLI and OXLO_SIM pointing at the built programs.
set -euo pipefail

: "${OXLO_CLI:?}" "${OXLO_SIM:?}"
work=$(mktemp -d)
sim_pids=()
trap 'for p in "${sim_pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# start_sim NAMESPACE NAME ARGS...: a simulator logging to $work/NAME.log.
start_sim() {
  local ns=$1 name=$2; shift 2
  ip netns exec "$ns" "$OXLO_SIM" --log "$work/$name.log" "$@" 2>"$work/$name.err" &
  sim_pids+=($!)
  for _ in $(seq 100); do grep -q '^oxlo-sim:' "$work/$name.err" && return 0; sleep 0.05; done
  cat "$work/$name.err" >&2
  fail "simulator $name did not start"
}

# json_query FILE PYTHON-EXPRESSION: evaluates the expression with `d` bound to the file's JSON.
json_query() { python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print($2)" "$1"; }

# log_lines NAME HEX-PREFIX [SOURCE]: datagrams the simulator NAME received.
log_lines() {
  python3 - "$work/$1.log" "$2" "${3:-}" <<'PY'
import json, sys
path, prefix, source = sys.argv[1:4]
n = 0
for line in open(path):
    entry = json.loads(line)
    if entry["hex"].upper().startswith(prefix.upper()) and (not source or entry["source"] == source):
        n += 1
print(n)
PY
}

# settings_valid FILE: the settings document in FILE meets docs/settings.schema.json.
settings_valid() {
  python3 - "$(dirname "${BASH_SOURCE[0]}")/../../docs/settings.schema.json" "$1" <<'PY' ||
import json, sys, jsonschema
jsonschema.Draft202012Validator(json.load(open(sys.argv[1]))).validate(json.load(open(sys.argv[2])))
PY
    fail "$1 does not meet the settings schema"
}

# writes NAME: the settings writes (N, O, C, the filter groups; not their
# 9-byte read requests) and apply commands the simulator NAME received, as
# "CODE xCOUNT" lines sorted by code.
writes() {
  python3 - "$work/$1.log" <<'PY'
import collections, json, sys
count = collections.Counter()
for line in open(sys.argv[1]):
    data = bytes.fromhex(json.loads(line)["hex"])
    code = data[1]
    if code == 0x41 or (len(data) > 9 and (code in (0x4E, 0x4F, 0x43) or 1 <= code <= 8)):
        count[code] += 1
print(" ".join(f"{code:02X}x{n}" for code, n in sorted(count.items())))
PY
}
