#!/usr/bin/env bash
# A few bytes of YAML or JSON must not take the host's memory: each hostile
# input is refused with exit 2 while the program may use at most 64 MB of
# address space (more would end in std::bad_alloc, exit 1, or a crash).
set -u
cli=$1
failed=0
files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT

# Nine of the previous, twenty times over: 9^20 nodes in 1.2 KB.
{
  echo 'a0: &a0 [x, x, x, x, x, x, x, x, x]'
  for i in $(seq 1 19); do
    printf 'a%d: &a%d [*a%d' "$i" "$i" $((i - 1))
    for _ in 1 2 3 4 5 6 7 8; do printf ', *a%d' $((i - 1)); done
    echo ']'
  done
  echo 'devices: [*a19]'
} >"$files/aliases.yaml"
brackets() { head -c "$1" /dev/zero | tr '\0' "$2"; }
{ printf 'devices: '; brackets 4000000 '['; } >"$files/flow.yaml"
{ printf 'devices:\n'; for _ in $(seq 1 3000); do printf '[\n'; done; } >"$files/lines.yaml"
{ printf 'devices: ['; yes 0, | head -n 600000 | tr -d '\n'; echo ']'; } >"$files/wide.yaml"
{ brackets 200000 '['; brackets 200000 ']'; } >"$files/deep.json"
{ brackets 1000000 '{'; } >"$files/open.json"

# bounded WANT-IN-ERROR ARGS...
bounded() {
  local why=$1; shift
  (ulimit -v 65536 && exec timeout 60 "$cli" "$@") >/dev/null 2>"$files/err"
  local got=$?
  local size
  size=$(wc -c <"$files/err")
  if [ "$got" != 2 ] || ! grep -qF -- "$why" "$files/err" || [ "$size" -gt 400 ]; then
    echo "FAIL: oxlo $* under 64 MB exited $got saying '$(head -c 300 "$files/err")'," \
      "want 2 saying '$why' in a line"
    failed=1
  fi
}
bounded "more than 500000 nodes once its aliases are expanded" \
  fleet apply --dry-run "$files/aliases.yaml"
bounded "line 1: nested deeper than 32 levels" fleet apply --dry-run "$files/flow.yaml"
bounded "line 34: nested deeper than 32 levels" fleet apply --dry-run "$files/lines.yaml"
bounded "more than 500000 nodes" fleet apply --dry-run "$files/wide.yaml"
bounded "nested deeper than 16 levels" config apply 02-00-00-00-00-01 "$files/deep.json"
bounded "nested deeper than 16 levels" config apply --dry-run 02-00-00-00-00-01 "$files/open.json"
exit $failed
