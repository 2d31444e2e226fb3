// SM3, SM4-CBC and SM2 beside OpenSSL 3's own in the same run, and ZUC.
// Every timed call is checked, so that a failing call cannot look fast.
// Built and run by scripts/bench.sh, never by CTest.
#include "Sm2.h"
#include "SmEvp.h"
#include "SmObjects.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <cstring>
#include <vector>

#include "BenchmarkRatios.h"

namespace {

constexpr size_t kLen = 16384;

// Times a call that must succeed every time; a failure marks the run.
template <class Call>
void TimeChecked(benchmark::State &state, const char *failure, Call call)
{
    for (auto _ : state) {
        if (!call()) state.SkipWithError(failure);
    }
}

void Digest(benchmark::State &state, const EVP_MD *md)
{
    std::vector<uint8_t> data(kLen, 0x5A);
    unsigned char expected[32], out[EVP_MAX_MD_SIZE];
    EVP_Digest(data.data(), data.size(), expected, nullptr, EVP_sm3(), nullptr);
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    TimeChecked(state, "wrong digest", [&] {
        return EVP_DigestInit_ex(ctx, md, nullptr) && EVP_DigestUpdate(ctx, data.data(), data.size()) &&
            EVP_DigestFinal_ex(ctx, out, nullptr) && std::memcmp(out, expected, 32) == 0;
    });
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kLen));
}

std::vector<uint8_t> Encrypt(EVP_CIPHER_CTX *ctx, const std::vector<uint8_t> &key, const std::vector<uint8_t> &iv,
                             const std::vector<uint8_t> &data)
{
    std::vector<uint8_t> out(data.size() + 16);
    int len = 0;
    if (!EVP_EncryptInit_ex(ctx, nullptr, nullptr, key.data(), iv.data()) ||
        !EVP_EncryptUpdate(ctx, out.data(), &len, data.data(), int(data.size())))
        return {};
    out.resize(size_t(len));
    return out;
}

// expectedCipher: the cipher whose output ours must equal, or none.
void Cipher(benchmark::State &state, const EVP_CIPHER *c, const EVP_CIPHER *expectedCipher)
{
    std::vector<uint8_t> data(kLen, 0x5A), key(16, 1), iv(16, 2);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    EVP_CIPHER_CTX *reference = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, c, nullptr, key.data(), iv.data());
    EVP_EncryptInit_ex(reference, expectedCipher != nullptr ? expectedCipher : c, nullptr, key.data(), iv.data());
    const std::vector<uint8_t> expected = Encrypt(reference, key, iv, data);
    TimeChecked(state, "wrong output",
                [&] { return Encrypt(ctx, key, iv, data) == expected && expected.size() == kLen; });
    EVP_CIPHER_CTX_free(reference);
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kLen));
}

struct Sm2Key {
    EVP_PKEY *pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    BIGNUM *d = nullptr, *x = nullptr, *y = nullptr, *e = BN_new();
    uint8_t digest[32];
    Sm2Key()
    {
        EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_PRIV_KEY, &d);
        EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_EC_PUB_X, &x);
        EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_EC_PUB_Y, &y);
        std::memset(digest, 0xC3, sizeof digest);
        BN_bin2bn(digest, sizeof digest, e);
    }
};

Sm2Key &Key()
{
    static Sm2Key key;
    return key;
}

void Sm2Sign_Ours(benchmark::State &state)
{
    Sm2Key &k = Key();
    TimeChecked(state, "sign failed", [&] {
        ECDSA_SIG *sig = sm2_do_sign(k.e, k.d, SM_NID_SM2_CURVE);
        const bool made = sig != nullptr;
        ECDSA_SIG_free(sig);
        return made;
    });
}

void Sm2Verify_Ours(benchmark::State &state)
{
    Sm2Key &k = Key();
    ECDSA_SIG *sig = sm2_do_sign(k.e, k.d, SM_NID_SM2_CURVE);
    TimeChecked(state, "verify failed", [&] { return sm2_do_verify(sig, k.x, k.y, k.e, SM_NID_SM2_CURVE) == 1; });
    ECDSA_SIG_free(sig);
}

// OpenSSL's own SM2 signing on the same key.
struct OpenSslSigner {
    Sm2Key &k = Key();
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, k.pkey, nullptr);
    uint8_t der[80];
    size_t length = 0;

    OpenSslSigner() { EVP_PKEY_sign_init(ctx); }
    ~OpenSslSigner() { EVP_PKEY_CTX_free(ctx); }
    OpenSslSigner(const OpenSslSigner &) = delete;
    OpenSslSigner &operator=(const OpenSslSigner &) = delete;

    bool Sign()
    {
        length = sizeof der;
        return EVP_PKEY_sign(ctx, der, &length, k.digest, sizeof k.digest) == 1;
    }
};

void Sm2Sign_OpenSsl(benchmark::State &state)
{
    OpenSslSigner signer;
    TimeChecked(state, "sign failed", [&] { return signer.Sign(); });
}

void Sm2Verify_OpenSsl(benchmark::State &state)
{
    OpenSslSigner signer;
    signer.Sign();
    EVP_PKEY_verify_init(signer.ctx);
    TimeChecked(state, "verify failed", [&] {
        return EVP_PKEY_verify(signer.ctx, signer.der, signer.length, signer.k.digest, sizeof signer.k.digest) == 1;
    });
}

void Sm3_Ours(benchmark::State &s)
{
    Digest(s, EVP_smcrypto_sm3());
}
void Sm3_OpenSsl(benchmark::State &s)
{
    Digest(s, EVP_sm3());
}
void Sm4Cbc_Ours(benchmark::State &s)
{
    Cipher(s, EVP_smcrypto_sm4_cbc(), EVP_sm4_cbc());
}
void Sm4Cbc_OpenSsl(benchmark::State &s)
{
    Cipher(s, EVP_sm4_cbc(), nullptr);
}
void Zuc_Ours(benchmark::State &s)
{
    Cipher(s, EVP_zuc(), nullptr);
}

} // namespace

BENCHMARK(Sm3_Ours);
BENCHMARK(Sm3_OpenSsl);
BENCHMARK(Sm4Cbc_Ours);
BENCHMARK(Sm4Cbc_OpenSsl);
BENCHMARK(Zuc_Ours);
BENCHMARK(Sm2Sign_Ours);
BENCHMARK(Sm2Sign_OpenSsl);
BENCHMARK(Sm2Verify_Ours);
BENCHMARK(Sm2Verify_OpenSsl);

int main(int argc, char **argv)
{
    return sigwell_bench::RunWithRatios(argc, argv);
}
