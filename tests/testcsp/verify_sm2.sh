#!/usr/bin/env bash
# verify_sm2.sh DIR: checks with the native openssl the SM2 signature that
# testcsp_test left in DIR/signatures.
set -eu
cd "$1"
openssl dgst -sm3 -verify testcerts/sm2_pub.pem -sigopt distid:1234567812345678 \
    -signature signatures/sm2_sm3.der signatures/sm2_sm3.bin
