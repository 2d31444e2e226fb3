// The token's own cryptography, on OpenSSL: an implementation apart from
// the system's software cryptography, so tests against it cross-check.
#pragma once

#include "TokenState.h"

#include <openssl/evp.h>

#include <cstdint>
#include <memory>

namespace tokensim {

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// SM2 signatures made and checked with this identifier when the token
// hashes the data itself, and by the test CA.
constexpr char kSm2DefaultId[] = "1234567812345678";

bool GenerateKeyPair(std::uint32_t algorithm, std::uint32_t bits, KeyPair& key);
bool Sm2PublicFromScalar(const Bytes& scalar, Bytes& x, Bytes& y);
// A key pair's OpenSSL key, with its private half when it has one.
Pkey ToPkey(const KeyPair& key, bool withPrivate);

// Results are vendor status words.
std::uint32_t SignBlock(const KeyPair& key, std::uint8_t padding, const Bytes& block, Bytes& out);
std::uint32_t SignData(const KeyPair& key, std::uint32_t modeByte, const Bytes& data, Bytes& out);
std::uint32_t VerifyRecover(const KeyPair& key, std::uint8_t padding, const Bytes& signature, Bytes& out);
std::uint32_t VerifySm2(const KeyPair& key, const Bytes& digest, const Bytes& rs);
std::uint32_t PublicEncrypt(const KeyPair& key, std::uint8_t padding, const Bytes& in, Bytes& out);
std::uint32_t PrivateDecrypt(const KeyPair& key, std::uint8_t padding, const Bytes& in, Bytes& out);

bool RandomBytes(std::uint8_t* out, std::size_t len);

class Digest {
public:
    explicit Digest(std::uint32_t vendorAlgorithm);
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;
    bool Valid() const { return m_ctx != nullptr; }
    bool Update(const std::uint8_t* data, std::size_t len);
    bool Final(Bytes& out);

private:
    EVP_MD_CTX* m_ctx = nullptr;
};

// A block cipher stream: DES, 3DES and AES for the symmetric slots; SM4
// for the cipher APDUs.
class BlockCipher {
public:
    BlockCipher() = default;
    ~BlockCipher();
    BlockCipher(const BlockCipher&) = delete;
    BlockCipher& operator=(const BlockCipher&) = delete;
    bool Start(const char* name, const Bytes& key, const Bytes& iv, bool encrypt, bool pad);
    bool Update(const std::uint8_t* in, std::size_t len, Bytes& out);
    bool Final(Bytes& out);

private:
    EVP_CIPHER_CTX* m_ctx = nullptr;
};

} // namespace tokensim
