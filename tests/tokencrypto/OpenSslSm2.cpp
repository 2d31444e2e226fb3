#include "OpenSslSm2.h"

#include <cstring>
#include <stdexcept>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/param_build.h>

namespace tokencrypto_test {
namespace {

void Check(bool ok, const char* what)
{
    if (!ok) throw std::runtime_error(std::string("OpenSSL failed: ") + what);
}

void Export(OpenSslKey* key)
{
    BIGNUM* d = nullptr;
    Check(EVP_PKEY_get_bn_param(key->pkey, OSSL_PKEY_PARAM_PRIV_KEY, &d) == 1, "get d");
    BN_bn2binpad(d, key->d, 32);
    BN_clear_free(d);
    uint8_t point[65];
    size_t length = 0;
    Check(EVP_PKEY_get_octet_string_param(key->pkey, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &length) == 1 &&
              length == 65,
          "get public point");
    std::memcpy(key->x, point + 1, 32);
    std::memcpy(key->y, point + 33, 32);
}

// DER of SM2Ciphertext: SEQUENCE { INTEGER x, INTEGER y, OCTET STRING C3, OCTET STRING C2 }.
size_t ReadLength(const std::vector<uint8_t>& der, size_t* at)
{
    size_t length = der.at((*at)++);
    if (length & 0x80) {
        const size_t count = length & 0x7F;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | der.at((*at)++);
    }
    return length;
}

std::vector<uint8_t> ReadElement(const std::vector<uint8_t>& der, size_t* at, uint8_t tag)
{
    Check(der.at((*at)++) == tag, "ciphertext tag");
    const size_t length = ReadLength(der, at);
    Check(*at + length <= der.size(), "ciphertext length");
    std::vector<uint8_t> content(der.begin() + long(*at), der.begin() + long(*at + length));
    *at += length;
    return content;
}

void AppendCoordinate(std::vector<uint8_t>* out, const std::vector<uint8_t>& integer)
{
    std::vector<uint8_t> value = integer;
    while (value.size() > 32 && value[0] == 0) value.erase(value.begin());
    Check(value.size() <= 32, "coordinate size");
    out->insert(out->end(), 32 - value.size(), 0);
    out->insert(out->end(), value.begin(), value.end());
}

void AppendElement(std::vector<uint8_t>* out, uint8_t tag, const std::vector<uint8_t>& content)
{
    out->push_back(tag);
    const size_t length = content.size();
    if (length < 0x80) {
        out->push_back(uint8_t(length));
    } else if (length < 0x100) {
        out->push_back(0x81);
        out->push_back(uint8_t(length));
    } else {
        out->push_back(0x82);
        out->push_back(uint8_t(length >> 8));
        out->push_back(uint8_t(length));
    }
    out->insert(out->end(), content.begin(), content.end());
}

std::vector<uint8_t> Integer(const uint8_t* bytes)
{
    std::vector<uint8_t> value(bytes, bytes + 32);
    while (value.size() > 1 && value[0] == 0 && !(value[1] & 0x80)) value.erase(value.begin());
    if (value[0] & 0x80) value.insert(value.begin(), 0);
    return value;
}

std::vector<uint8_t> SignatureDer(const std::vector<uint8_t>& rs)
{
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(rs.data(), 32, nullptr), BN_bin2bn(rs.data() + 32, 32, nullptr));
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(sig, &der);
    ECDSA_SIG_free(sig);
    Check(length > 0, "signature DER");
    std::vector<uint8_t> out(der, der + length);
    OPENSSL_free(der);
    return out;
}

EVP_PKEY_CTX* SignatureContext(const OpenSslKey& key, const std::string& id, EVP_MD_CTX* md)
{
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key.pkey, nullptr);
    Check(pctx != nullptr, "pkey ctx");
    Check(EVP_PKEY_CTX_set1_id(pctx, id.data(), id.size()) > 0, "set id");
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    return pctx;
}

} // namespace

OpenSslKey::OpenSslKey()
{
    pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    Check(pkey != nullptr, "keygen");
    Export(this);
}

OpenSslKey::OpenSslKey(const uint8_t scalar[32])
{
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
    BIGNUM* priv = BN_bin2bn(scalar, 32, nullptr);
    EC_POINT* point = EC_POINT_new(group);
    Check(EC_POINT_mul(group, point, priv, nullptr, nullptr, nullptr) == 1, "d G");
    uint8_t encoded[65];
    Check(EC_POINT_point2oct(group, point, POINT_CONVERSION_UNCOMPRESSED, encoded, 65, nullptr) == 65, "encode");
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_PRIV_KEY, priv);
    OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, encoded, 65);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    Check(EVP_PKEY_fromdata_init(ctx) == 1 && EVP_PKEY_fromdata(ctx, &pkey, EVP_PKEY_KEYPAIR, params) == 1, "fromdata");
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    EC_POINT_free(point);
    BN_clear_free(priv);
    EC_GROUP_free(group);
    Export(this);
}

OpenSslKey::~OpenSslKey()
{
    EVP_PKEY_free(pkey);
}

std::vector<uint8_t> OpenSslSign(const OpenSslKey& key, const std::string& id, const std::vector<uint8_t>& message)
{
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = SignatureContext(key, id, md);
    Check(EVP_DigestSignInit(md, nullptr, EVP_sm3(), nullptr, key.pkey) == 1, "sign init");
    size_t length = 0;
    Check(EVP_DigestSign(md, nullptr, &length, message.data(), message.size()) == 1, "sign size");
    std::vector<uint8_t> der(length);
    Check(EVP_DigestSign(md, der.data(), &length, message.data(), message.size()) == 1, "sign");
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    const unsigned char* p = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, long(length));
    Check(sig != nullptr, "signature DER");
    std::vector<uint8_t> rs(64);
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), rs.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), rs.data() + 32, 32);
    ECDSA_SIG_free(sig);
    return rs;
}

bool OpenSslVerify(const OpenSslKey& key, const std::string& id, const std::vector<uint8_t>& message,
                   const std::vector<uint8_t>& rs)
{
    const auto der = SignatureDer(rs);
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = SignatureContext(key, id, md);
    Check(EVP_DigestVerifyInit(md, nullptr, EVP_sm3(), nullptr, key.pkey) == 1, "verify init");
    const int verdict = EVP_DigestVerify(md, der.data(), der.size(), message.data(), message.size());
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    return verdict == 1;
}

bool OpenSslVerifyDigest(const OpenSslKey& key, const uint8_t e[32], const std::vector<uint8_t>& rs)
{
    const auto der = SignatureDer(rs);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key.pkey, nullptr);
    Check(EVP_PKEY_verify_init(ctx) == 1, "verify init");
    const int verdict = EVP_PKEY_verify(ctx, der.data(), der.size(), e, 32);
    EVP_PKEY_CTX_free(ctx);
    return verdict == 1;
}

bool OpenSslSumOfMultiples(const std::vector<uint8_t>& u1, const std::vector<uint8_t>& u2, const OpenSslKey& q,
                           uint8_t xy[64])
{
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
    BIGNUM* m = BN_bin2bn(u1.data(), int(u1.size()), nullptr);
    BIGNUM* k = BN_bin2bn(u2.data(), int(u2.size()), nullptr);
    uint8_t encoded[65] = {0x04};
    std::memcpy(encoded + 1, q.x, 32);
    std::memcpy(encoded + 33, q.y, 32);
    EC_POINT* point = EC_POINT_new(group);
    EC_POINT* sum = EC_POINT_new(group);
    Check(EC_POINT_oct2point(group, point, encoded, sizeof encoded, nullptr) == 1, "decode Q");
    Check(EC_POINT_mul(group, sum, m, point, k, nullptr) == 1, "u1 G + u2 Q");
    const bool finite = EC_POINT_is_at_infinity(group, sum) == 0;
    if (finite) {
        Check(EC_POINT_point2oct(group, sum, POINT_CONVERSION_UNCOMPRESSED, encoded, 65, nullptr) == 65, "encode");
        std::memcpy(xy, encoded + 1, 64);
    }
    EC_POINT_free(sum);
    EC_POINT_free(point);
    BN_free(k);
    BN_free(m);
    EC_GROUP_free(group);
    return finite;
}

std::vector<uint8_t> OpenSslEncrypt(const OpenSslKey& key, const std::vector<uint8_t>& message)
{
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key.pkey, nullptr);
    Check(EVP_PKEY_encrypt_init(ctx) == 1, "encrypt init");
    size_t length = 0;
    Check(EVP_PKEY_encrypt(ctx, nullptr, &length, message.data(), message.size()) == 1, "encrypt size");
    std::vector<uint8_t> der(length);
    Check(EVP_PKEY_encrypt(ctx, der.data(), &length, message.data(), message.size()) == 1, "encrypt");
    EVP_PKEY_CTX_free(ctx);
    der.resize(length);
    size_t at = 0;
    const auto sequence = ReadElement(der, &at, 0x30);
    at = 0;
    std::vector<uint8_t> out {0x04};
    AppendCoordinate(&out, ReadElement(sequence, &at, 0x02));
    AppendCoordinate(&out, ReadElement(sequence, &at, 0x02));
    const auto c3 = ReadElement(sequence, &at, 0x04);
    const auto c2 = ReadElement(sequence, &at, 0x04);
    out.insert(out.end(), c2.begin(), c2.end());
    out.insert(out.end(), c3.begin(), c3.end());
    return out;
}

bool OpenSslDecrypt(const OpenSslKey& key, const std::vector<uint8_t>& cipher, std::vector<uint8_t>* message)
{
    std::vector<uint8_t> body;
    AppendElement(&body, 0x02, Integer(cipher.data() + 1));
    AppendElement(&body, 0x02, Integer(cipher.data() + 33));
    AppendElement(&body, 0x04, std::vector<uint8_t>(cipher.end() - 32, cipher.end()));
    AppendElement(&body, 0x04, std::vector<uint8_t>(cipher.begin() + 65, cipher.end() - 32));
    std::vector<uint8_t> der;
    AppendElement(&der, 0x30, body);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key.pkey, nullptr);
    Check(EVP_PKEY_decrypt_init(ctx) == 1, "decrypt init");
    size_t length = 0;
    bool ok = EVP_PKEY_decrypt(ctx, nullptr, &length, der.data(), der.size()) == 1;
    message->resize(length);
    ok = ok && EVP_PKEY_decrypt(ctx, message->data(), &length, der.data(), der.size()) == 1;
    message->resize(ok ? length : 0);
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

} // namespace tokencrypto_test
