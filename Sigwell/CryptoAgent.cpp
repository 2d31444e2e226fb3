#include "CryptoAgent.h"

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

CCryptoAgent::CCryptoAgent()
{
    OpenSSL_add_all_algorithms();
}

CCryptoAgent::~CCryptoAgent()
{
    // The library's clean-up calls, kept in their order; OpenSSL 3 makes
    // them no-ops and releases its tables at process exit.
    CRYPTO_cleanup_all_ex_data();
    ERR_free_strings();
    EVP_cleanup();
}
