#!/usr/bin/env bash
# Sets up the machine, builds every tree and runs all tests under Wine
# (and the native ones natively). Each Wine tree gets its own prefix and its
# own virtual display, so that the two trees' tests run side by side.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SIGWELL_BUILD:-$root/build}
export SIGWELL_BUILD=$build

"$root/scripts/setup.sh"

trees=()
for t in ${SIGWELL_TREES:-i686 x86_64 native}; do
    [ "$t" = native ] || trees+=("$t")
done

. "$root/scripts/virtual-display"
prefixes=
cleanup() {
    [ -z "$prefixes" ] || wait "$prefixes" || true
    [ ${#trees[@]} = 0 ] || "$root/scripts/wine-prefix" stop "${trees[@]}"
    stop_displays
}
trap cleanup EXIT

for t in "${trees[@]}"; do
    start_display
    export "SIGWELL_DISPLAY_$t=$display"
done
# Window tests always have a display here: one that finds none fails
# instead of skipping.
export SIGWELL_REQUIRE_DISPLAY=1

# The prefixes are made (or their wineservers started) while the trees build.
[ ${#trees[@]} = 0 ] || { "$root/scripts/wine-prefix" start "${trees[@]}" & prefixes=$!; }
"$root/scripts/build.sh"
[ -z "$prefixes" ] || wait "$prefixes"
mkdir -p "$build/artifacts"
# A test that fails is run once more before it counts as failed: where
# 32-bit programs run under emulation, a window test now and then misses
# its moment (see README).
ctest --test-dir "$build" --output-on-failure -j"${SIGWELL_TEST_JOBS:-$(nproc)}" --repeat until-pass:2 "$@"
