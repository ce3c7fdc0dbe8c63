#!/usr/bin/env bash
# The device acknowledges the apply command but never got some messages:
# import reads it back, exits 1 and names what it did not take. With every
# message through, the same import succeeds.
source "$(dirname "$0")/lib.sh"
here=$(dirname "$0")
source_mac=02-00-5E-00-01-01
target_mac=02-00-5E-00-01-02

start_sim "$OXLO_LAB_DEV_NS" dev --config "$here/settings_devices.json"
"$OXLO_CLI" export "$source_mac" "$work/source.oxl" || fail "export exited $?"

# The network settings (81 bytes of UDP payload, 109 with the headers) and
# the filter groups (29 and 57) are lost on their way to the device.
in_dev() { ip netns exec "$OXLO_LAB_DEV_NS" "$@"; }
for length in 109 57; do
  in_dev iptables -A INPUT -p udp --dport 2057 -m length --length "$length" -j DROP
done
status=0
"$OXLO_CLI" import "$target_mac" "$work/source.oxl" --timeout 1 >"$work/out" 2>"$work/err" || status=$?
[ "$status" = 1 ] || fail "import with lost messages: exit $status, $(cat "$work/out" "$work/err")"
# Groups 3 to 8 are the same in both devices: lost or not, the target holds them.
expected="oxlo: $target_mac did not take: network settings, filter group 1, filter group 2"
grep -qxF "$expected" "$work/err" || fail "import said: $(cat "$work/err")"
[ ! -s "$work/out" ] || fail "a success was printed: $(cat "$work/out")"

in_dev iptables -F INPUT
"$OXLO_CLI" import "$target_mac" "$work/source.oxl" --timeout 1 >"$work/out" || fail "import exited $?"
