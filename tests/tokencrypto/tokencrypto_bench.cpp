// Throughput of the software cryptography beside OpenSSL 3 in the same run.
// Every timed call is checked, so that a failing call cannot look fast.
// Built and run by scripts/bench.sh, never by CTest.
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "BenchmarkRatios.h"
#include "OpenSslRsa.h"
#include "OpenSslSm2.h"
#include "tokencrypto/Rsa.h"
#include "tokencrypto/Sm2.h"
#include "tokencrypto/Sm3.h"

namespace {

using namespace tokencrypto;

constexpr size_t kSm3Chunk = 16384;

// OpenSSL's digest of the benchmark's input, which both loops must give.
std::vector<uint8_t> ReferenceDigest(const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> digest(32);
    EVP_Digest(data.data(), data.size(), digest.data(), nullptr, EVP_sm3(), nullptr);
    return digest;
}

void Sm3_Ours(benchmark::State& state)
{
    std::vector<uint8_t> data(kSm3Chunk, 0x61);
    const std::vector<uint8_t> expected = ReferenceDigest(data);
    uint8_t digest[32];
    for (auto _ : state) {
        Sm3Context context;
        SM3_Init(&context);
        SM3_Update(&context, data.data(), uint32_t(data.size()));
        SM3_Final(&context, digest);
        if (std::memcmp(digest, expected.data(), 32) != 0) state.SkipWithError("wrong digest");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSm3Chunk));
}

void Sm3_OpenSsl(benchmark::State& state)
{
    std::vector<uint8_t> data(kSm3Chunk, 0x61);
    const std::vector<uint8_t> expected = ReferenceDigest(data);
    uint8_t digest[32];
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    const EVP_MD* sm3 = EVP_sm3();
    for (auto _ : state) {
        if (!EVP_DigestInit_ex(md, sm3, nullptr) || !EVP_DigestUpdate(md, data.data(), data.size()) ||
            !EVP_DigestFinal_ex(md, digest, nullptr) || std::memcmp(digest, expected.data(), 32) != 0) {
            state.SkipWithError("wrong digest");
        }
    }
    EVP_MD_CTX_free(md);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSm3Chunk));
}

struct Sm2Fixture {
    tokencrypto_test::OpenSslKey key;
    Sm2PrivateKey privateKey {256, {}};
    Sm2PublicKey publicKey {256, {}, {}};
    uint8_t e[32];
    uint8_t signature[64];
    std::vector<uint8_t> der;
    Sm2Fixture()
    {
        std::memcpy(privateKey.d, key.d, 32);
        std::memcpy(publicKey.x, key.x, 32);
        std::memcpy(publicKey.y, key.y, 32);
        std::memset(e, 0x5C, sizeof e);
        uint32_t length = 0;
        SM2_Sign(&privateKey, e, signature, &length);
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key.pkey, nullptr);
        size_t derLength = 80;
        der.resize(derLength);
        EVP_PKEY_sign_init(ctx);
        EVP_PKEY_sign(ctx, der.data(), &derLength, e, 32);
        der.resize(derLength);
        EVP_PKEY_CTX_free(ctx);
    }
};

Sm2Fixture& Sm2Data()
{
    static Sm2Fixture fixture;
    return fixture;
}

void Sm2Sign_Ours(benchmark::State& state)
{
    auto& f = Sm2Data();
    uint8_t signature[64];
    uint32_t length = 0;
    for (auto _ : state) {
        if (SM2_Sign(&f.privateKey, f.e, signature, &length) != SM2_OK) state.SkipWithError("sign failed");
    }
}

void Sm2Sign_OpenSsl(benchmark::State& state)
{
    auto& f = Sm2Data();
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, f.key.pkey, nullptr);
    EVP_PKEY_sign_init(ctx);
    uint8_t der[80];
    for (auto _ : state) {
        size_t length = sizeof der;
        if (EVP_PKEY_sign(ctx, der, &length, f.e, 32) != 1) state.SkipWithError("sign failed");
    }
    EVP_PKEY_CTX_free(ctx);
}

void Sm2Verify_Ours(benchmark::State& state)
{
    auto& f = Sm2Data();
    for (auto _ : state) {
        if (SM2_Verify(&f.publicKey, f.e, f.signature) != SM2_OK) state.SkipWithError("verify failed");
    }
}

void Sm2Verify_OpenSsl(benchmark::State& state)
{
    auto& f = Sm2Data();
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, f.key.pkey, nullptr);
    EVP_PKEY_verify_init(ctx);
    for (auto _ : state) {
        if (EVP_PKEY_verify(ctx, f.der.data(), f.der.size(), f.e, 32) != 1) state.SkipWithError("verify failed");
    }
    EVP_PKEY_CTX_free(ctx);
}

struct RsaFixture {
    tokencrypto_test::OpenSslRsaKey key {2048};
    RsaPublicKey publicKey = key.PublicRecord();
    RsaPrivateKey privateKey = key.PrivateRecord();
    std::vector<uint8_t> input = std::vector<uint8_t>(256, 0x3C);
};

RsaFixture& RsaData()
{
    static RsaFixture fixture;
    return fixture;
}

void RsaRaw_OpenSsl(benchmark::State& state, bool privateOperation)
{
    auto& f = RsaData();
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, f.key.pkey, nullptr);
    privateOperation ? EVP_PKEY_decrypt_init(ctx) : EVP_PKEY_encrypt_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING);
    uint8_t out[256];
    for (auto _ : state) {
        size_t length = sizeof out;
        const int ok = privateOperation ? EVP_PKEY_decrypt(ctx, out, &length, f.input.data(), 256)
                                        : EVP_PKEY_encrypt(ctx, out, &length, f.input.data(), 256);
        if (ok != 1) state.SkipWithError("RSA failed");
    }
    EVP_PKEY_CTX_free(ctx);
}

template <typename Key>
void RsaRaw_Ours(benchmark::State& state,
                 uint32_t (*operation)(uint8_t*, uint32_t*, const uint8_t*, uint32_t, const Key*), const Key& key)
{
    auto& f = RsaData();
    uint8_t out[256];
    uint32_t length = 0;
    for (auto _ : state) {
        if (operation(out, &length, f.input.data(), 256, &key) != RSA_OK) state.SkipWithError("RSA failed");
    }
}

void RsaPrivate_Ours(benchmark::State& state)
{
    RsaRaw_Ours(state, soft_RSA_PrivateDecrypt, RsaData().privateKey);
}

void RsaPrivate_OpenSsl(benchmark::State& state)
{
    RsaRaw_OpenSsl(state, true);
}

void RsaPublic_Ours(benchmark::State& state)
{
    RsaRaw_Ours(state, soft_RSA_PublicEncrypt, RsaData().publicKey);
}

void RsaPublic_OpenSsl(benchmark::State& state)
{
    RsaRaw_OpenSsl(state, false);
}

void RsaKeyGen_Ours(benchmark::State& state)
{
    RsaPublicKey publicKey;
    RsaPrivateKey privateKey;
    for (auto _ : state) {
        if (RSA_GenerateKey(2048, &publicKey, &privateKey) != RSA_OK) state.SkipWithError("key generation failed");
    }
}

void RsaKeyGen_OpenSsl(benchmark::State& state)
{
    for (auto _ : state) {
        EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t(2048));
        if (key == nullptr) state.SkipWithError("key generation failed");
        EVP_PKEY_free(key);
    }
}

BENCHMARK(Sm3_Ours);
BENCHMARK(Sm3_OpenSsl);
BENCHMARK(Sm2Sign_Ours);
BENCHMARK(Sm2Sign_OpenSsl);
BENCHMARK(Sm2Verify_Ours);
BENCHMARK(Sm2Verify_OpenSsl);
BENCHMARK(RsaPrivate_Ours);
BENCHMARK(RsaPrivate_OpenSsl);
BENCHMARK(RsaPublic_Ours);
BENCHMARK(RsaPublic_OpenSsl);
// Key generation time varies with where the primes fall: many runs even out the luck.
BENCHMARK(RsaKeyGen_Ours)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(RsaKeyGen_OpenSsl)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char** argv)
{
    return sigwell_bench::RunWithRatios(argc, argv);
}
