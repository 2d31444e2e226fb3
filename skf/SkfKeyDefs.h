// Key records, algorithm codes and cipher parameters of the smart-token
// interface, as KeltoSKF fills and reads them.
#pragma once

#include "SkfDefs.h"

typedef HANDLE HKEY_HANDLE;

constexpr ULONG SGD_SM1_ECB = 0x00000101;
constexpr ULONG SGD_SM1_CBC = 0x00000102;
constexpr ULONG SGD_SSF33_ECB = 0x00000201;
constexpr ULONG SGD_SSF33_CBC = 0x00000202;
constexpr ULONG SGD_SMS4_ECB = 0x00000401;
constexpr ULONG SGD_SMS4_CBC = 0x00000402;
constexpr ULONG SGD_RSA = 0x00010000;
constexpr ULONG SGD_SM2_1 = 0x00020100;

constexpr ULONG MAX_RSA_MODULUS_LEN = 256;
constexpr ULONG MAX_RSA_EXPONENT_LEN = 4;
constexpr ULONG ECC_MAX_COORDINATE_LEN = 64;
constexpr ULONG MAX_IV_LEN = 32;

struct RSAPUBLICKEYBLOB {
    ULONG AlgID;
    ULONG BitLen;
    BYTE Modulus[MAX_RSA_MODULUS_LEN];
    BYTE PublicExponent[MAX_RSA_EXPONENT_LEN];
};

struct RSAPRIVATEKEYBLOB {
    ULONG AlgID;
    ULONG BitLen;
    BYTE Modulus[MAX_RSA_MODULUS_LEN];
    BYTE PublicExponent[MAX_RSA_EXPONENT_LEN];
    BYTE PrivateExponent[MAX_RSA_MODULUS_LEN];
    BYTE Prime1[MAX_RSA_MODULUS_LEN / 2];
    BYTE Prime2[MAX_RSA_MODULUS_LEN / 2];
    BYTE Prime1Exponent[MAX_RSA_MODULUS_LEN / 2];
    BYTE Prime2Exponent[MAX_RSA_MODULUS_LEN / 2];
    BYTE Coefficient[MAX_RSA_MODULUS_LEN / 2];
};

struct ECCPUBLICKEYBLOB {
    ULONG BitLen;
    BYTE XCoordinate[ECC_MAX_COORDINATE_LEN];
    BYTE YCoordinate[ECC_MAX_COORDINATE_LEN];
};

struct ECCPRIVATEKEYBLOB {
    ULONG BitLen;
    BYTE PrivateKey[ECC_MAX_COORDINATE_LEN];
};

struct ECCSIGNATUREBLOB {
    BYTE r[ECC_MAX_COORDINATE_LEN];
    BYTE s[ECC_MAX_COORDINATE_LEN];
};

// Cipher holds CipherLen bytes; callers allocate the room.
struct ECCCIPHERBLOB {
    BYTE XCoordinate[ECC_MAX_COORDINATE_LEN];
    BYTE YCoordinate[ECC_MAX_COORDINATE_LEN];
    BYTE HASH[32];
    ULONG CipherLen;
    BYTE Cipher[1];
};

struct BLOCKCIPHERPARAM {
    BYTE IV[MAX_IV_LEN];
    ULONG IVLen;
    ULONG PaddingType;
    ULONG FeedBitLen;
};

struct ENVELOPEDKEYBLOB {
    ULONG Version;
    ULONG ulSymmAlgID;
    ULONG ulBits;
    BYTE cbEncryptedPriKey[64];
    ECCPUBLICKEYBLOB PubKey;
    ECCCIPHERBLOB ECCCipherBlob;
};

static_assert(sizeof(RSAPUBLICKEYBLOB) == 268, "RSAPUBLICKEYBLOB size");
static_assert(sizeof(RSAPRIVATEKEYBLOB) == 1164, "RSAPRIVATEKEYBLOB size");
static_assert(offsetof(RSAPRIVATEKEYBLOB, Coefficient) == 1036, "RSAPRIVATEKEYBLOB layout");
static_assert(sizeof(ECCPUBLICKEYBLOB) == 132, "ECCPUBLICKEYBLOB size");
static_assert(sizeof(ECCSIGNATUREBLOB) == 128, "ECCSIGNATUREBLOB size");
static_assert(offsetof(ECCCIPHERBLOB, CipherLen) == 160, "ECCCIPHERBLOB layout");
static_assert(offsetof(ECCCIPHERBLOB, Cipher) == 164, "ECCCIPHERBLOB layout");
static_assert(sizeof(BLOCKCIPHERPARAM) == 44, "BLOCKCIPHERPARAM size");
static_assert(offsetof(ENVELOPEDKEYBLOB, PubKey) == 76, "ENVELOPEDKEYBLOB layout");
static_assert(offsetof(ENVELOPEDKEYBLOB, ECCCipherBlob) == 208, "ENVELOPEDKEYBLOB layout");

// The room an ECCCIPHERBLOB with cipherLen bytes of cipher takes.
constexpr ULONG EccCipherBlobSize(ULONG cipherLen)
{
    return offsetof(ECCCIPHERBLOB, Cipher) + cipherLen;
}
