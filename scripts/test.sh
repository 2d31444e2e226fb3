#!/usr/bin/env bash
# Sets up the machine, builds every tree and runs all tests under Wine
# (and the native ones natively). Each Wine tree gets its own prefix and its
# own virtual display, so that the two trees' tests run side by side.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SIGWELL_BUILD:-$root/build}
export SIGWELL_BUILD=$build

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

trees=()
for t in i686 x86_64; do
    [ ! -f "$build/$t/CTestTestfile.cmake" ] || trees+=("$t")
done

. "$root/scripts/virtual-display"
cleanup() {
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

[ ${#trees[@]} = 0 ] || "$root/scripts/wine-prefix" start "${trees[@]}"
mkdir -p "$build/artifacts"
ctest --test-dir "$build" --output-on-failure -j"${SIGWELL_TEST_JOBS:-$(nproc)}" "$@"
