// ASN.1 forms of SM2 data: the DER ciphertext and the key-container record.
#pragma once

#include <openssl/asn1.h>
#include <openssl/bn.h>

struct SM2Cipher {
    BIGNUM *XCoordinate;
    BIGNUM *YCoordinate;
    ASN1_OCTET_STRING *HASH;
    ASN1_OCTET_STRING *cipherText;
};

DECLARE_ASN1_FUNCTIONS(SM2Cipher)

struct PFX_SM2_PRIVATE_DATA {
    ASN1_OBJECT *dataID;
    ASN1_OBJECT *dataEncryptedAlg;
    ASN1_OCTET_STRING *encryptedSM2PrivateKey;
};

struct PFX_SM2_PUBLIC_DATA {
    ASN1_OBJECT *dataID;
    ASN1_OCTET_STRING *SM2Certificate;
};

struct PFX_SM2 {
    ASN1_INTEGER *version;
    PFX_SM2_PRIVATE_DATA *privateData;
    PFX_SM2_PUBLIC_DATA *publicData;
};

DECLARE_ASN1_ITEM(PFX_SM2_PRIVATE_DATA)
DECLARE_ASN1_ITEM(PFX_SM2_PUBLIC_DATA)
DECLARE_ASN1_ITEM(PFX_SM2)
