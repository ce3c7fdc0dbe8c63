#!/usr/bin/env bash
# Bad usage and bad arguments end with exit code 2 before anything is sent;
# --help and --version end with 0. A file that is no regular file, or an image
# too large to send, ends with 1 at once. $2 is the project's version.
set -u
# A case that is wrongly taken as good usage would send: where the system
# allows it, the checks run in a network namespace of their own, whose only
# interface is a loopback that is down, so nothing can leave this computer.
if [ -z "${OXLO_EXIT_CODES_ISOLATED:-}" ]; then
  for how in "unshare -n" "unshare -rn"; do
    # shellcheck disable=SC2086
    if $how true 2>/dev/null; then OXLO_EXIT_CODES_ISOLATED=1 exec $how "$0" "$@"; fi
  done
fi
cli=$1
version=$2
failed=0
check() {
  local want=$1; shift
  "$cli" "$@" >/dev/null 2>&1
  local got=$?
  if [ "$got" != "$want" ]; then echo "FAIL: oxlo $* exited $got, want $want"; failed=1; fi
}
check 0 --help
said=$("$cli" --version 2>&1)
got=$?
if [ "$got" != 0 ] || [ "$said" != "oxlo $version" ]; then
  echo "FAIL: oxlo --version exited $got saying '$said', want 0 saying 'oxlo $version'"
  failed=1
fi
check 0 discover --help
check 0 doctor --help
check 0 assign --help
check 0 config get --help
check 0 config set --help
check 0 config apply --help
check 0 export --help
check 0 import --help
check 0 firmware --help
for args in "--help" "--version" "discover --help" "config get --help"; do
  # shellcheck disable=SC2086
  said=$("$cli" $args 2>&1 >/dev/full)
  got=$?
  if [ "$got" != 1 ] || [ "$said" != "oxlo: cannot write the output: No space left on device" ]; then
    echo "FAIL: oxlo $args >/dev/full exited $got saying '$said', want 1 and the reason"
    failed=1
  fi
done
# A usage error keeps its code when its message cannot be written either.
"$cli" frobnicate >/dev/null 2>/dev/full
got=$?
if [ "$got" != 2 ]; then echo "FAIL: oxlo frobnicate 2>/dev/full exited $got, want 2"; failed=1; fi
check 2
check 2 frobnicate
# Every parser error starts with "oxlo:"; a word that names no command is
# named, with the likeliest command meant; the usage line names oxlo, not
# the path it was started by; `oxlo help COMMAND` is COMMAND --help.
said_is() {
  local want=$1; shift
  local said
  said=$("$cli" "$@" 2>&1 >/dev/null)
  if [ "$said" != "$want" ]; then echo "FAIL: oxlo $* said '$said', want '$want'"; failed=1; fi
}
said_is "oxlo: 'dicover' is not a command of oxlo; did you mean 'discover'? ('oxlo --help' lists them)" dicover
said_is "oxlo: 'gte' is not a command of oxlo config; did you mean 'get'? ('oxlo config --help' lists them)" config gte
said_is "oxlo: 'bogus' is not a command of oxlo ('oxlo --help' lists them)" help bogus
said_is "oxlo: The following argument was not expected: --bogus
Run 'oxlo help' for more information." discover --bogus
said_is "oxlo: A subcommand is required
Run 'oxlo help' for more information." config
check 0 help
check 0 help fleet apply
if [ "$("$cli" help config set)" != "$("$cli" config set --help)" ]; then
  echo "FAIL: oxlo help config set is not oxlo config set --help"; failed=1
fi
"$cli" help config set | grep -qx "Usage: oxlo config set \[OPTIONS\] mac settings\.\.\." ||
  { echo "FAIL: the usage line: $("$cli" help config set | grep Usage)"; failed=1; }
check 2 discover --timeout
check 2 discover --timeout 0
check 2 discover --timeout abc
check 2 discover --ip 1.2.3
check 2 discover --ip 10.0.0.255
check 2 discover --ip 0.1.2.3
check 2 discover --ip "010.57.0.255"
check 2 discover --ip " 10.57.0.2x"
check 2 discover --interface no-such-adapter0
check 2 discover --interface lo --ip 10.0.0.5
check 2 doctor --interface no-such-adapter0
check 2 doctor --timeout 0
check 2 doctor extra
check 2 assign 00-11-22-33-44-55 --ip 10.0.0.5 --mask 255.0.0.0
check 2 assign 00-11-22-33-44 --ip 10.0.0.5 --mask 255.0.0.0 --gateway 10.0.0.1
check 2 assign 00-11-22-33-44-5G --ip 10.0.0.5 --mask 255.0.0.0 --gateway 10.0.0.1
check 2 assign 00-11-22-33-44-55 --ip 10.0.0.256 --mask 255.0.0.0 --gateway 10.0.0.1
check 2 assign 00-11-22-33-44-55 --ip 10.0.0.5 --mask 255.0.0 --gateway 10.0.0.1
check 2 assign 00-11-22-33-44-55 --ip 10.0.0.5 --mask 255.0.0.0 --gateway 1..2.3
check 2 assign 00-11-22-33-44-55 --ip "010.0.0.5 x" --mask 255.0.0.0 --gateway 10.0.0.1
check 2 config
check 2 config get
check 2 config get 02-00-00-00-00
check 2 config get 02-00-00-00-00-01 --timeout 0
check 2 config get 02-00-00-00-00-01 --timeout x
check 2 config set 02-00-00-00-00-01
check 2 config set 02-00-00-00-00-01 port.speed=9600
check 2 config set 02-00-00-00-00-01 port.local_port
check 2 config set 02-00-00-00-00-0G port.local_port=1
check 2 config set 02-00-00-00-00-01 port.local_port=1 --ack-timeout 0
check 2 config apply 02-00-00-00-00-01
check 2 export 02-00-00-00-00-01
check 2 export 02-00-00-00-00-0Z out.oxl
check 2 export 02-00-00-00-00-01 out.oxl --timeout -1
check 2 import 02-00-00-00-00-01
check 2 import 02.00.00.00.00.01 in.oxl
check 2 import 02-00-00-00-00-01 in.oxl --timeout 3601
check 2 firmware 02-00-00-00-00-01
check 2 firmware 02-00-00-00-00 image.bin
check 2 firmware 02-00-00-00-00-01 image.bin --data-timeout 0
check 2 firmware 02-00-00-00-00-01 image.bin --data-timeout 4001
check 2 firmware 02-00-00-00-00-01 image.bin --end-timeout 41001
check 2 firmware 02-00-00-00-00-01 image.bin --end-timeout soon
check 0 fleet firmware --help

files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT
mkfifo "$files/pipe"
truncate -s 2G "$files/over.bin"  # sparse: takes no room
# refused WANT-IN-ERROR ARGS...: exit 1 within 5 s, saying why.
refused() {
  local why=$1; shift
  timeout 5 "$cli" "$@" >/dev/null 2>"$files/err"
  local got=$?
  if [ "$got" != 1 ] || ! grep -qF "$why" "$files/err"; then
    echo "FAIL: oxlo $* exited $got saying '$(cat "$files/err")', want 1 saying '$why'"
    failed=1
  fi
}
refused "$files/pipe: it is a FIFO (named pipe)" import 02-00-00-00-00-01 "$files/pipe"
refused "$files/pipe: it is a FIFO (named pipe)" firmware 02-00-00-00-00-01 "$files/pipe"
refused "$files/pipe: it is a FIFO (named pipe)" export 02-00-00-00-00-01 "$files/pipe"
refused "it is a character device" firmware 02-00-00-00-00-01 /dev/zero
refused "The firmware image is too large" firmware 02-00-00-00-00-01 "$files/over.bin"
if [ ! -p "$files/pipe" ]; then echo "FAIL: the FIFO was replaced"; failed=1; fi

# Documents and inventories that cannot be used are bad usage: exit 2 before
# anything is sent, saying why (usage WANT-IN-ERROR ARGS...).
usage() {
  local why=$1; shift
  timeout 10 "$cli" "$@" >/dev/null 2>"$files/err"
  local got=$?
  if [ "$got" != 2 ] || ! grep -qF -- "$why" "$files/err"; then
    echo "FAIL: oxlo $* exited $got saying '$(head -c 300 "$files/err")', want 2 saying '$why'"
    failed=1
  fi
}
printf '{"port": {"speed": 9600}}' >"$files/unknown.json"
printf '\357\273\277{"port": {"speed": 9600}}' >"$files/bom.json"
printf '{"port": ' >"$files/cut.json"
printf '{"network": {"name": "a\\u0000b"}}' >"$files/nul.json"
printf 'devices:\n  - mac: 02-00-00-00-00-01\ndevices: []\n' >"$files/twice.yaml"
printf 'devices: [\n' >"$files/cut.yaml"
printf '? [a]\n: b\n' >"$files/key.yaml"
printf 'devices:\n  - {mac: 02-00-00-00-00-01, name: "a\\0b"}\n' >"$files/nul.yaml"
usage "unknown.json: port.speed: unknown key" config apply 02-00-00-00-00-01 "$files/unknown.json"
usage "bom.json: port.speed: unknown key" config apply 02-00-00-00-00-01 "$files/bom.json"
usage "cut.json: not valid JSON" config apply 02-00-00-00-00-01 "$files/cut.json"
usage "network.name: a name cannot hold a NUL character" \
  config apply 02-00-00-00-00-01 "$files/nul.json"
usage "twice.yaml: line 3: duplicate key devices (first on line 1)" \
  fleet apply "$files/twice.yaml"
usage "cut.yaml: " fleet apply "$files/cut.yaml"
usage "key.yaml: line 1: a key must be text" fleet apply "$files/key.yaml"
usage "network.name: a name cannot hold a NUL character" fleet apply "$files/nul.yaml"

# The firmware commands check what they are to wait for before the image is
# read or anything sent; fleet firmware refuses an inventory or image it
# cannot use as bad usage too.
printf 'image' >"$files/image.bin"
printf 'devices:\n  - mac: 02-00-00-00-00-01\n' >"$files/one.yaml"
bell=$(printf '2.0\a')
for cmd in "firmware 02-00-00-00-00-01" "fleet firmware $files/one.yaml"; do
  # shellcheck disable=SC2086
  {
    usage "--version must be 1 to 8" $cmd "$files/image.bin" --version ""
    usage "--version must be 1 to 8" $cmd "$files/image.bin" --version 123456789
    usage "--version must be 1 to 8" $cmd "$files/image.bin" --version "$bell"
    usage "--back-within must be 1 to 3600" $cmd "$files/image.bin" --version 2 --back-within 0
    usage "--back-within must be 1 to 3600" $cmd "$files/image.bin" --version 2 --back-within 3601
    usage "--back-within" $cmd "$files/image.bin" --version 2 --back-within soon
  }
done
usage "--version must be 1 to 8 printable ASCII characters" \
  firmware 02-00-00-00-00-01 "$files/image.bin" --version "2.0 beta 1"
fleet=("$files/one.yaml" "$files/image.bin" --version 2.0.0)
usage "" fleet firmware "$files/one.yaml" "$files/image.bin"
usage "--model must be 1 to 20 printable ASCII characters" fleet firmware "${fleet[@]}" --model ""
usage "--canary must be 0 or more" fleet firmware "${fleet[@]}" --canary -1
usage "--parallel: from 1 to 1024" fleet firmware "${fleet[@]}" --parallel 0
usage "--parallel: from 1 to 1024" fleet firmware "${fleet[@]}" --parallel 1025
usage "--max-failures must be 1 or more" fleet firmware "${fleet[@]}" --max-failures 0
usage "--data-timeout must be 1 to 4000 ms" fleet firmware "${fleet[@]}" --data-timeout 4001
usage "--end-timeout must be 1 to 41000 ms" fleet firmware "${fleet[@]}" --end-timeout 0
usage "--timeout must be 0.001 to 3600 seconds" fleet firmware "${fleet[@]}" --search-timeout 0
usage "twice.yaml: line 3: duplicate key devices" \
  fleet firmware "$files/twice.yaml" "$files/image.bin" --version 2.0.0
usage "$files/pipe: it is a FIFO (named pipe)" \
  fleet firmware "$files/one.yaml" "$files/pipe" --version 2.0.0
usage "The firmware image is too large" \
  fleet firmware "$files/one.yaml" "$files/over.bin" --version 2.0.0
usage "--report: " fleet firmware "${fleet[@]}" --report "$files/no/such/dir/report.json"
exit $failed
