#include "SmAlgorithms.h"

#include "SmEvp.h"
#include "SmObjects.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include <initializer_list>

namespace {

int AddDigest()
{
    const EVP_MD *md = EVP_smcrypto_sm3();
    if (md == nullptr || !EVP_add_digest(md)) return 0;
    // EVP_add_digest gave "SM3" / "sm3" and the signature's "SM2-SM3" /
    // "SM2-with-SM3"; these are the names this system uses besides.
    const char *sn = OBJ_nid2sn(SM_NID_SM3);
    for (const char *alias : {"ChinaSM3", "tls1-sm3", "sm2-sm3", "ChinaSM2withSM3"}) {
        if (!EVP_add_digest_alias(sn, alias)) return 0;
    }
    return 1;
}

int AddCiphers()
{
    const EVP_CIPHER *sm4 = EVP_smcrypto_sm4_cbc();
    const EVP_CIPHER *zuc = EVP_zuc();
    if (sm4 == nullptr || zuc == nullptr) return 0;
    // "ChinaSM4-CBC" is also the name of the object 1.2.156.10197.1.104, so
    // lookups by that OID land here too.
    return EVP_add_cipher(sm4) && EVP_add_cipher_alias(OBJ_nid2sn(SM_NID_SM4_CBC), "ChinaSM4-CBC") &&
        EVP_add_cipher(zuc);
}

int RegisterOnce()
{
    // The library fills its tables at its own initialisation and would
    // overwrite names registered before it, so it is made to run first.
    if (!OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr)) return 0;
    return SmAddObjectAliases() && AddDigest() && AddCiphers();
}

} // namespace

int RegisterSmAlgorithms()
{
    static const int result = RegisterOnce();
    return result;
}
