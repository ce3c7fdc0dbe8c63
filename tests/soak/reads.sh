#!/usr/bin/env bash
# `oxlo config get` SOAK_RUNS times over a lossy link: a read asks again for
# the parts that did not answer, so it should succeed in at least nine runs of
# ten at 5% loss. A success counts only when it prints what the device holds,
# as a read over the unimpaired link shows it.
source "$(dirname "$0")/lib.sh"
mac=02-00-5E-00-01-01
start_sim "$OXLO_LAB_DEV_NS" dev --config "$(dirname "$0")/../lab/settings_devices.json"
clean_look "$OXLO_CLI" config get "$mac" --json >"$work/expected.json" \
  || fail "oxlo config get failed over the clean link"

for run in $(seq "$runs"); do
  timed 30 "$work/out" "$work/err" "$OXLO_CLI" config get "$mac" --json
  message=$(grep -m1 '^oxlo: ' "$work/err" || true)
  if [ "$status" = 0 ]; then
    if cmp -s "$work/out" "$work/expected.json"; then verified; else
      false_success "$run" "it printed other settings than the device holds"
    fi
  elif [ "$status" = 124 ] || [ "$status" = 137 ]; then
    failed_badly "$run" "still running after 30 s"
  elif [ -z "$message" ]; then
    failed_badly "$run" "exit $status without a message: $(cat "$work/out" "$work/err")"
  else
    failed_cleanly "$(reason_of <(echo "$message"))"
  fi
done

verdict=0
summary "reads (oxlo config get)" || verdict=1
# The goal: at least 45 of 50, the same share of fewer runs.
need=$(((runs * 9 + 9) / 10))
if [ "$n_ok" -ge "$need" ]; then
  echo "  goal met: $n_ok of $runs succeeded (at least $need)"
else
  echo "  goal missed: $n_ok of $runs succeeded (at least $need)"
  verdict=1
fi
exit "$verdict"
