// Shared helpers of the smcrypto tests.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <vector>

// Digest through an EVP method, data fed in pieces of at most chunk bytes.
inline std::vector<uint8_t> EvpDigest(const EVP_MD *md, const std::vector<uint8_t> &data, size_t chunk)
{
    std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    bool ok = EVP_DigestInit_ex(ctx, md, nullptr);
    for (size_t i = 0; ok && i < data.size(); i += chunk)
        ok = EVP_DigestUpdate(ctx, data.data() + i, std::min(chunk, data.size() - i));
    ok = ok && EVP_DigestFinal_ex(ctx, out.data(), &len);
    EVP_MD_CTX_free(ctx);
    out.resize(ok ? len : 0);
    return out;
}

inline std::vector<uint8_t> Pattern(size_t len, uint32_t seed)
{
    std::vector<uint8_t> v(len);
    for (size_t i = 0; i < len; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = uint8_t(seed >> 16);
    }
    return v;
}
