// Key blobs in and out of the provider over a simulated token, checked
// against keys and ciphertexts made by OpenSSL.
#include "ProviderFixture.h"

#include "RsaKeyBlob.h"

#include "KeyBlobs.h"
#include "KeyObject.h"
#include "TokenKeys.h"
#include "UserPin.h"
#include "TokenCrypto.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <memory>

namespace {

using csptest::Append;
using csptest::AppendWord;
using csptest::Bytes;
using csptest::Component;
using csptest::ContextOf;
using csptest::Header;
using csptest::NewRsaKey;
using csptest::PKey;
using csptest::RsaPrivateBlob;

constexpr DWORD kOtherAlgorithmContainer = 8611;

Bytes RsaPublicBlob(EVP_PKEY* key, ALG_ID algId)
{
    std::size_t n = static_cast<std::size_t>(EVP_PKEY_get_bits(key)) / 8;
    Bytes blob = Header(PUBLICKEYBLOB, algId);
    AppendWord(&blob, 0x31415352);
    AppendWord(&blob, static_cast<std::uint32_t>(n * 8));
    AppendWord(&blob, 65537);
    Append(&blob, Component(key, OSSL_PKEY_PARAM_RSA_N, n));
    return blob;
}

using PkeyStep = int (*)(EVP_PKEY_CTX*, unsigned char*, size_t*, const unsigned char*, size_t);

// A PKCS #1 v1.5 operation of OpenSSL's; empty when its last step fails.
Bytes RsaPkcs1(EVP_PKEY* key, int (*init)(EVP_PKEY_CTX*), PkeyStep step, const Bytes& in, bool mustSucceed)
{
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key, nullptr), EVP_PKEY_CTX_free);
    size_t length = 0;
    EXPECT_EQ(init(ctx.get()), 1);
    EXPECT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING), 1);
    EXPECT_EQ(step(ctx.get(), nullptr, &length, in.data(), in.size()), 1);
    Bytes out(length);
    int done = step(ctx.get(), out.data(), &length, in.data(), in.size());
    if (mustSucceed) {
        EXPECT_EQ(done, 1);
    }
    if (done != 1) return {};
    out.resize(length);
    return out;
}

Bytes RsaEncrypt(EVP_PKEY* key, const Bytes& plain)
{
    return RsaPkcs1(key, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, plain, true);
}

Bytes RsaDecrypt(EVP_PKEY* key, const Bytes& cipher)
{
    return RsaPkcs1(key, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, cipher, false);
}

Bytes TripleDesEcb(const Bytes& key, const Bytes& plain)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    Bytes out(plain.size() + 8);
    int length = 0, last = 0;
    EXPECT_EQ(EVP_EncryptInit_ex(ctx.get(), EVP_des_ede3_ecb(), nullptr, key.data(), nullptr), 1);
    EXPECT_EQ(EVP_EncryptUpdate(ctx.get(), out.data(), &length, plain.data(), static_cast<int>(plain.size())), 1);
    EXPECT_EQ(EVP_EncryptFinal_ex(ctx.get(), out.data() + length, &last), 1);
    out.resize(static_cast<std::size_t>(length + last));
    return out;
}

Bytes DerElement(BYTE tag, const Bytes& content)
{
    Bytes out = {tag};
    std::size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<BYTE>(n));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<BYTE>(n >> 8));
        out.push_back(static_cast<BYTE>(n));
    }
    Append(&out, content);
    return out;
}

csptest::PKey RsaKeyWithExponent3(int bits)
{
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr),
                                                                    EVP_PKEY_CTX_free);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> three(BN_new(), BN_free);
    EVP_PKEY* key = nullptr;
    bool made = ctx && three && BN_set_word(three.get(), 3) && EVP_PKEY_keygen_init(ctx.get()) == 1 &&
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) == 1 &&
        EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), three.get()) == 1 && EVP_PKEY_generate(ctx.get(), &key) == 1;
    EXPECT_TRUE(made);
    return csptest::PKey(key, EVP_PKEY_free);
}

class KeyBlobs : public csptest::ProviderFixture {
protected:
    void SetUp() override
    {
        ProviderFixture::SetUp();
        tokentest::AddToken("A");
        g_PinVerified = 0;
    }
    void TearDown() override
    {
        g_PinVerified = 0;
        ProviderFixture::TearDown();
    }
    // A private-key blob imported as the token's PIN prompt would allow
    // right after a key-set signature; exportable, so that the tests can
    // read back what went onto the token.
    DWORD ImportPrivate(HCRYPTPROV context, const Bytes& blob, HCRYPTKEY* key, DWORD flags = CRYPT_EXPORTABLE)
    {
        g_PinVerified = 1;
        return ImportKeyImpl(context, blob.data(), static_cast<DWORD>(blob.size()), 0, flags, key);
    }
    Bytes Export(HCRYPTPROV context, HCRYPTKEY key, DWORD type, HCRYPTKEY wrap = 0)
    {
        DWORD length = 0;
        EXPECT_EQ(ExportKeyImpl(context, key, wrap, type, nullptr, &length), 0u);
        Bytes blob(length);
        EXPECT_EQ(ExportKeyImpl(context, key, wrap, type, blob.data(), &length), 0u);
        blob.resize(length);
        return blob;
    }
};

TEST_F(KeyBlobs, OpenSslRsaKeyImportedAndExportedUnchanged)
{
    PKey rsa = NewRsaKey(1024);
    Bytes blob = RsaPrivateBlob(rsa.get(), CALG_RSA_SIGN);
    HCRYPTPROV context = NewContainer("rsa");
    HCRYPTKEY key = 0;
    ASSERT_EQ(ImportPrivate(context, blob, &key), 0u);
    EXPECT_EQ(g_PinVerified, 0u) << "the flag serves one import";
    EXPECT_EQ(ContextOf(context)->signatureKey.algId, DWORD(CALG_RSA_SIGN));
    EXPECT_EQ(ContextOf(context)->signatureKey.keyLen, 128u);

    EXPECT_EQ(Export(context, key, PRIVATEKEYBLOB), blob);
    HCRYPTKEY kept = 0;
    ASSERT_EQ(ImportPrivate(context, blob, &kept, 0), 0u);
    DWORD length = 0;
    EXPECT_EQ(ExportKeyImpl(context, kept, 0, PRIVATEKEYBLOB, nullptr, &length), DWORD(NTE_BAD_KEY_STATE))
        << "imported without CRYPT_EXPORTABLE";
    Bytes publicBlob = Export(context, key, PUBLICKEYBLOB);
    EXPECT_EQ(publicBlob, RsaPublicBlob(rsa.get(), CALG_RSA_SIGN));

    // A later context on the container finds the imported pair.
    Release(context);
    HCRYPTPROV reopened = 0;
    ASSERT_EQ(Acquire(&reopened, "rsa", 0), 0u);
    HCRYPTKEY user = 0;
    ASSERT_EQ(GetUserKeyImpl(reopened, AT_SIGNATURE, &user), 0u);
    EXPECT_EQ(Export(reopened, user, PUBLICKEYBLOB), publicBlob);
}

TEST_F(KeyBlobs, PrivateImportRefusals)
{
    PKey rsa = NewRsaKey(1024);
    Bytes blob = RsaPrivateBlob(rsa.get(), CALG_RSA_KEYX);
    HCRYPTPROV context = NewContainer("refusals");
    HCRYPTKEY key = 0;
    // Without a verified PIN the prompt is asked for (here: cancelled), but
    // only for a blob that can be imported.
    auto import = [&](const Bytes& b) {
        return ImportKeyImpl(context, b.data(), static_cast<DWORD>(b.size()), 0, 0, &key);
    };

    Bytes truncated(blob.begin(), blob.end() - 1);
    EXPECT_EQ(import(truncated), DWORD(NTE_BAD_DATA)) << "no read past the blob";
    Bytes otherExponent = blob;
    otherExponent[16] = 3;
    otherExponent[18] = 0;
    EXPECT_EQ(import(otherExponent), DWORD(NTE_BAD_DATA));
    Bytes publicMagic = blob;
    publicMagic[11] = '1';
    EXPECT_EQ(import(publicMagic), DWORD(NTE_BAD_DATA));
    Bytes version = blob;
    version[1] = 3;
    EXPECT_EQ(import(version), DWORD(NTE_BAD_VER));
    EXPECT_EQ(ContextOf(context)->exchangeKey.keyLen, 0u) << "a refused import leaves the container as it was";
    EXPECT_EQ(import(blob), 1223u);

    HCRYPTKEY sm2 = 0;
    ASSERT_EQ(GenKeyImpl(context, kAlgSm2Sign, 0, &sm2), 0u);
    EXPECT_EQ(import(blob), kOtherAlgorithmContainer);
}

TEST_F(KeyBlobs, Sm2ScalarImportedGivesItsPublicPoint)
{
    Bytes scalar(32);
    for (int i = 0; i < 32; ++i) scalar[i] = static_cast<BYTE>(0x11 + i);
    tokensim::Bytes x, y;
    ASSERT_TRUE(tokensim::Sm2PublicFromScalar(tokensim::Bytes(scalar.begin(), scalar.end()), x, y));

    Bytes record = Header(PRIVATEKEYBLOB, kAlgSm2Keyx);
    AppendWord(&record, kAlgSm2Keyx);
    AppendWord(&record, 256);
    const BYTE* pointer = scalar.data();
    record.insert(record.end(), reinterpret_cast<const BYTE*>(&pointer),
                  reinterpret_cast<const BYTE*>(&pointer) + sizeof pointer);
    HCRYPTPROV context = NewContainer("sm2");
    HCRYPTKEY key = 0;
    ASSERT_EQ(ImportPrivate(context, record, &key), 0u);
    EXPECT_EQ(ContextOf(context)->exchangeKey.algId, kAlgSm2Keyx);

    Bytes publicBlob = Export(context, key, PUBLICKEYBLOB);
    ASSERT_EQ(publicBlob.size(), 140u);
    EXPECT_EQ(Bytes(publicBlob.begin() + 12, publicBlob.begin() + 44), Bytes(x.rbegin(), x.rend()));
    EXPECT_EQ(Bytes(publicBlob.begin() + 76, publicBlob.begin() + 108), Bytes(y.rbegin(), y.rend()));
    EXPECT_EQ(Bytes(publicBlob.begin() + 44, publicBlob.begin() + 76), Bytes(32, 0));

    Bytes privateBlob = Export(context, key, PRIVATEKEYBLOB);
    ASSERT_EQ(privateBlob.size(), 80u);
    EXPECT_EQ(Bytes(privateBlob.begin() + 12, privateBlob.begin() + 44), Bytes(scalar.rbegin(), scalar.rend()));

    // The imported public blob makes an in-object key with the same point.
    HCRYPTKEY imported = 0;
    ASSERT_EQ(ImportKeyImpl(context, publicBlob.data(), 140, 0, 0, &imported), 0u);
    EXPECT_EQ(Export(context, imported, PUBLICKEYBLOB), publicBlob);
    DWORD length = 80;
    EXPECT_EQ(ExportKeyImpl(context, imported, 0, PRIVATEKEYBLOB, privateBlob.data(), &length), DWORD(NTE_BAD_KEY));

    PKey rsa = NewRsaKey(1024);
    EXPECT_EQ(ImportPrivate(context, RsaPrivateBlob(rsa.get(), CALG_RSA_SIGN), &key), kOtherAlgorithmContainer);
}

TEST_F(KeyBlobs, EncryptedRsaRecordUnwrappedByTheExchangeKey)
{
    PKey exchange = NewRsaKey(1024);
    HCRYPTPROV context = NewContainer("wrapped");
    HCRYPTKEY key = 0;
    ASSERT_EQ(ImportPrivate(context, RsaPrivateBlob(exchange.get(), CALG_RSA_KEYX), &key), 0u);

    PKey inner = NewRsaKey(2048);
    unsigned char* der = nullptr;
    int derLen = i2d_PrivateKey(inner.get(), &der);
    ASSERT_GT(derLen, 0);
    Bytes plainDer(der, der + derLen);
    OPENSSL_free(der);
    Bytes desKey(24);
    for (int i = 0; i < 24; ++i) desKey[i] = static_cast<BYTE>(3 * i + 1);
    Bytes content = DerElement(0x02, {0});
    Append(&content, DerElement(0x04, {1, 2}));
    Append(&content, DerElement(0x04, {3}));
    Append(&content, DerElement(0x04, RsaEncrypt(exchange.get(), desKey)));
    Append(&content, DerElement(0x04, TripleDesEcb(desKey, plainDer)));
    Bytes sequence = DerElement(0x30, content);

    Bytes record = Header(PRIVATEKEYBLOB, CALG_RSA_SIGN, 1);
    AppendWord(&record, 0);
    AppendWord(&record, 2048);
    AppendWord(&record, 0);
    AppendWord(&record, 0);
    const BYTE* pointer = sequence.data();
    record.insert(record.end(), reinterpret_cast<const BYTE*>(&pointer),
                  reinterpret_cast<const BYTE*>(&pointer) + sizeof pointer);
    ASSERT_EQ(ImportPrivate(context, record, &key), 0u);
    EXPECT_EQ(ContextOf(context)->signatureKey.keyLen, 256u);
    EXPECT_EQ(Export(context, key, PRIVATEKEYBLOB), RsaPrivateBlob(inner.get(), CALG_RSA_SIGN));

    sequence[0] = 0x31;
    EXPECT_EQ(ImportPrivate(context, record, &key), DWORD(NTE_BAD_DATA));
    sequence[0] = 0x30;
    // An inner key with another exponent would become another key.
    PKey three = RsaKeyWithExponent3(2048);
    der = nullptr;
    derLen = i2d_PrivateKey(three.get(), &der);
    ASSERT_GT(derLen, 0);
    Bytes threeDer(der, der + derLen);
    OPENSSL_free(der);
    Bytes otherContent = DerElement(0x02, {0});
    Append(&otherContent, DerElement(0x04, {1, 2}));
    Append(&otherContent, DerElement(0x04, {3}));
    Append(&otherContent, DerElement(0x04, RsaEncrypt(exchange.get(), desKey)));
    Append(&otherContent, DerElement(0x04, TripleDesEcb(desKey, threeDer)));
    Bytes otherSequence = DerElement(0x30, otherContent);
    Bytes otherRecord = record;
    pointer = otherSequence.data();
    std::memcpy(otherRecord.data() + 24, &pointer, sizeof pointer);
    EXPECT_EQ(ImportPrivate(context, otherRecord, &key), DWORD(NTE_BAD_DATA));

    record[12] = 0; // 0 bits
    record[13] = 0;
    EXPECT_EQ(ImportPrivate(context, record, &key), DWORD(NTE_BAD_DATA));
}

TEST_F(KeyBlobs, PublicBlobSizesAndRefusals)
{
    HCRYPTPROV context = NewContainer("public");
    HCRYPTKEY rsa = 0, sm2 = 0, session = 0;
    ASSERT_EQ(GenKeyImpl(context, CALG_RSA_KEYX, 2048u << 16, &rsa), 0u);
    ASSERT_EQ(GenKeyImpl(context, CALG_AES_128, 0, &session), 0u);
    Bytes blob = Export(context, rsa, PUBLICKEYBLOB);
    ASSERT_EQ(blob.size(), 276u);
    std::uint8_t modulus[256];
    ASSERT_EQ(Token_ExportPublicKey(&ContextOf(context)->session, &ContextOf(context)->exchangeKey, modulus), 0u);
    EXPECT_EQ(Bytes(blob.begin() + 20, blob.end()), Bytes(std::rbegin(modulus), std::rend(modulus)));

    HCRYPTKEY imported = 0;
    ASSERT_EQ(ImportKeyImpl(context, blob.data(), 276, 0, 0, &imported), 0u);
    EXPECT_EQ(LookupKeyObject(imported)->algId, DWORD(CALG_RSA_KEYX));
    EXPECT_EQ(Export(context, imported, PUBLICKEYBLOB), blob);
    EXPECT_EQ(ImportKeyImpl(context, blob.data(), 275, 0, 0, &imported), DWORD(NTE_BAD_DATA));
    Bytes other = blob;
    other[4] = 0x01; // CALG_DES, not a public-key algorithm
    other[5] = 0x66;
    EXPECT_EQ(ImportKeyImpl(context, other.data(), 276, 0, 0, &imported), DWORD(NTE_BAD_FLAGS));
    EXPECT_EQ(ImportKeyImpl(context, blob.data(), 7, 0, 0, &imported), DWORD(NTE_BAD_DATA));
    BYTE unknownType[8] = {9, 2};
    EXPECT_EQ(ImportKeyImpl(context, unknownType, 8, 0, 0, &imported), DWORD(NTE_BAD_TYPE));

    DWORD length = 0;
    EXPECT_EQ(ExportKeyImpl(context, rsa, session, PUBLICKEYBLOB, nullptr, &length), DWORD(NTE_BAD_PUBLIC_KEY));
    EXPECT_EQ(ExportKeyImpl(context, session, 0, PUBLICKEYBLOB, nullptr, &length), DWORD(NTE_BAD_TYPE));
    EXPECT_EQ(ExportKeyImpl(context, session, 0, PRIVATEKEYBLOB, nullptr, &length), DWORD(NTE_BAD_KEY));
    EXPECT_EQ(ExportKeyImpl(context, rsa, 0, 8, nullptr, &length), DWORD(NTE_BAD_TYPE));
    length = 275;
    EXPECT_EQ(ExportKeyImpl(context, rsa, 0, PUBLICKEYBLOB, blob.data(), &length), DWORD(NTE_BUFFER_TOO_SMALL));
    EXPECT_EQ(length, 276u);

    HCRYPTPROV second = NewContainer("sm2public");
    ASSERT_EQ(GenKeyImpl(second, kAlgSm2Sign, 0, &sm2), 0u);
    EXPECT_EQ(Export(second, sm2, PUBLICKEYBLOB).size(), 140u);
}

TEST_F(KeyBlobs, SessionKeyWrappedForTheExchangeKeyOpensWithOpenSsl)
{
    PKey exchange = NewRsaKey(1024);
    HCRYPTPROV context = NewContainer("simple");
    HCRYPTKEY wrap = 0, session = 0;
    ASSERT_EQ(ImportPrivate(context, RsaPrivateBlob(exchange.get(), CALG_RSA_KEYX), &wrap), 0u);
    ASSERT_EQ(GenKeyImpl(context, CALG_3DES, 0, &session), 0u);
    Bytes blob = Export(context, session, SIMPLEBLOB, wrap);
    ASSERT_EQ(blob.size(), 128u + 12);
    EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 12),
              (Bytes {SIMPLEBLOB, 2, 0, 0, 0x03, 0x66, 0, 0, 0x00, 0xA4, 0, 0}));
    Bytes wrapped(blob.rbegin(), blob.rend() - 12);
    const KeyObject* sessionKey = LookupKeyObject(session);
    EXPECT_EQ(RsaDecrypt(exchange.get(), wrapped), Bytes(sessionKey->key, sessionKey->key + 24));

    // Checks made before the PIN is asked for.
    HCRYPTKEY imported = 0;
    DWORD size = static_cast<DWORD>(blob.size());
    EXPECT_EQ(ImportKeyImpl(context, blob.data(), size, 0, 0, &imported), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(ImportKeyImpl(context, blob.data(), size - 1, wrap, 0, &imported), DWORD(NTE_BAD_DATA));
    Bytes rsa2 = blob;
    rsa2[4] = 0x00; // CALG_RSA_KEYX is not a session key
    rsa2[5] = 0xA4;
    EXPECT_EQ(ImportKeyImpl(context, rsa2.data(), size, wrap, 0, &imported), DWORD(NTE_BAD_TYPE));
    Bytes version = blob;
    version[1] = 1;
    EXPECT_EQ(ImportKeyImpl(context, version.data(), size, wrap, 0, &imported), DWORD(NTE_BAD_VER));
    HCRYPTKEY publicOnly = 0;
    Bytes publicBlob = Export(context, wrap, PUBLICKEYBLOB);
    ASSERT_EQ(ImportKeyImpl(context, publicBlob.data(), static_cast<DWORD>(publicBlob.size()), 0, 0, &publicOnly), 0u);
    EXPECT_EQ(ImportKeyImpl(context, blob.data(), size, publicOnly, 0, &imported), DWORD(NTE_BAD_KEY));

    // A wrap for an in-object public key opens with the same private key.
    Bytes again = Export(context, session, SIMPLEBLOB, publicOnly);
    EXPECT_EQ(RsaDecrypt(exchange.get(), Bytes(again.rbegin(), again.rend() - 12)),
              Bytes(sessionKey->key, sessionKey->key + 24));
    DWORD length = 0;
    EXPECT_EQ(ExportKeyImpl(context, session, session, SIMPLEBLOB, nullptr, &length), DWORD(NTE_BAD_PUBLIC_KEY));
    EXPECT_EQ(ExportKeyImpl(context, session, 0, SIMPLEBLOB, nullptr, &length), DWORD(NTE_BAD_KEY));
}

TEST_F(KeyBlobs, Sm2WrapFitsTheSizeItAnnounces)
{
    HCRYPTPROV context = NewContainer("sm2simple");
    HCRYPTKEY wrap = 0, session = 0;
    ASSERT_EQ(GenKeyImpl(context, kAlgSm2Keyx, 0, &wrap), 0u);
    ASSERT_EQ(GenKeyImpl(context, CALG_AES_256, 0, &session), 0u);
    DWORD announced = 0;
    ASSERT_EQ(ExportKeyImpl(context, session, wrap, SIMPLEBLOB, nullptr, &announced), 0u);
    Bytes blob(announced + 16, 0xEE);
    DWORD length = announced;
    ASSERT_EQ(ExportKeyImpl(context, session, wrap, SIMPLEBLOB, blob.data(), &length), 0u);
    EXPECT_EQ(length, announced);
    EXPECT_EQ(Bytes(blob.begin() + announced, blob.end()), Bytes(16, 0xEE)) << "nothing written past the buffer";
    // 0x04, x, y, the 32-byte check value and the 32-byte key, reversed.
    EXPECT_EQ(length, 12u + 1 + 64 + 32 + 32);
    EXPECT_EQ(blob[length - 1], 0x04);
}

} // namespace
