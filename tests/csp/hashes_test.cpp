// Hash objects over simulated tokens, checked against OpenSSL.
#include "ProviderFixture.h"

#include "CryptOperations.h"
#include "HashObject.h"
#include "KeyObject.h"
#include "TokenKeys.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

#include <string>

namespace {

using csptest::ContextOf;
using tokentest::AddToken;
using Bytes = std::vector<std::uint8_t>;

Bytes Digest(const EVP_MD* md, const Bytes& data)
{
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned length = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &length, md, nullptr);
    out.resize(length);
    return out;
}

void AppendBignum(Bytes& out, const BIGNUM* value)
{
    std::uint8_t field[32];
    BN_bn2binpad(value, field, 32);
    out.insert(out.end(), field, field + 32);
}

// Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA), the curve taken
// from OpenSSL's own SM2 group.
Bytes ReferenceZ(const std::uint8_t* x, const std::uint8_t* y)
{
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
    BIGNUM *p = BN_new(), *a = BN_new(), *b = BN_new(), *gx = BN_new(), *gy = BN_new();
    EC_GROUP_get_curve(group, p, a, b, nullptr);
    EC_POINT_get_affine_coordinates(group, EC_GROUP_get0_generator(group), gx, gy, nullptr);
    const char id[] = "1234567812345678";
    Bytes input = {0x00, 0x80};
    input.insert(input.end(), id, id + 16);
    for (const BIGNUM* value : {a, b, gx, gy}) AppendBignum(input, value);
    input.insert(input.end(), x, x + 32);
    input.insert(input.end(), y, y + 32);
    for (BIGNUM* value : {p, a, b, gx, gy}) BN_free(value);
    EC_GROUP_free(group);
    return Digest(EVP_sm3(), input);
}

class Hashes : public csptest::ProviderFixture {
protected:
    void SetUp() override
    {
        ProviderFixture::SetUp();
        tokensim::TokenOptions options;
        options.kind = kind;
        AddToken("A", options);
    }
    HCRYPTPROV ContainerWith(ALG_ID algId)
    {
        HCRYPTPROV context = NewContainer("hash");
        HCRYPTKEY key = 0;
        EXPECT_EQ(GenKeyImpl(context, algId, 0, &key), 0u);
        return context;
    }
    Bytes HashOf(HCRYPTPROV context, ALG_ID algId, const Bytes& data)
    {
        HCRYPTHASH hash = 0;
        EXPECT_EQ(CreateHashImpl(context, algId, 0, 0, &hash), 0u);
        if (!data.empty()) {
            EXPECT_EQ(HashDataImpl(context, hash, data.data(), DWORD(data.size()), 0), 0u);
        }
        Bytes value(64);
        DWORD length = DWORD(value.size());
        EXPECT_EQ(GetHashParamImpl(context, hash, HP_HASHVAL, value.data(), &length, 0), 0u);
        value.resize(length);
        EXPECT_EQ(DestroyHashImpl(context, hash), 0u);
        return value;
    }
    std::uint32_t kind = 1;
};

class KeepingHashes : public Hashes {
protected:
    KeepingHashes() { kind = 2; }
};

// With the exchange key beside it, the value is still over the signature
// key's Z.
TEST_F(Hashes, Sm3StartsWithTheZValueOfTheSm2Key)
{
    HCRYPTPROV context = ContainerWith(kAlgSm2Sign);
    HCRYPTKEY exchange = 0;
    ASSERT_EQ(GenKeyImpl(context, kAlgSm2Keyx, 0, &exchange), 0u);
    std::uint8_t point[64];
    ASSERT_EQ(Token_ExportPublicKey(&ContextOf(context)->session, &ContextOf(context)->signatureKey, point), 0u);
    Bytes z = ReferenceZ(point, point + 32);
    for (const std::string& text : {std::string(), std::string("abc"), std::string(1000, 'm')}) {
        Bytes message(text.begin(), text.end());
        Bytes input = z;
        input.insert(input.end(), message.begin(), message.end());
        EXPECT_EQ(HashOf(context, kAlgSm3, message), Digest(EVP_sm3(), input)) << text.size();
    }
}

TEST_F(Hashes, Sm3WithoutItsZValueIsNotCreated)
{
    HCRYPTPROV context = ContainerWith(kAlgSm2Sign);
    tokentest::EditStore([](tokensim::State& s) { s.faults.push_back({56, 0x80006F00, 1}); });
    HCRYPTHASH hash = 0;
    EXPECT_EQ(CreateHashImpl(context, kAlgSm3, 0, 0, &hash), DWORD(NTE_FAIL));
    EXPECT_EQ(hash, 0u);
}

// An SM3 hash made before the exchange key existed has no value for it:
// that key is refused before the PIN is asked for, until a value is set.
TEST_F(Hashes, Sm3WithoutTheExchangeZValueServesOnlyTheSignatureKey)
{
    constexpr DWORD kPinAsked = 1223; // the stand-in prompt, cancelled
    HCRYPTPROV context = ContainerWith(kAlgSm2Sign);
    HCRYPTHASH hash = 0;
    ASSERT_EQ(CreateHashImpl(context, kAlgSm3, 0, 0, &hash), 0u);
    const BYTE data[] = "data";
    ASSERT_EQ(HashDataImpl(context, hash, data, 4, 0), 0u);
    HCRYPTKEY exchange = 0;
    ASSERT_EQ(GenKeyImpl(context, kAlgSm2Keyx, 0, &exchange), 0u);
    BYTE signature[64] = {};
    DWORD length = sizeof signature;
    EXPECT_EQ(SignHashImpl(context, hash, AT_KEYEXCHANGE, 0, signature, &length), DWORD(NTE_BAD_HASH_STATE));
    EXPECT_EQ(VerifySignatureImpl(context, hash, signature, 64, exchange, 0), DWORD(NTE_BAD_HASH_STATE));
    EXPECT_EQ(SignHashImpl(context, hash, AT_SIGNATURE, 0, signature, &length), kPinAsked);

    BYTE value[32] = {1};
    ASSERT_EQ(SetHashParamImpl(context, hash, HP_HASHVAL, value, 0), 0u);
    EXPECT_EQ(SignHashImpl(context, hash, AT_KEYEXCHANGE, 0, signature, &length), kPinAsked);
}

TEST_F(Hashes, Sm3InAnRsaContainerIsPlainSm3)
{
    HCRYPTPROV context = ContainerWith(AT_SIGNATURE);
    Bytes message = {'a', 'b', 'c'};
    EXPECT_EQ(HashOf(context, kAlgSm3, message), Digest(EVP_sm3(), message));
}

struct DigestCase {
    ALG_ID algId;
    const EVP_MD* (*md)();
};

class TokenDigests : public Hashes, public ::testing::WithParamInterface<DigestCase> { };

TEST_P(TokenDigests, MatchOpenSsl)
{
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, nullptr, 0), 0u);
    Bytes message(70000);
    for (std::size_t i = 0; i < message.size(); ++i) message[i] = std::uint8_t(i * 7);
    EXPECT_EQ(HashOf(context, GetParam().algId, message), Digest(GetParam().md(), message));
}

INSTANTIATE_TEST_SUITE_P(Algorithms, TokenDigests,
                         ::testing::Values(DigestCase {CALG_MD5, EVP_md5}, DigestCase {CALG_SHA1, EVP_sha1},
                                           DigestCase {CALG_SHA_256, EVP_sha256}));

TEST_F(Hashes, ValueIsFinalOnceAsked)
{
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, nullptr, 0), 0u);
    HCRYPTHASH hash = 0;
    ASSERT_EQ(CreateHashImpl(context, CALG_SHA_256, 0, 0, &hash), 0u);
    const BYTE data[] = "data";
    ASSERT_EQ(HashDataImpl(context, hash, data, 4, 0), 0u);
    BYTE first[32], second[32], small[16];
    DWORD length = sizeof small;
    EXPECT_EQ(GetHashParamImpl(context, hash, HP_HASHVAL, small, &length, 0), DWORD(NTE_BUFFER_TOO_SMALL));
    EXPECT_EQ(length, 32u);
    ASSERT_EQ(GetHashParamImpl(context, hash, HP_HASHVAL, first, &length, 0), 0u);
    ASSERT_EQ(GetHashParamImpl(context, hash, HP_HASHVAL, second, &length, 0), 0u);
    EXPECT_EQ(std::memcmp(first, second, 32), 0);
    EXPECT_EQ(HashDataImpl(context, hash, data, 4, 0), DWORD(NTE_BAD_HASH_STATE));
    EXPECT_EQ(HashDataImpl(context, hash, data, 4, 2), DWORD(NTE_BAD_FLAGS));
    ASSERT_EQ(DestroyHashImpl(context, hash), 0u);
    EXPECT_EQ(HashDataImpl(context, hash, data, 4, 0), DWORD(NTE_BAD_HASH));
}

TEST_F(Hashes, CreationRefusals)
{
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, nullptr, 0), 0u);
    HCRYPTHASH hash = 0;
    EXPECT_EQ(CreateHashImpl(context, CALG_SHA1, 1, 0, &hash), DWORD(NTE_BAD_KEY));
    EXPECT_EQ(CreateHashImpl(context, CALG_SHA1, 0, 1, &hash), DWORD(NTE_BAD_FLAGS));
    EXPECT_EQ(CreateHashImpl(context, CALG_HMAC, 0, 0, &hash), DWORD(NTE_BAD_ALGID));
}

TEST_F(Hashes, Ssl3ShaMd5CarriesTheValueItIsGiven)
{
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, nullptr, 0), 0u);
    HCRYPTHASH hash = 0;
    ASSERT_EQ(CreateHashImpl(context, CALG_SSL3_SHAMD5, 0, 0, &hash), 0u);
    DWORD size = 0, length = sizeof size;
    ASSERT_EQ(GetHashParamImpl(context, hash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &length, 0), 0u);
    EXPECT_EQ(size, 36u);
    BYTE value[36];
    length = sizeof value;
    EXPECT_EQ(GetHashParamImpl(context, hash, HP_HASHVAL, value, &length, 0), DWORD(NTE_BAD_HASH_STATE));
    EXPECT_EQ(HashDataImpl(context, hash, value, 4, 0), DWORD(NTE_BAD_HASH_STATE));
    for (int i = 0; i < 36; ++i) value[i] = BYTE(i);
    ASSERT_EQ(SetHashParamImpl(context, hash, HP_HASHVAL, value, 0), 0u);
    BYTE back[36];
    ASSERT_EQ(GetHashParamImpl(context, hash, HP_HASHVAL, back, &length, 0), 0u);
    EXPECT_EQ(std::memcmp(back, value, 36), 0);
}

TEST_F(KeepingHashes, DataIsKeptUpToItsRoom)
{
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, nullptr, 0), 0u);
    ASSERT_EQ(ContextOf(context)->session.deviceKind, 2u);
    Bytes data(kKeptDataRoom + 1, 'd');
    HCRYPTHASH whole = 0, over = 0, pieces = 0, md5 = 0;
    ASSERT_EQ(CreateHashImpl(context, CALG_SHA_256, 0, 0, &whole), 0u);
    ASSERT_EQ(HashDataImpl(context, whole, data.data(), kKeptDataRoom, 0), 0u);
    HashObject* kept = LookupHashObject(whole);
    ASSERT_NE(kept->keptData, nullptr);
    EXPECT_EQ(kept->keptLen, kKeptDataRoom);

    ASSERT_EQ(CreateHashImpl(context, CALG_SHA_256, 0, 0, &over), 0u);
    EXPECT_EQ(HashDataImpl(context, over, data.data(), kKeptDataRoom + 1, 0), DWORD(CRYPT_E_BAD_LEN));

    ASSERT_EQ(CreateHashImpl(context, CALG_SHA1, 0, 0, &pieces), 0u);
    ASSERT_EQ(HashDataImpl(context, pieces, data.data(), kKeptDataRoom - 1, 0), 0u);
    EXPECT_EQ(HashDataImpl(context, pieces, data.data(), 2, 0), DWORD(CRYPT_E_BAD_LEN));

    ASSERT_EQ(CreateHashImpl(context, CALG_MD5, 0, 0, &md5), 0u);
    ASSERT_EQ(HashDataImpl(context, md5, data.data(), kKeptDataRoom + 1, 0), 0u);
    EXPECT_EQ(LookupHashObject(md5)->keptData, nullptr);

    // A value set by the caller is what gets signed: the kept data goes.
    BYTE value[32] = {};
    ASSERT_EQ(SetHashParamImpl(context, whole, HP_HASHVAL, value, 0), 0u);
    EXPECT_EQ(kept->keptData, nullptr);
    EXPECT_EQ(kept->keptLen, 0u);
}

TEST_F(Hashes, NoCopyOnAKindOneToken)
{
    HCRYPTPROV context = 0;
    ASSERT_EQ(Acquire(&context, nullptr, 0), 0u);
    Bytes data(kKeptDataRoom + 1, 'd');
    HCRYPTHASH hash = 0;
    ASSERT_EQ(CreateHashImpl(context, CALG_SHA_256, 0, 0, &hash), 0u);
    ASSERT_EQ(HashDataImpl(context, hash, data.data(), DWORD(data.size()), 0), 0u);
    EXPECT_EQ(LookupHashObject(hash)->keptData, nullptr);
}

} // namespace
