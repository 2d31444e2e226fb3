#!/usr/bin/env bash
# make_test_certs.sh OUTDIR: fresh keys and self-signed certificates for
# the test provider, made with the native openssl. Nothing here is kept in
# the repository.
#
#   sm2.key       SM2 key (PEM)
#   sm2.der       SM3 with SM2, serial 0123ABCD, subject C, O (with a
#                 comma), CN; key usage digitalSignature+nonRepudiation;
#                 subject key identifier
#   rsa.key       RSA 2048 key (PEM), shared by the RSA certificates
#   rsa_sign.der  SHA-256 with RSA, serial 8001 (encoded 00 80 01), key
#                 usage digitalSignature
#   rsa_keyenc.der  key usage keyEncipherment only, serial 42
#   rsa_noext.der   no extensions at all, serial 43
#   rsa_emptyku.der key usage whose bit string is empty (03 01 00), serial 44
#   rsa_sign.pem, rsa_pub.pem, sm2_pub.pem  for openssl's own verifications
set -eu
out=$1
mkdir -p "$out"
cd "$out"

cat > req.cnf <<'CNF'
[req]
distinguished_name = dn
[dn]
CNF

selfsign() { # key digest serial subject outfile [-addext ...]
    local key=$1 digest=$2 serial=$3 subject=$4 outfile=$5
    shift 5
    openssl req -config req.cnf -x509 -new -key "$key" "-$digest" -set_serial "$serial" \
        -subj "$subject" -days 3650 "$@" -outform DER -out "$outfile"
}

openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out sm2.key 2>/dev/null
selfsign sm2.key sm3 0x0123ABCD "/C=CN/O=Alpha, Bank/CN=Alice Signer" sm2.der \
    -sigopt distid:1234567812345678 \
    -addext "keyUsage=digitalSignature,nonRepudiation" -addext "subjectKeyIdentifier=hash"

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.key 2>/dev/null
selfsign rsa.key sha256 0x8001 "/C=CN/O=Beta Bank/CN=Bob Signer" rsa_sign.der \
    -addext "keyUsage=digitalSignature" -addext "subjectKeyIdentifier=hash"
selfsign rsa.key sha256 0x42 "/C=CN/O=Beta Bank/CN=Carol Exchange" rsa_keyenc.der \
    -addext "keyUsage=keyEncipherment"
selfsign rsa.key sha256 0x43 "/C=CN/O=Beta Bank/CN=Dave Plain" rsa_noext.der
selfsign rsa.key sha256 0x44 "/C=CN/O=Beta Bank/CN=Erin Empty" rsa_emptyku.der \
    -addext "2.5.29.15=DER:03:01:00"
# PEM copies for openssl's own verification of what the agent signs.
openssl x509 -inform DER -in rsa_sign.der -out rsa_sign.pem
openssl pkey -in rsa.key -pubout -out rsa_pub.pem
openssl pkey -in sm2.key -pubout -out sm2_pub.pem
