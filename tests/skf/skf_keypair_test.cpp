// Key pairs made on the token, their public keys and signatures, checked
// by OpenSSL.
#include "SkfDigestExports.h"
#include "SkfKeyFixture.h"
#include "SkfMoreExports.h"

namespace {

using namespace skftest;

class KeyPairs : public KeyTest { };

TEST_F(KeyPairs, Sm2PairSignsDigestsThatOpenSslVerifies)
{
    HCONTAINER con = Create("sm2 pair");
    ECCPUBLICKEYBLOB made = {};
    EXPECT_EQ(Keys().SKF_GenECCKeyPair(con, SGD_SM2_1 + 1, &made), SAR_INVALIDPARAMERR);
    ASSERT_EQ(Keys().SKF_GenECCKeyPair(con, SGD_SM2_1, &made), SAR_OK);
    EXPECT_EQ(made.BitLen, 256u);
    ULONG type = 0;
    EXPECT_EQ(Skf().SKF_GetContainerType(con, &type), SAR_OK);
    EXPECT_EQ(type, CONTAINER_TYPE_SM2);

    ECCPUBLICKEYBLOB exported = ExportKey<ECCPUBLICKEYBLOB>(con, TRUE);
    EXPECT_EQ(std::memcmp(&exported, &made, sizeof made), 0);
    Pkey key = Sm2KeyOf(made);
    ASSERT_TRUE(key);

    Bytes digest = Random(32, 7);
    ECCSIGNATUREBLOB sig = {};
    ASSERT_EQ(Keys().SKF_ECCSignData(con, digest.data(), 32, &sig), SAR_OK);
    EXPECT_TRUE(Sm2Verify(key.get(), digest, sig));
    digest[0] ^= 1;
    EXPECT_FALSE(Sm2Verify(key.get(), digest, sig));
    EXPECT_EQ(Keys().SKF_ECCSignData(con, digest.data(), 20, &sig), SAR_FAIL);
    EXPECT_EQ(Keys().SKF_ECCSignData(con, digest.data(), 32, nullptr), SAR_INVALIDPARAMERR);
}

// A connection's handles die with it, also when the next connection's
// context is given the same address, as the heap usually does.
TEST_F(KeyPairs, HandlesOfAGoneConnectionAreNotRevivedByTheNext)
{
    HCONTAINER con = Create("first token's");
    ECCPUBLICKEYBLOB pub = {};
    ASSERT_EQ(Keys().SKF_GenECCKeyPair(con, SGD_SM2_1, &pub), SAR_OK);
    HKEY_HANDLE key = SessionKey(Random(16, 1), SGD_SMS4_ECB);
    ASSERT_EQ(Skf().SKF_DisConnectDev(m_dev), SAR_OK);
    Forget(m_dev);
    tokentest::AddToken(Serial(2));
    DEVHANDLE next = MakeOnTopOf(
        m_dev, [&] { return ConnectTo(NameOf(Serial(2))); },
        [&](HANDLE dev) {
            Skf().SKF_DisConnectDev(dev);
            Forget(dev);
        });
    EXPECT_NE(next, m_dev);
    ULONG tries = 0;
    ASSERT_EQ(Skf().SKF_VerifyPIN(next, USER_TYPE, Text("12345678"), &tries), SAR_OK);

    EXPECT_EQ(Skf().SKF_VerifyPIN(m_dev, USER_TYPE, Text("12345678"), &tries), SAR_INVALIDHANDLEERR);
    ULONG len = sizeof pub;
    EXPECT_EQ(Keys().SKF_ExportPublicKey(con, TRUE, reinterpret_cast<BYTE*>(&pub), &len), SAR_INVALIDHANDLEERR);
    Bytes digest = Random(32, 2);
    ECCSIGNATUREBLOB sig = {};
    EXPECT_EQ(Keys().SKF_ECCSignData(con, digest.data(), 32, &sig), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(Keys().SKF_EncryptInit(key, Param(0)), SAR_INVALIDHANDLEERR);
}

// So does a closed container, session key or hash handle when the next of
// its kind takes its record's address.
TEST_F(KeyPairs, ClosedHandlesAreNotRevivedByTheNextOfTheirKind)
{
    Create("one");
    auto digestInit = SKF_EXPORT(SKF_DigestInit);
    auto digestUpdate = SKF_EXPORT(SKF_DigestUpdate);
    ASSERT_TRUE(digestInit && digestUpdate);
    ECCPUBLICKEYBLOB pub = {};
    BYTE id[] = "1234567812345678";
    Bytes key = Random(16, 1);
    const struct {
        const char* kind;
        std::function<HANDLE()> make;
        std::function<ULONG(HANDLE)> use, close;
    } kinds[] = {
        {"container",
         [&] {
             HCONTAINER con = nullptr;
             Skf().SKF_OpenContainer(m_dev, Text("one"), &con);
             return con;
         },
         [](HANDLE con) {
             ULONG type = 0;
             return Skf().SKF_GetContainerType(con, &type);
         },
         Skf().SKF_CloseContainer},
        {"session key",
         [&] {
             HKEY_HANDLE h = nullptr;
             Keys().SKF_SetSymmKey(m_dev, key.data(), SGD_SMS4_ECB, &h);
             return h;
         },
         [](HANDLE h) { return Keys().SKF_EncryptInit(h, Param(0)); }, Keys().SKF_CloseHandle},
        {"hash",
         [&] {
             HANDLE h = nullptr;
             digestInit(m_dev, 1, &pub, id, 16, &h);
             return h;
         },
         [&](HANDLE h) { return digestUpdate(h, id, 16); }, Keys().SKF_CloseHandle},
    };
    for (const auto& k : kinds) {
        HANDLE closed = k.make();
        ASSERT_EQ(k.close(closed), SAR_OK) << k.kind;
        HANDLE next = MakeOnTopOf(closed, k.make, [&](HANDLE h) { k.close(h); });
        EXPECT_NE(next, closed) << k.kind;
        EXPECT_EQ(k.use(closed), SAR_INVALIDHANDLEERR) << k.kind;
        EXPECT_EQ(k.close(closed), SAR_INVALIDHANDLEERR) << k.kind;
        EXPECT_EQ(k.use(next), SAR_OK) << k.kind;
        k.close(next);
    }
}

TEST_F(KeyPairs, PublicKeyRecordSizesAndMissingKeys)
{
    HCONTAINER empty = Create("no keys");
    ULONG len = 0;
    EXPECT_EQ(Keys().SKF_ExportPublicKey(empty, TRUE, nullptr, &len), SAR_KEYINFOTYPEERR);

    HCONTAINER con = Create("sizes");
    ECCPUBLICKEYBLOB made = {};
    ASSERT_EQ(Keys().SKF_GenECCKeyPair(con, SGD_SM2_1, &made), SAR_OK);
    ASSERT_EQ(Keys().SKF_ExportPublicKey(con, TRUE, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 132u);
    Bytes room(200, 0xEE);
    len = 131;
    EXPECT_EQ(Keys().SKF_ExportPublicKey(con, TRUE, room.data(), &len), SAR_FAIL);
    EXPECT_EQ(room[0], 0xEE);
    len = static_cast<ULONG>(room.size());
    EXPECT_EQ(Keys().SKF_ExportPublicKey(con, FALSE, room.data(), &len), SAR_FAIL); // no exchange key
}

TEST_F(KeyPairs, SignatureRequestWithOnlyAnExchangeKeyUsesIt)
{
    Provision("exchange only", devicelib::UK_ALG_SM2, 256, false);
    HCONTAINER con = Open("exchange only");
    ECCPUBLICKEYBLOB exchange = ExportKey<ECCPUBLICKEYBLOB>(con, FALSE);
    ECCPUBLICKEYBLOB sign = ExportKey<ECCPUBLICKEYBLOB>(con, TRUE);
    EXPECT_EQ(std::memcmp(&exchange, &sign, sizeof sign), 0);
    Bytes digest = Random(32, 3);
    ECCSIGNATUREBLOB sig = {};
    ASSERT_EQ(Keys().SKF_ECCSignData(con, digest.data(), 32, &sig), SAR_OK);
    Pkey key = Sm2KeyOf(exchange);
    EXPECT_TRUE(Sm2Verify(key.get(), digest, sig));
}

TEST_F(KeyPairs, RsaPairSignsUpToTheRoomPaddingLeaves)
{
    HCONTAINER con = Create("rsa pair");
    RSAPUBLICKEYBLOB made = {};
    EXPECT_EQ(Keys().SKF_GenRSAKeyPair(con, 1536, &made), SAR_FAIL);
    ASSERT_EQ(Keys().SKF_GenRSAKeyPair(con, 1024, &made), SAR_OK);
    EXPECT_EQ(made.AlgID, SGD_RSA);
    EXPECT_EQ(made.BitLen, 1024u);
    EXPECT_EQ(Bytes(made.PublicExponent, made.PublicExponent + 4), (Bytes {0, 1, 0, 1}));
    RSAPUBLICKEYBLOB exported = ExportKey<RSAPUBLICKEYBLOB>(con, TRUE);
    EXPECT_EQ(std::memcmp(&exported, &made, sizeof made), 0);
    Pkey key = RsaKeyOf(made);
    ASSERT_TRUE(key);

    Bytes data = Random(117, 9);
    ULONG len = 0;
    ASSERT_EQ(Keys().SKF_RSASignData(con, data.data(), 117, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 128u);
    Bytes sig(len);
    len = 127;
    EXPECT_EQ(Keys().SKF_RSASignData(con, data.data(), 117, sig.data(), &len), SAR_FAIL);
    len = 128;
    ASSERT_EQ(Keys().SKF_RSASignData(con, data.data(), 117, sig.data(), &len), SAR_OK);
    EXPECT_EQ(VerifyRecover(key.get(), sig, RSA_PKCS1_PADDING), data);
    EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &made, data.data(), 117, sig.data(), 128), SAR_OK);
    Bytes longer = Random(118, 9);
    EXPECT_EQ(Keys().SKF_RSASignData(con, longer.data(), 118, sig.data(), &len), SAR_FAIL);
    // Lengths near the top of the range are refused before the token reads them.
    for (ULONG huge : {0xFFFFFFF5ul, 0xFFFFFFF8ul, 0xFFFFFFFFul})
        EXPECT_EQ(Keys().SKF_RSASignData(con, longer.data(), huge, sig.data(), &len), SAR_FAIL) << huge;

    // A buffer shorter than the record is refused, not written past.
    Bytes room(sizeof(RSAPUBLICKEYBLOB), 0xEE);
    len = 132;
    EXPECT_EQ(Keys().SKF_ExportPublicKey(con, TRUE, room.data(), &len), SAR_FAIL);
    EXPECT_EQ(room[132], 0xEE);
}

TEST_F(KeyPairs, RsaSigningRefusesSm2ContainersAndMissingKeys)
{
    HCONTAINER sm2 = Create("sm2");
    ECCPUBLICKEYBLOB blob = {};
    ASSERT_EQ(Keys().SKF_GenECCKeyPair(sm2, SGD_SM2_1, &blob), SAR_OK);
    Bytes data = Random(20, 1), sig(256);
    ULONG len = static_cast<ULONG>(sig.size());
    EXPECT_EQ(Keys().SKF_RSASignData(sm2, data.data(), 20, sig.data(), &len), SAR_FAIL);
    EXPECT_EQ(Keys().SKF_RSASignData(sm2, nullptr, 20, sig.data(), &len), SAR_INVALIDPARAMERR);
    HCONTAINER none = Create("empty");
    Bytes digest = Random(32, 1);
    ECCSIGNATUREBLOB ecc = {};
    EXPECT_EQ(Keys().SKF_ECCSignData(none, digest.data(), 32, &ecc), SAR_FAIL);
}

TEST_F(KeyPairs, GenerationNeedsTheUserPin)
{
    HCONTAINER con = Create("locked");
    ASSERT_EQ(Skf().SKF_ClearSecureState(m_dev), SAR_OK);
    ECCPUBLICKEYBLOB blob = {};
    EXPECT_EQ(Keys().SKF_GenECCKeyPair(con, SGD_SM2_1, &blob), SAR_FAIL);
    ULONG type = 9;
    EXPECT_EQ(Skf().SKF_GetContainerType(Open("locked"), &type), SAR_OK);
    EXPECT_EQ(type, CONTAINER_TYPE_NONE);
}

} // namespace
