#!/usr/bin/env bash
# The main job: starts SigwellHost under Wine as a browser would, selects
# the test certificate of a token provider, signs a sample text as PKCS#1
# and PKCS#7, and checks both signatures with openssl.
#
# The token here is the test provider (tests/testcsp), registered for the
# run under the name below with a fresh SM2 key and certificate.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SIGWELL_BUILD:-$root/build}
export SIGWELL_BUILD=$build
provider="Sigwell Main Job Token"
work=$build/main-job

"$root/scripts/setup.sh" >/dev/null
SIGWELL_TREES="i686" "$root/scripts/build.sh" >/dev/null

winpath() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
provider_reg() { # add|remove
    local key="HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Cryptography\\Defaults\\Provider\\$provider"
    local dll
    dll=$(winpath "$build/i686/tests/testcsp/testcsp.dll" | sed 's/\\/\\\\/g')
    if [ "$1" = add ]; then
        printf 'REGEDIT4\r\n\r\n[%s]\r\n"Image Path"="%s"\r\n"Type"=dword:00000001\r\n' "$key" "$dll"
    else
        printf 'REGEDIT4\r\n\r\n[-%s]\r\n' "$key"
    fi > "$work/provider.reg"
    # The 32-bit regedit writes the registry view the 32-bit host reads.
    "$root/scripts/wine-run" i686 regedit /S "$(winpath "$work/provider.reg")"
}

rm -rf "$work" && mkdir -p "$work"
bash "$root/tests/testcsp/make_test_certs.sh" "$work/certs" >/dev/null
openssl x509 -inform DER -in "$work/certs/sm2.der" -pubkey -noout -out "$work/certs/sm2_pub.pem"
printf 'key|%s|main-job|2|%s|%s|\n' "$provider" \
    "$(winpath "$work/certs/sm2.der")" "$(winpath "$work/certs/sm2.key")" > "$work/provider.cfg"
export SIGWELL_TESTCSP_CONFIG
SIGWELL_TESTCSP_CONFIG=$(winpath "$work/provider.cfg")

trap 'provider_reg remove; "$root/scripts/wine-prefix" stop' EXIT
"$root/scripts/wine-prefix" start
provider_reg add

python3 "$root/scripts/signing_demo.py" "$root/scripts/wine-run" i686 \
    "$build/i686/host/SigwellHost.exe" "$provider" "$work/certs/sm2_pub.pem" "$work"
