// Public-key operations over EVP_PKEY with the SM2 routing: keys on the SM2
// curves take SM2, other EC keys the library's ECDSA. The library's EC
// method itself is left alone, since replacing it would reroute every EC
// key of the process; callers that want SM2 call these.
#pragma once

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstddef>

// True for a key whose group is the SM2 curve, whatever type the library
// reports for it.
bool SmPkeyIsSm2(const EVP_PKEY *pkey);

// sig null: *siglen = the largest signature; returns 1. Otherwise *siglen
// is the room in sig on entry and the signature's length on return. SM2
// keys sign a 32-byte digest only. 1 success, <= 0 failure.
int pkey_ec_sign(EVP_PKEY *pkey, unsigned char *sig, size_t *siglen, const unsigned char *dgst, size_t dgstlen);
// 1 valid, <= 0 otherwise.
int pkey_ec_verify(EVP_PKEY *pkey, const unsigned char *sig, size_t siglen, const unsigned char *dgst, size_t dgstlen);

// DER SM2Cipher out. out null: *outlen = an upper bound; else *outlen is
// the room on entry and the length on return. Only SM2-curve keys.
// 1 or -1.
int pkey_sm2_encrypt(EVP_PKEY *pkey, unsigned char *out, size_t *outlen, const unsigned char *in, size_t inlen);
// The same conventions, the plaintext out.
int pkey_sm2_decrypt(EVP_PKEY *pkey, unsigned char *out, size_t *outlen, const unsigned char *in, size_t inlen);

// ASN1_item_verify with the SM2 Z value (identity "1234567812345678") put
// in front of the signed data for SM2 keys with SM3. 1 valid, 0 invalid,
// -1 on a missing key or unknown algorithm.
int SmAsn1ItemVerify(const ASN1_ITEM *it, const X509_ALGOR *alg, const ASN1_BIT_STRING *signature, const void *data,
                     EVP_PKEY *pkey);
// The same over a certificate's own to-be-signed bytes.
int SmX509Verify(const X509 *cert, EVP_PKEY *pkey);
