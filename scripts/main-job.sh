#!/usr/bin/env bash
# The main job: starts SigwellHost under Wine as a browser would and
# exchanges sample requests with it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SIGWELL_BUILD:-$root/build}
export SIGWELL_BUILD=$build

"$root/scripts/setup.sh" >/dev/null
SIGWELL_TREES="i686" "$root/scripts/build.sh" >/dev/null
trap '"$root/scripts/wine-prefix" stop' EXIT
"$root/scripts/wine-prefix" start

python3 "$root/scripts/host_client.py" "$root/scripts/wine-run" i686 "$build/i686/host/SigwellHost.exe" \
    '{"function":"GetVersion","params":[],"randomId":"1"}'
