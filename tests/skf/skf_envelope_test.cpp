// Exchange key pairs sent enveloped for the container's signature key,
// built with OpenSSL, imported and then used on the token.
#include "SkfKeyFixture.h"

#include <openssl/x509.h>

namespace {

using namespace skftest;

class Envelopes : public KeyTest {
protected:
    Bytes m_sym = Random(16, 0x21);
    Bytes m_secret = Random(16, 0x52);

    // The exchange key works: a key wrapped for it comes out on the token.
    void ExpectExchangeKeyUnwraps(HCONTAINER con, const Bytes& wrapped)
    {
        HKEY_HANDLE h = nullptr;
        ASSERT_EQ(Keys().SKF_ImportSessionKey(con, SGD_SMS4_ECB, const_cast<BYTE*>(wrapped.data()),
                                              static_cast<ULONG>(wrapped.size()), &h),
                  SAR_OK);
        Own(h);
        Bytes plain = Random(16, 1);
        ASSERT_EQ(Keys().SKF_EncryptInit(h, Param(0)), SAR_OK);
        EXPECT_EQ(EncryptAll(h, plain), Sm4("SM4-ECB", m_secret, {}, plain, true, false));
    }
};

class EccEnvelope : public Envelopes {
protected:
    // Room for the envelope and its 16 bytes of wrapped key.
    Bytes Build(const ECCPUBLICKEYBLOB& signKey, EVP_PKEY* exchange)
    {
        Bytes room(sizeof(ENVELOPEDKEYBLOB) + 16);
        auto* env = reinterpret_cast<ENVELOPEDKEYBLOB*>(room.data());
        env->Version = 77;
        env->ulBits = 1;
        env->ulSymmAlgID = SGD_SMS4_ECB;
        Bytes scalar(32, 0);
        Bytes d = BnBytes(exchange, OSSL_PKEY_PARAM_PRIV_KEY, 32);
        scalar.insert(scalar.end(), d.begin(), d.end());
        Bytes enc = Sm4("SM4-ECB", m_sym, {}, scalar, true, false);
        std::memcpy(env->cbEncryptedPriKey, enc.data(), 64);
        env->PubKey = EccBlobOf(exchange);
        Pkey sign = Sm2KeyOf(signKey);
        Bytes wrapped = Sm2CipherBlob(Encrypt(sign.get(), m_sym));
        std::memcpy(&env->ECCCipherBlob, wrapped.data(), wrapped.size());
        return room;
    }
};

TEST_F(EccEnvelope, ImportedPairBecomesTheExchangeKey)
{
    HCONTAINER con = Create("ecc envelope");
    ECCPUBLICKEYBLOB signKey = {};
    ASSERT_EQ(Keys().SKF_GenECCKeyPair(con, SGD_SM2_1, &signKey), SAR_OK);
    Pkey exchange = NewKey("SM2");
    Bytes env = Build(signKey, exchange.get());
    ASSERT_EQ(Keys().SKF_ImportECCKeyPair(con, reinterpret_cast<ENVELOPEDKEYBLOB*>(env.data())), SAR_OK);

    HCONTAINER reopened = Open("ecc envelope");
    ULONG type = 0;
    EXPECT_EQ(Skf().SKF_GetContainerType(reopened, &type), SAR_OK);
    EXPECT_EQ(type, CONTAINER_TYPE_SM2);
    ECCPUBLICKEYBLOB imported = ExportKey<ECCPUBLICKEYBLOB>(reopened, FALSE);
    ECCPUBLICKEYBLOB expected = EccBlobOf(exchange.get());
    EXPECT_EQ(std::memcmp(&imported, &expected, sizeof expected), 0);
    ExpectExchangeKeyUnwraps(reopened, Sm2CipherBlob(Encrypt(exchange.get(), m_secret)));
}

TEST_F(EccEnvelope, RefusedWithoutSignatureKeyOrWithOversizedCipher)
{
    Pkey other = NewKey("SM2");
    Pkey exchange = NewKey("SM2");
    HCONTAINER bare = Create("no signature key");
    Bytes env = Build(EccBlobOf(other.get()), exchange.get());
    EXPECT_EQ(Keys().SKF_ImportECCKeyPair(bare, reinterpret_cast<ENVELOPEDKEYBLOB*>(env.data())), SAR_FAIL);
    EXPECT_EQ(Keys().SKF_ImportECCKeyPair(bare, nullptr), SAR_INVALIDPARAMERR);

    HCONTAINER con = Create("big cipher");
    ECCPUBLICKEYBLOB signKey = {};
    ASSERT_EQ(Keys().SKF_GenECCKeyPair(con, SGD_SM2_1, &signKey), SAR_OK);
    env = Build(signKey, exchange.get());
    reinterpret_cast<ENVELOPEDKEYBLOB*>(env.data())->ECCCipherBlob.CipherLen = 416;
    EXPECT_EQ(Keys().SKF_ImportECCKeyPair(con, reinterpret_cast<ENVELOPEDKEYBLOB*>(env.data())), SAR_FAIL);
    ULONG len = 0;
    EXPECT_EQ(Keys().SKF_ExportPublicKey(Open("big cipher"), FALSE, nullptr, &len), SAR_FAIL);
}

class RsaEnvelope : public Envelopes {
protected:
    void SetUp() override
    {
        Envelopes::SetUp();
        m_con = Create("rsa envelope");
        ASSERT_EQ(Keys().SKF_GenRSAKeyPair(m_con, 1024, &m_signKey), SAR_OK);
        Pkey sign = RsaKeyOf(m_signKey);
        m_wrapped = Encrypt(sign.get(), m_sym, RSA_PKCS1_PADDING);
        ASSERT_EQ(m_wrapped.size(), 128u);
    }
    Bytes Enveloped(const Bytes& plain) { return Sm4("SM4-ECB", m_sym, {}, plain, true, true); }
    ULONG Import(const Bytes& encrypted)
    {
        return Keys().SKF_ImportRSAKeyPair(m_con, SGD_SMS4_ECB, m_wrapped.data(), 128,
                                           const_cast<BYTE*>(encrypted.data()), static_cast<ULONG>(encrypted.size()));
    }
    HCONTAINER m_con = nullptr;
    RSAPUBLICKEYBLOB m_signKey = {};
    Bytes m_wrapped;
};

TEST_F(RsaEnvelope, ImportedPairBecomesTheExchangeKey)
{
    Pkey exchange = NewKey("RSA", 1024);
    unsigned char* der = nullptr;
    int derLen = i2d_PrivateKey(exchange.get(), &der);
    ASSERT_GT(derLen, 0);
    Bytes plain(der, der + derLen);
    OPENSSL_free(der);
    ASSERT_EQ(Import(Enveloped(plain)), SAR_OK);

    HCONTAINER reopened = Open("rsa envelope");
    RSAPUBLICKEYBLOB imported = ExportKey<RSAPUBLICKEYBLOB>(reopened, FALSE);
    RSAPUBLICKEYBLOB expected = RsaBlobOf(exchange.get());
    EXPECT_EQ(std::memcmp(&imported, &expected, sizeof expected), 0);
    ExpectExchangeKeyUnwraps(reopened, Encrypt(exchange.get(), m_secret, RSA_PKCS1_PADDING));
    RSAPUBLICKEYBLOB signKey = ExportKey<RSAPUBLICKEYBLOB>(reopened, TRUE);
    EXPECT_EQ(std::memcmp(&signKey, &m_signKey, sizeof signKey), 0);
}

TEST_F(RsaEnvelope, PlaintextMustBeADerSequence)
{
    Bytes notDer = Random(96, 4);
    notDer[0] = 0x31;
    EXPECT_EQ(Import(Enveloped(notDer)), SAR_FAIL);
    ULONG len = 0;
    EXPECT_EQ(Keys().SKF_ExportPublicKey(Open("rsa envelope"), FALSE, nullptr, &len), SAR_FAIL);
    // More ciphertext than the plaintext buffer holds is refused.
    EXPECT_EQ(Import(Bytes(2064, 0x30)), SAR_FAIL);
}

} // namespace
