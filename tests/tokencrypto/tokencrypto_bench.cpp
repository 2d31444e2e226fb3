// Throughput of the software cryptography beside OpenSSL 3 in the same run.
// Not a test: built natively when Google Benchmark is present, never run by CTest.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "OpenSslRsa.h"
#include "OpenSslSm2.h"
#include "tokencrypto/Rsa.h"
#include "tokencrypto/Sm2.h"
#include "tokencrypto/Sm3.h"

namespace {

using namespace tokencrypto;

constexpr size_t kSm3Chunk = 16384;

void Sm3_Ours(benchmark::State& state) {
    std::vector<uint8_t> data(kSm3Chunk, 0x61);
    uint8_t digest[32];
    for (auto _ : state) {
        Sm3Context context;
        SM3_Init(&context);
        SM3_Update(&context, data.data(), uint32_t(data.size()));
        SM3_Final(&context, digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSm3Chunk));
}

void Sm3_OpenSsl(benchmark::State& state) {
    std::vector<uint8_t> data(kSm3Chunk, 0x61);
    uint8_t digest[32];
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    const EVP_MD* sm3 = EVP_sm3();
    for (auto _ : state) {
        EVP_DigestInit_ex(md, sm3, nullptr);
        EVP_DigestUpdate(md, data.data(), data.size());
        EVP_DigestFinal_ex(md, digest, nullptr);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(md);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSm3Chunk));
}

struct Sm2Fixture {
    tokencrypto_test::OpenSslKey key;
    Sm2PrivateKey privateKey{256, {}};
    Sm2PublicKey publicKey{256, {}, {}};
    uint8_t e[32];
    uint8_t signature[64];
    std::vector<uint8_t> der;
    Sm2Fixture() {
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

Sm2Fixture& Sm2Data() {
    static Sm2Fixture fixture;
    return fixture;
}

void Sm2Sign_Ours(benchmark::State& state) {
    auto& f = Sm2Data();
    uint8_t signature[64];
    uint32_t length = 0;
    for (auto _ : state) benchmark::DoNotOptimize(SM2_Sign(&f.privateKey, f.e, signature, &length));
}

void Sm2Sign_OpenSsl(benchmark::State& state) {
    auto& f = Sm2Data();
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, f.key.pkey, nullptr);
    EVP_PKEY_sign_init(ctx);
    uint8_t der[80];
    for (auto _ : state) {
        size_t length = sizeof der;
        benchmark::DoNotOptimize(EVP_PKEY_sign(ctx, der, &length, f.e, 32));
    }
    EVP_PKEY_CTX_free(ctx);
}

void Sm2Verify_Ours(benchmark::State& state) {
    auto& f = Sm2Data();
    for (auto _ : state) {
        if (SM2_Verify(&f.publicKey, f.e, f.signature) != SM2_OK) state.SkipWithError("verify failed");
    }
}

void Sm2Verify_OpenSsl(benchmark::State& state) {
    auto& f = Sm2Data();
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, f.key.pkey, nullptr);
    EVP_PKEY_verify_init(ctx);
    for (auto _ : state) {
        if (EVP_PKEY_verify(ctx, f.der.data(), f.der.size(), f.e, 32) != 1) state.SkipWithError("verify failed");
    }
    EVP_PKEY_CTX_free(ctx);
}

struct RsaFixture {
    tokencrypto_test::OpenSslRsaKey key{2048};
    RsaPublicKey publicKey = key.PublicRecord();
    RsaPrivateKey privateKey = key.PrivateRecord();
    std::vector<uint8_t> input = std::vector<uint8_t>(256, 0x3C);
};

RsaFixture& RsaData() {
    static RsaFixture fixture;
    return fixture;
}

void RsaRaw_OpenSsl(benchmark::State& state, bool privateOperation) {
    auto& f = RsaData();
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, f.key.pkey, nullptr);
    privateOperation ? EVP_PKEY_decrypt_init(ctx) : EVP_PKEY_encrypt_init(ctx);
    EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING);
    uint8_t out[256];
    for (auto _ : state) {
        size_t length = sizeof out;
        benchmark::DoNotOptimize(privateOperation ? EVP_PKEY_decrypt(ctx, out, &length, f.input.data(), 256)
                                                  : EVP_PKEY_encrypt(ctx, out, &length, f.input.data(), 256));
    }
    EVP_PKEY_CTX_free(ctx);
}

void RsaPrivate_Ours(benchmark::State& state) {
    auto& f = RsaData();
    uint8_t out[256];
    uint32_t length = 0;
    for (auto _ : state) benchmark::DoNotOptimize(soft_RSA_PrivateDecrypt(out, &length, f.input.data(), 256, &f.privateKey));
}

void RsaPrivate_OpenSsl(benchmark::State& state) { RsaRaw_OpenSsl(state, true); }

void RsaPublic_Ours(benchmark::State& state) {
    auto& f = RsaData();
    uint8_t out[256];
    uint32_t length = 0;
    for (auto _ : state) benchmark::DoNotOptimize(soft_RSA_PublicEncrypt(out, &length, f.input.data(), 256, &f.publicKey));
}

void RsaPublic_OpenSsl(benchmark::State& state) { RsaRaw_OpenSsl(state, false); }

void RsaKeyGen_Ours(benchmark::State& state) {
    RsaPublicKey publicKey;
    RsaPrivateKey privateKey;
    for (auto _ : state) benchmark::DoNotOptimize(RSA_GenerateKey(2048, &publicKey, &privateKey));
}

void RsaKeyGen_OpenSsl(benchmark::State& state) {
    for (auto _ : state) EVP_PKEY_free(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t(2048)));
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

// Keeps each run's time per iteration so that the pairs can be set side by side.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            timePerIteration_[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const {
        std::printf("\nOpenSSL's time / ours (above 1: ours faster)\n");
        for (const auto& [name, ours] : timePerIteration_) {
            const size_t cut = name.find("_Ours");
            if (cut == std::string::npos) continue;
            auto theirs = timePerIteration_.find(name.substr(0, cut) + "_OpenSsl" + name.substr(cut + 5));
            if (theirs == timePerIteration_.end() || ours <= 0) continue;
            std::printf("  %-14s %.2f\n", name.substr(0, cut).c_str(), theirs->second / ours);
        }
    }

private:
    std::map<std::string, double> timePerIteration_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
