#!/usr/bin/env bash
# The windows over real sockets: the configuration window reading and
# writing a simulated device, then the device list's search, search by IP
# and Apply out of both local addresses, and the rollout of several devices
# (the checks are in the test program).
source "$(dirname "$0")/lib.sh"
: "${OXLO_UI_LAB_TESTS:?}"

mkdir "$work/firmware"
start_sim "$OXLO_LAB_DEV_NS" dev --devices 3 --firmware-out "$work/firmware"
start_sim "$OXLO_LAB_DEV2_NS" dev2 --devices 1 --mac-base 02-00-00-00-10-00
export OXLO_TEST_DEV_LOG="$work/dev.log" OXLO_TEST_DEV2_LOG="$work/dev2.log" QT_QPA_PLATFORM=offscreen \
  OXLO_TEST_FIRMWARE_OUT="$work/firmware"
# The configuration test expects the first device as the simulator made it.
"$OXLO_UI_LAB_TESTS" --gtest_filter='ConfigLab.*'
"$OXLO_UI_LAB_TESTS" --gtest_filter='DetectLab.*'

# The list's rollout once more against devices that restart and come back
# with the version the image brings.
kill "${sim_pids[0]}"
wait "${sim_pids[0]}" 2>/dev/null || true
rm -rf "$work/firmware" && mkdir "$work/firmware"
start_sim "$OXLO_LAB_DEV_NS" dev-upgrading --devices 3 --firmware-out "$work/firmware" \
  --reboot-ms 500 --version-after 9.9.9
OXLO_TEST_SIM_VERSION_AFTER=9.9.9 OXLO_TEST_DEV_LOG="$work/dev-upgrading.log" \
  "$OXLO_UI_LAB_TESTS" --gtest_filter='DetectLab.SeveralDevicesUpgradeFromTheListsMenu'
