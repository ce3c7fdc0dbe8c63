#!/usr/bin/env bash
# Firmware images of several sizes reach the device whole; an image that
# cannot be read fails before anything is sent.
source "$(dirname "$0")/lib.sh"
mac=02-00-00-00-00-01

mkdir "$work/saved"
start_sim "$OXLO_LAB_DEV_NS" dev --devices 1 --firmware-out "$work/saved"
while read -r size messages; do
  head -c "$size" /dev/urandom >"$work/image$size.bin"
  before=$(log_lines dev 0246)
  "$OXLO_CLI" firmware "$mac" "$work/image$size.bin" >"$work/out" 2>"$work/err" || fail "$size bytes: exit $?"
  # The result alone on stdout; the progress on stderr.
  [ "$(cat "$work/out")" = "Updating firmware was successful (not confirmed: give --version to wait for the device to report it)" ] || fail "$size bytes: $(cat "$work/out")"
  cmp "$work/saved/$mac.bin" "$work/image$size.bin" || fail "$size bytes: the saved image differs"
  [ "$(log_lines dev 0246)" = $((before + messages)) ] || fail "$size bytes: not $messages messages"
  if [ "$size" -gt 0 ]; then
    grep -qx "Uploaded $size of $size bytes (100%)" "$work/err" || fail "$size bytes: $(cat "$work/err")"
  fi
done <<'CASES'
300 4
256 3
0 1
CASES

before=$(log_lines dev 0246)
for image in "$work/none.bin" "$work/saved"; do
  status=0
  "$OXLO_CLI" firmware "$mac" "$image" 2>"$work/err" || status=$?
  [ "$status" = 1 ] || fail "$image: exit $status"
  grep -q "^oxlo: cannot open\|^oxlo: cannot read" "$work/err" || fail "$image: $(cat "$work/err")"
done
[ "$(log_lines dev 0246)" = "$before" ] || fail "an unreadable image was sent"

# --json: the result alone on stdout, as one document.
"$OXLO_CLI" firmware "$mac" "$work/image300.bin" --json >"$work/fw.json" 2>/dev/null || fail "firmware --json exited $?"
[ "$(json_query "$work/fw.json" '(d["mac"], d["bytes"], d["succeeded"], d["version"])')" = "('$mac', 300, True, None)" ] ||
  fail "firmware --json printed: $(cat "$work/fw.json")"
