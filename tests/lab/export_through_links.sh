#!/usr/bin/env bash
# Export through a symbolic link writes the file the link names and keeps
# the link; import reads through it.
source "$(dirname "$0")/lib.sh"
mac=02-00-00-00-00-01

start_sim "$OXLO_LAB_DEV_NS" dev --devices 1
"$OXLO_CLI" export "$mac" "$work/direct.oxl" >/dev/null || fail "export exited $?"
mkdir "$work/kept"
echo old >"$work/kept/target.oxl"
ln -s kept/target.oxl "$work/link.oxl"
ln -s kept/new.oxl "$work/dangling.oxl"
for link in link dangling; do
  "$OXLO_CLI" export "$mac" "$work/$link.oxl" >/dev/null || fail "export to $link exited $?"
  [ -L "$work/$link.oxl" ] || fail "$link.oxl is no longer a link"
done
cmp "$work/direct.oxl" "$work/kept/target.oxl" || fail "the link's target differs"
cmp "$work/direct.oxl" "$work/kept/new.oxl" || fail "the dangling link's target differs"
[ "$(ls -A "$work/kept" | tr '\n' ' ')" = "new.oxl target.oxl " ] || fail "left: $(ls -A "$work/kept")"
"$OXLO_CLI" import "$mac" "$work/link.oxl" >/dev/null || fail "import through the link exited $?"
