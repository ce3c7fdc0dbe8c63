#!/usr/bin/env bash
# Settings written SOAK_RUNS times, through the command line (oxlo import of
# a settings file, turn about two files of different devices) or the
# configuration window (FRONT window: a new device name typed, Apply). A
# reported success counts only when the device, read over the unimpaired
# link, holds what was written; a failure only with its message, within its
# time limit and, in the window, with the window usable again.
#   settings.sh [cli|window]
source "$(dirname "$0")/lib.sh"
front=${1:-cli}
ack_s=${SOAK_ACK_SECONDS:-2}
limit=$((ack_s + 60))

# The settings the device holds, as oxlo config get --json shows them
# without the MAC.
held() {
  clean_look "$OXLO_CLI" config get "$1" --json >"$work/held.json" \
    || { echo "oxlo config get failed over the clean link" >&2; return 1; }
  python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); d.pop("mac"); print(json.dumps(d, sort_keys=True))' \
    "$work/held.json"
}

if [ "$front" = cli ]; then
  source_mac=02-00-5E-00-01-01
  mac=02-00-5E-00-01-02
  start_sim "$OXLO_LAB_DEV_NS" dev --config "$(dirname "$0")/../lab/settings_devices.json"
  clean_look "$OXLO_CLI" export "$source_mac" "$work/a.oxl" >/dev/null || fail "export of $source_mac"
  clean_look "$OXLO_CLI" export "$mac" "$work/b.oxl" >/dev/null || fail "export of $mac"
  held "$source_mac" >"$work/a.expected"
  held "$mac" >"$work/b.expected"
  ! cmp -s "$work/a.expected" "$work/b.expected" || fail "the two devices hold the same settings"
else
  : "${OXLO_SOAK_WINDOW:?}"
  mac=02-00-00-00-00-01
  start_sim "$OXLO_LAB_DEV_NS" dev --devices 1
fi

for run in $(seq "$runs"); do
  if [ "$front" = cli ]; then
    file=$([ $((run % 2)) = 1 ] && echo a || echo b)
    timed "$limit" "$work/out" "$work/err" "$OXLO_CLI" import "$mac" "$work/$file.oxl" \
      --timeout "$ack_s"
    success=$(grep -c "^Wrote the settings in " "$work/out" || true)
    message=$(grep -m1 '^oxlo: ' "$work/err" || true)
    restored=yes
  else
    name="Soak run $run"
    timed "$limit" "$work/out" "$work/err" "$OXLO_SOAK_WINDOW" apply "$mac" "$name" \
      --ack-ms "$((ack_s * 1000))"
    if [ "$status" = 3 ]; then
      not_started "$(sed -n 's/^not started: //p' "$work/out")"
      continue
    fi
    success=$(grep -cx "said: Configuration was successfully applied" "$work/out" || true)
    message=$(sed -n 's/^said: \(..*\)/\1/p' "$work/out")
    restored=$(sed -n 's/^restored: //p' "$work/out")
  fi
  if [ "$status" = 0 ] && [ "$success" = 1 ]; then
    now=$(held "$mac") || fail "run $run: the device could not be read back"
    if [ "$front" = cli ]; then
      if [ "$now" = "$(cat "$work/$file.expected")" ]; then verified; else
        false_success "$run" "the device holds other settings than $file.oxl"
      fi
    else
      shown=$(python3 -c 'import json,sys; print(json.loads(sys.argv[1])["network"]["name"])' "$now")
      if [ "$shown" = "$name" ]; then verified; else
        false_success "$run" "the device is named '$shown', not '$name'"
      fi
    fi
  elif [ "$status" = 124 ] || [ "$status" = 137 ]; then
    failed_badly "$run" "still running after $limit s"
  elif [ "$status" = 0 ] || [ "$success" = 1 ]; then
    failed_badly "$run" "exit $status with: $(cat "$work/out" "$work/err")"
  elif [ -z "$message" ]; then
    failed_badly "$run" "exit $status without a message: $(cat "$work/out" "$work/err")"
  elif [ "$restored" != yes ]; then
    failed_badly "$run" "the window was left unusable after: $message"
  else
    failed_cleanly "$(reason_of <(echo "$message"))"
  fi
done

if [ "$front" = cli ]; then
  summary "settings (oxlo import)"
else
  summary "settings (the configuration window's Apply)"
fi
