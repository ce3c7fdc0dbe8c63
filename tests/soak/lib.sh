# Shared by the soak runs: each runs inside `scripts/lab --impair LINK`,
# repeats one operator action SOAK_RUNS times (default 10), checks every
# reported success against what the simulator holds, and ends with one line:
#   LABEL under LINK: N runs, S succeeded (all verified), F failed cleanly,
#   0 false successes, median T s
# It exits non-zero on a false success, on a failure without its message or
# past its time limit, and on a window left unusable.
source "$(dirname "${BASH_SOURCE[0]}")/../lab/lib.sh"
: "${OXLO_LAB_IMPAIR_SWITCH:?run inside scripts/lab --impair LINK}"

runs=${SOAK_RUNS:-10}
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || fail "SOAK_RUNS must be a positive number"
# A datagram held back for delay or reorder leaves at most this much later.
drain_s=0.1
n_ok=0 n_false=0 n_failed=0 n_unclean=0 n_unstarted=0
: >"$work/times" >"$work/reasons"

# clean_look COMMAND...: runs COMMAND over the unimpaired link.
clean_look() {
  "$OXLO_LAB_IMPAIR_SWITCH" off
  sleep "$drain_s"
  local status=0
  "$@" || status=$?
  "$OXLO_LAB_IMPAIR_SWITCH" on
  return "$status"
}

# timed LIMIT_S OUT ERR COMMAND...: runs COMMAND, stopped after LIMIT_S; sets
# $status and $seconds.
timed() {
  local limit=$1 out=$2 err=$3 start end
  shift 3
  start=$(date +%s.%N)
  status=0
  timeout -k 5 "$limit" "$@" >"$out" 2>"$err" || status=$?
  end=$(date +%s.%N)
  seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
  echo "$seconds" >>"$work/times"
}

# A reason with its numbers and lists of parts blanked, so the summary
# groups alike failures.
reason_of() { head -1 "$1" | sed -E 's/[0-9]+/#/g; s/(did not (send back|send|take)): [^.]*/\1: (parts)/'; }

verified() { n_ok=$((n_ok + 1)); }
false_success() {
  n_false=$((n_false + 1))
  echo "soak: run $1: reported success, but $2" >&2
}
failed_cleanly() {
  n_failed=$((n_failed + 1))
  echo "$1" >>"$work/reasons"
}
failed_badly() {
  n_unclean=$((n_unclean + 1))
  echo "soak: run $1: $2" >&2
}
not_started() {
  n_unstarted=$((n_unstarted + 1))
  echo "not started: $1" >>"$work/reasons"
}

# summary LABEL: the closing line, the failures grouped, and the verdict.
summary() {
  local median verified_text unstarted=""
  median=$(sort -n "$work/times" | awk '{ t[NR] = $1 } END { if (NR) printf "%.1f", t[int((NR + 1) / 2)]; else print 0 }')
  verified_text="all verified"
  [ "$n_false" = 0 ] || verified_text="$n_ok verified"
  [ "$n_unstarted" = 0 ] || unstarted=", $n_unstarted not started"
  local unclean=""
  [ "$n_unclean" = 0 ] || unclean=", $n_unclean failed without a clean end"
  echo "$1 under $OXLO_LAB_IMPAIR: $runs runs, $((n_ok + n_false)) succeeded ($verified_text)," \
    "$n_failed failed cleanly$unclean$unstarted, $n_false false successes, median $median s"
  if [ -s "$work/reasons" ]; then
    sort "$work/reasons" | uniq -c | sort -rn | sed 's/^ */  /; s/^\(  [0-9]*\) /\1 x /'
  fi
  [ "$n_false" = 0 ] && [ "$n_unclean" = 0 ]
}
