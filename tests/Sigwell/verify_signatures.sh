#!/usr/bin/env bash
# verify_signatures.sh DIR: checks with the native openssl the signatures
# that cryptoapi_signing_test left in DIR/signatures.
set -eu
cd "$1"
s=signatures
openssl dgst -sha256 -verify testcerts/rsa_pub.pem -signature $s/pkcs1_sha256.sig $s/pkcs1_sha256.bin
openssl dgst -sha1 -verify testcerts/rsa_pub.pem -signature $s/pkcs1_sha1_empty.sig /dev/null
for f in $s/pkcs7_*_attached.der; do
    openssl cms -verify -noverify -binary -inform DER -in "$f" -out /dev/null
    echo "$f: verified"
done
openssl cms -verify -noverify -binary -inform DER -in $s/pkcs7_sha256_attached.der -out $s/content.out
cmp $s/content.out $s/pkcs7_data.bin
openssl cms -verify -noverify -binary -inform DER -in $s/pkcs7_sha256_detached.der \
    -content $s/pkcs7_data.bin -out /dev/null
echo "$s/pkcs7_sha256_detached.der: verified"
