#!/usr/bin/env bash
# Builds the program and starts it in the folder run/. Where no meter is
# attached, the meter simulator stands in for one on COM1: press "COM Connect".
# The simulator is stopped when the program ends.
#
# QUELT_USB=1 plays the meter on its USB cable instead: the program runs on an
# emulated HID device "USB to Serial" (press "USB Connect"); QUELT_SIM_ARGS may
# add meter-sim options such as "--unplug-after 20 --replug-after 5".
set -euo pipefail
cd "$(dirname "$0")/.."
top="$PWD"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target quelt meter-sim quelt-mktable
mkdir -p run
cd run
# The program never creates its log table; make an empty one the first time.
[ -e Queltdb.DB ] || "$top/build/bin/quelt-mktable" Queltdb.DB
if [ "${QUELT_USB:-}" != "" ]; then
  # shellcheck disable=SC2086  # QUELT_SIM_ARGS holds several options
  exec "$top/build/bin/meter-sim" --usb --scenario "${QUELT_SIM_SCENARIO:-sweep}" ${QUELT_SIM_ARGS:-} \
    -- "$top/build/bin/quelt" "$@"
fi
sim_pid=""
if [ "${QUELT_NO_SIM:-}" = "" ]; then
  "$top/build/bin/meter-sim" --port 1 --scenario "${QUELT_SIM_SCENARIO:-sweep}" &
  sim_pid=$!
  trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true' EXIT
  # Wait for the simulator's COM1 link.
  for _ in $(seq 50); do [ -L COM1 ] && break; sleep 0.1; done
fi
"$top/build/bin/quelt" "$@"
