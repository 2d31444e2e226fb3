#!/usr/bin/env bash
# Sets up the machine, builds every tree and runs all tests under Wine
# (and the native ones natively), with a virtual display for the windows.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SIGWELL_BUILD:-$root/build}
export SIGWELL_BUILD=$build

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

xvfb_pid=
if [ -z "${DISPLAY:-}" ]; then
    display=:$((90 + RANDOM % 100))
    Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 & xvfb_pid=$!
    export DISPLAY=$display
    sleep 1
fi
cleanup() {
    "$root/scripts/wine-prefix" stop
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

"$root/scripts/wine-prefix" start
mkdir -p "$build/artifacts"
ctest --test-dir "$build" --output-on-failure -j"${SIGWELL_TEST_JOBS:-4}" "$@"
