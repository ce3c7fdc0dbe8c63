#!/usr/bin/env bash
# A flood of spoofed discovery replies from 50000 random MACs: oxlo discover
# keeps its list at 10000 devices, the real ones first among them, says how
# many replies it ignored, and its peak memory stays under 64 MB.
source "$(dirname "$0")/lib.sh"

max_rss_kb=$((64 * 1024))
start_sim "$OXLO_LAB_DEV_NS" dev --devices 3 --flood-discovery 50000
# Peak resident set size of the child, from wait4(2), in kB.
python3 - "$work/rss" "$OXLO_CLI" discover --json --timeout 4 >"$work/found.json" 2>"$work/err" <<'PY'
import os, sys
pid = os.fork()
if pid == 0:
    os.execv(sys.argv[2], sys.argv[2:])
_, status, usage = os.wait4(pid, 0)
open(sys.argv[1], "w").write(str(usage.ru_maxrss))
sys.exit(os.waitstatus_to_exitcode(status))
PY
rss=$(cat "$work/rss")
echo "peak RSS ${rss} kB; $(cat "$work/err")"
[ "$rss" -lt "$max_rss_kb" ] || fail "peak RSS ${rss} kB, cap ${max_rss_kb} kB"
[ "$(json_query "$work/found.json" 'len(d)')" = 10000 ] ||
  fail "listed $(json_query "$work/found.json" 'len(d)') devices"
[ "$(json_query "$work/found.json" '[x["mac"] for x in d[:3]]')" = \
  "['02-00-00-00-00-01', '02-00-00-00-00-02', '02-00-00-00-00-03']" ] ||
  fail "the real devices are not first"
grep -Eqx "oxlo: list full: 10000 devices shown, [1-9][0-9]* more replies ignored" "$work/err" ||
  fail "said: $(cat "$work/err")"
