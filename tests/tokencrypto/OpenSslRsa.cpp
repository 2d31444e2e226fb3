#include "OpenSslRsa.h"

#include <cstring>
#include <stdexcept>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

namespace tokencrypto_test {
namespace {

std::vector<uint8_t> Param(EVP_PKEY* pkey, const char* name)
{
    BIGNUM* value = nullptr;
    if (EVP_PKEY_get_bn_param(pkey, name, &value) != 1) throw std::runtime_error(name);
    std::vector<uint8_t> bytes(size_t(BN_num_bytes(value)));
    BN_bn2bin(value, bytes.data());
    BN_free(value);
    return bytes;
}

void RightAlign(uint8_t* field, size_t length, const std::vector<uint8_t>& value)
{
    std::memset(field, 0, length);
    std::memcpy(field + length - value.size(), value.data(), value.size());
}

std::vector<uint8_t> Raw(EVP_PKEY* pkey, const std::vector<uint8_t>& input, bool privateKey)
{
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr);
    std::vector<uint8_t> out(512);
    size_t length = out.size();
    const bool ok = (privateKey ? EVP_PKEY_decrypt_init(ctx) : EVP_PKEY_encrypt_init(ctx)) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) == 1 &&
        (privateKey ? EVP_PKEY_decrypt(ctx, out.data(), &length, input.data(), input.size())
                    : EVP_PKEY_encrypt(ctx, out.data(), &length, input.data(), input.size())) == 1;
    EVP_PKEY_CTX_free(ctx);
    if (!ok) throw std::runtime_error("raw RSA");
    out.resize(length);
    return out;
}

} // namespace

OpenSslRsaKey::OpenSslRsaKey(unsigned keyBits) : bits(keyBits)
{
    pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t(keyBits));
    if (pkey == nullptr) throw std::runtime_error("RSA keygen");
    n = Param(pkey, OSSL_PKEY_PARAM_RSA_N);
    e = Param(pkey, OSSL_PKEY_PARAM_RSA_E);
    d = Param(pkey, OSSL_PKEY_PARAM_RSA_D);
    p = Param(pkey, OSSL_PKEY_PARAM_RSA_FACTOR1);
    q = Param(pkey, OSSL_PKEY_PARAM_RSA_FACTOR2);
    dP = Param(pkey, OSSL_PKEY_PARAM_RSA_EXPONENT1);
    dQ = Param(pkey, OSSL_PKEY_PARAM_RSA_EXPONENT2);
    qInv = Param(pkey, OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
}

OpenSslRsaKey::~OpenSslRsaKey()
{
    EVP_PKEY_free(pkey);
}

tokencrypto::RsaPublicKey OpenSslRsaKey::PublicRecord() const
{
    tokencrypto::RsaPublicKey key;
    key.bits = bits;
    RightAlign(key.modulus, sizeof key.modulus, n);
    RightAlign(key.exponent, sizeof key.exponent, e);
    return key;
}

tokencrypto::RsaPrivateKey OpenSslRsaKey::PrivateRecord() const
{
    tokencrypto::RsaPrivateKey key;
    key.bits = bits;
    RightAlign(key.modulus, sizeof key.modulus, n);
    RightAlign(key.publicExponent, sizeof key.publicExponent, e);
    RightAlign(key.exponent, sizeof key.exponent, d);
    RightAlign(key.prime[0], sizeof key.prime[0], p);
    RightAlign(key.prime[1], sizeof key.prime[1], q);
    RightAlign(key.primeExponent[0], sizeof key.primeExponent[0], dP);
    RightAlign(key.primeExponent[1], sizeof key.primeExponent[1], dQ);
    RightAlign(key.coefficient, sizeof key.coefficient, qInv);
    return key;
}

std::vector<uint8_t> OpenSslRsaKey::Der() const
{
    unsigned char* der = nullptr;
    const int length = i2d_PrivateKey(pkey, &der);
    if (length <= 0) throw std::runtime_error("i2d_PrivateKey");
    std::vector<uint8_t> out(der, der + length);
    OPENSSL_free(der);
    return out;
}

std::vector<uint8_t> OpenSslRsaKey::RawPublic(const std::vector<uint8_t>& input) const
{
    return Raw(pkey, input, false);
}
std::vector<uint8_t> OpenSslRsaKey::RawPrivate(const std::vector<uint8_t>& input) const
{
    return Raw(pkey, input, true);
}

} // namespace tokencrypto_test
