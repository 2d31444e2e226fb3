#include "Sm2Asn1.h"

#include <openssl/asn1t.h>

// CBIGNUM: the coordinates are cleared when the record is freed.
ASN1_SEQUENCE(SM2Cipher) =
    {
        ASN1_SIMPLE(SM2Cipher, XCoordinate, CBIGNUM),
        ASN1_SIMPLE(SM2Cipher, YCoordinate, CBIGNUM),
        ASN1_SIMPLE(SM2Cipher, HASH, ASN1_OCTET_STRING),
        ASN1_SIMPLE(SM2Cipher, cipherText, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(SM2Cipher)

        IMPLEMENT_ASN1_FUNCTIONS(SM2Cipher)

            ASN1_SEQUENCE(PFX_SM2_PRIVATE_DATA) =
                {
                    ASN1_SIMPLE(PFX_SM2_PRIVATE_DATA, dataID, ASN1_OBJECT),
                    ASN1_SIMPLE(PFX_SM2_PRIVATE_DATA, dataEncryptedAlg, ASN1_OBJECT),
                    ASN1_SIMPLE(PFX_SM2_PRIVATE_DATA, encryptedSM2PrivateKey, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(PFX_SM2_PRIVATE_DATA)

                    ASN1_SEQUENCE(PFX_SM2_PUBLIC_DATA) =
                        {
                            ASN1_SIMPLE(PFX_SM2_PUBLIC_DATA, dataID, ASN1_OBJECT),
                            ASN1_SIMPLE(PFX_SM2_PUBLIC_DATA, SM2Certificate, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(PFX_SM2_PUBLIC_DATA)

                            ASN1_SEQUENCE(PFX_SM2) = {
                                ASN1_SIMPLE(PFX_SM2, version, ASN1_INTEGER),
                                ASN1_SIMPLE(PFX_SM2, privateData, PFX_SM2_PRIVATE_DATA),
                                ASN1_SIMPLE(PFX_SM2, publicData, PFX_SM2_PUBLIC_DATA),
} ASN1_SEQUENCE_END(PFX_SM2)
