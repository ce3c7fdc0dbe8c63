#!/usr/bin/env bash
# The bash completion treats what it reads as data: a cache file or an
# interface listing holding $(...) or backticks runs nothing, and only
# MAC-shaped lines and names the kernel could give an interface are offered,
# quoted for the command line. $1: oxlo, $2: the completion script.
set -u
cli=$1
script=$2
[ -r /usr/share/bash-completion/bash_completion ] || { echo "no bash-completion"; exit 77; }
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/cache/oxlo" "$work/files"
ln -s "$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")" "$work/bin/oxlo"
pwned=$work/pwned
# A listing as `ip -o link show` gives it, with names no kernel holds and
# names that are shell code.
cat >"$work/bin/ip" <<LIST
#!/bin/sh
cat <<'END'
1: lo: <LOOPBACK,UP,LOWER_UP> mtu 65536 qdisc noqueue state UNKNOWN
2: eth0@if7: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500 qdisc noqueue state UP
3: \$(touch $pwned): <BROADCAST> mtu 1500
4: \`touch\${IFS}x\`: <BROADCAST> mtu 1500
5: ethernet-adapter-0: <BROADCAST> mtu 1500
6: a/b: <BROADCAST> mtu 1500
7: \$(reboot): <BROADCAST> mtu 1500
END
LIST
chmod +x "$work/bin/ip"
cat >"$work/cache/oxlo/devices" <<CACHE
02-00-00-00-00-01
\$(touch $pwned)
\`touch $pwned\`
02-00-00-00-00-02 \$(touch $pwned)
02-00-00-00-00-0Z
*
02:00:00:00:00:03
CACHE

complete_line() {
  (cd "$work/files" && PATH="$work/bin:$PATH" XDG_CACHE_HOME="$work/cache" bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _oxlo oxlo "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    ((${#COMPREPLY[@]} == 0)) || printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' _ \
    "$script" "$@")
}
check_completion() {
  local want=$1 got
  shift
  got=$(complete_line "$@")
  if [ "$got" != "$want" ]; then echo "FAIL: completing '$*': '$got', not '$want'"; failed=1; fi
}
check_completion "02-00-00-00-00-01 02:00:00:00:00:03 " oxlo config get ""
check_completion "02:00:00:00:00:03 " oxlo export 02:
check_completion "\\\$\\(reboot\\) \\\`touch\\\$\\{IFS\\}x\\\` eth0 lo " oxlo doctor --interface ""
check_completion "eth0 " oxlo discover --interface e
check_completion "config " oxlo con
check_completion "--json " oxlo discover --js
if [ -e "$pwned" ] || [ -e "$work/files/x" ]; then
  echo "FAIL: completing ran code from its data"
  failed=1
fi
exit $failed
