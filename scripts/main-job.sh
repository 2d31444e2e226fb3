#!/usr/bin/env bash
# The main job: SigwellHost under Wine, started as a browser starts it,
# selects the certificate of the default token through KeltoCSP and signs a
# sample text as PKCS#1 and PKCS#7; the provider asks for the PIN in its own
# dialog. openssl checks the certificate against the token CA and both
# signatures against the certificate.
#
# The token is the simulated one: on first run `tokensim setup-default`
# makes token VK0000000001 (user PIN 12345678) with an SM2 key and a
# certificate, kept in the Wine user's profile like a token left plugged in.
#
#   main-job.sh              type the PIN yourself (a display is needed)
#   main-job.sh --demo-pin   a UI driver types the demo PIN (under Xvfb when
#                            there is no display)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SIGWELL_BUILD:-$root/build}
export SIGWELL_BUILD=$build
provider="VESK FOR LORVIN CSP v1.1.0"
demo_pin=
[ "${1:-}" = --demo-pin ] && demo_pin=12345678
work=$build/main-job
i686=$build/i686

"$root/scripts/setup.sh" >/dev/null
SIGWELL_TREES="i686" "$root/scripts/build.sh" >/dev/null

winpath() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
wine32() { "$root/scripts/wine-run" i686 "$@"; }

. "$root/scripts/virtual-display"
driver_pid=
cleanup() {
    [ -z "$driver_pid" ] || kill "$driver_pid" 2>/dev/null || true
    "$root/scripts/wine-prefix" stop i686
    stop_displays
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
    [ -n "$demo_pin" ] || { echo "main-job: no display for the PIN dialog; use --demo-pin" >&2; exit 2; }
    start_display
    export DISPLAY=$display
fi

rm -rf "$work" && mkdir -p "$work"
"$root/scripts/wine-prefix" start i686
# The provider loads the vendor library by name, as installed on PATH.
export WINEPATH
WINEPATH=$(winpath "$i686/tokensim")
"$root/scripts/register-csp" i686 "$i686/csp/KeltoCSP.dll"
wine32 "$i686/tokensim/tokensim.exe" setup-default </dev/null
wine32 "$i686/tokensim/tokensim.exe" ca --out "$(winpath "$work")\\ca.der" </dev/null

if [ -n "$demo_pin" ]; then
    wine32 "$i686/tests/csp/PinDialogDriver.exe" --timeout 300 "serve=$demo_pin" </dev/null >/dev/null & driver_pid=$!
else
    echo "Type the token's PIN into the dialog when it asks (simulated token: 12345678)."
fi

python3 "$root/scripts/signing_demo.py" "$root/scripts/wine-run" i686 \
    "$i686/host/SigwellHost.exe" "$provider" "$work/ca.der" "$work"
