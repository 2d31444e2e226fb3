// SM3, SM4-CBC and ZUC throughput beside libcrypto's own SM3 and SM4-CBC,
// all through the same EVP calls, plus the bare cores.
#include "Sm3.h"
#include "Sm4.h"
#include "SmEvp.h"
#include "Zuc.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr size_t kLen = 16384;

void Digest(benchmark::State &state, const EVP_MD *md)
{
    std::vector<uint8_t> data(kLen, 0x5A);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, data.data(), data.size());
        EVP_DigestFinal_ex(ctx, out, &len);
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kLen));
}

void Cipher(benchmark::State &state, const EVP_CIPHER *c)
{
    std::vector<uint8_t> data(kLen, 0x5A), out(kLen + 16), key(16, 1), iv(16, 2);
    int len = 0;
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, c, nullptr, key.data(), iv.data());
    for (auto _ : state) {
        EVP_EncryptUpdate(ctx, out.data(), &len, data.data(), int(data.size()));
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kLen));
}

void BM_Sm3_Ours(benchmark::State &s) { Digest(s, EVP_smcrypto_sm3()); }
void BM_Sm3_Library(benchmark::State &s) { Digest(s, EVP_sm3()); }
void BM_Sm4Cbc_Ours(benchmark::State &s) { Cipher(s, EVP_smcrypto_sm4_cbc()); }
void BM_Sm4Cbc_Library(benchmark::State &s) { Cipher(s, EVP_sm4_cbc()); }
void BM_Zuc_Ours(benchmark::State &s) { Cipher(s, EVP_zuc()); }

void BM_Sm3_Core(benchmark::State &state)
{
    std::vector<uint8_t> data(kLen, 0x5A);
    uint8_t out[SM3_DIGEST_LENGTH];
    for (auto _ : state) {
        Sm3Digest(data.data(), data.size(), out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kLen));
}

void BM_Zuc_Core(benchmark::State &state)
{
    std::vector<uint8_t> data(kLen, 0x5A), key(16, 1), iv(16, 2);
    ZUC_STATE st;
    zuc_initialize(key.data(), iv.data(), &st);
    for (auto _ : state) {
        ZucXorStream(&st, data.data(), data.data(), data.size());
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kLen));
}

} // namespace

BENCHMARK(BM_Sm3_Ours);
BENCHMARK(BM_Sm3_Library);
BENCHMARK(BM_Sm3_Core);
BENCHMARK(BM_Sm4Cbc_Ours);
BENCHMARK(BM_Sm4Cbc_Library);
BENCHMARK(BM_Zuc_Ours);
BENCHMARK(BM_Zuc_Core);
BENCHMARK_MAIN();
