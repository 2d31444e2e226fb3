// Operations on keys the caller hands in, run in software and checked
// against OpenSSL both ways.
#include "SkfKeyFixture.h"

namespace {

using namespace skftest;

class ExternalKeys : public KeyTest { };

TEST_F(ExternalKeys, Sm2SignaturesCrossCheckWithOpenSsl)
{
    Pkey key = NewKey("SM2");
    ASSERT_TRUE(key);
    ECCPUBLICKEYBLOB pub = EccBlobOf(key.get());
    ECCPRIVATEKEYBLOB pri = EccPrivateBlobOf(key.get());
    Bytes digest = Random(32, 5);

    ECCSIGNATUREBLOB ours = {};
    ASSERT_EQ(Keys().SKF_ExtECCSign(m_dev, &pri, digest.data(), 32, &ours), SAR_OK);
    EXPECT_TRUE(Sm2Verify(key.get(), digest, ours));
    EXPECT_EQ(Keys().SKF_ExtECCSign(m_dev, &pri, digest.data(), 31, &ours), SAR_FAIL);

    ECCSIGNATUREBLOB theirs = Sm2Sign(key.get(), digest);
    EXPECT_EQ(Keys().SKF_ECCVerify(m_dev, &pub, digest.data(), 32, &theirs), SAR_OK);
    EXPECT_EQ(Keys().SKF_ExtECCVerify(m_dev, &pub, digest.data(), 32, &theirs), SAR_OK);
    theirs.s[63] ^= 1;
    EXPECT_EQ(Keys().SKF_ECCVerify(m_dev, &pub, digest.data(), 32, &theirs), SAR_FAIL);
    EXPECT_EQ(Keys().SKF_ExtECCVerify(m_dev, &pub, digest.data(), 32, &theirs), SAR_FAIL);
    // Data is a digest of 32 bytes exactly: nothing past it goes unchecked.
    Bytes longer = digest;
    longer.resize(64, 0x11);
    for (ULONG len : {16ul, 33ul, 64ul}) {
        EXPECT_EQ(Keys().SKF_ECCVerify(m_dev, &pub, longer.data(), len, &ours), SAR_INDATALENERR) << len;
        EXPECT_EQ(Keys().SKF_ExtECCVerify(m_dev, &pub, longer.data(), len, &ours), SAR_INDATALENERR) << len;
    }
    EXPECT_EQ(Keys().SKF_ECCVerify(m_dev, &pub, nullptr, 32, &ours), SAR_INVALIDPARAMERR);

    // Key records that are not SM2 keys.
    ECCPUBLICKEYBLOB badBits = pub, offCurve = pub;
    badBits.BitLen = 0xFFFFFFFF;
    offCurve.YCoordinate[63] ^= 1;
    EXPECT_EQ(Keys().SKF_ECCVerify(m_dev, &badBits, digest.data(), 32, &ours), SAR_INVALIDPARAMERR);
    EXPECT_EQ(Keys().SKF_ExtECCVerify(m_dev, &offCurve, digest.data(), 32, &ours), SAR_INVALIDPARAMERR);
    ECCPRIVATEKEYBLOB badPri = pri;
    badPri.BitLen = 0xFFFFFFFF;
    EXPECT_EQ(Keys().SKF_ExtECCSign(m_dev, &badPri, digest.data(), 32, &ours), SAR_INVALIDPARAMERR);

    // Every byte of the record is written, none left from before.
    ECCSIGNATUREBLOB stale;
    std::memset(&stale, 0xAA, sizeof stale);
    ASSERT_EQ(Keys().SKF_ExtECCSign(m_dev, &pri, digest.data(), 32, &stale), SAR_OK);
    EXPECT_EQ(Bytes(stale.r, stale.r + 32), Bytes(32, 0));
    EXPECT_EQ(Bytes(stale.s, stale.s + 32), Bytes(32, 0));
    EXPECT_TRUE(Sm2Verify(key.get(), digest, stale));
}

TEST_F(ExternalKeys, Sm2CiphertextsCrossCheckWithOpenSsl)
{
    Pkey key = NewKey("SM2");
    ECCPUBLICKEYBLOB pub = EccBlobOf(key.get());
    ECCPRIVATEKEYBLOB pri = EccPrivateBlobOf(key.get());

    Bytes plain = Random(100, 11);
    Bytes room(EccCipherBlobSize(100), 0xAA);
    ASSERT_EQ(Keys().SKF_ExtECCEncrypt(m_dev, &pub, plain.data(), 100, AsCipher(room)), SAR_OK);
    EXPECT_EQ(AsCipher(room)->CipherLen, 100u);
    EXPECT_EQ(Bytes(room.begin(), room.begin() + 32), Bytes(32, 0));
    EXPECT_EQ(Bytes(room.begin() + 64, room.begin() + 96), Bytes(32, 0));
    ECCPUBLICKEYBLOB offCurve = pub;
    offCurve.XCoordinate[40] ^= 0x10;
    EXPECT_EQ(Keys().SKF_ExtECCEncrypt(m_dev, &offCurve, plain.data(), 100, AsCipher(room)), SAR_INVALIDPARAMERR);
    EXPECT_EQ(Decrypt(key.get(), Sm2CipherDer(*AsCipher(room))), plain);

    Bytes theirs = Sm2CipherBlob(Encrypt(key.get(), plain));
    ASSERT_FALSE(theirs.empty());
    ULONG len = 0;
    EXPECT_EQ(Keys().SKF_ExtECCDecrypt(m_dev, &pri, AsCipher(theirs), nullptr, &len), SAR_INVALIDHANDLEERR);
    Bytes out(100);
    len = 99;
    EXPECT_EQ(Keys().SKF_ExtECCDecrypt(m_dev, &pri, AsCipher(theirs), out.data(), &len), SAR_FAIL);
    len = 100;
    ASSERT_EQ(Keys().SKF_ExtECCDecrypt(m_dev, &pri, AsCipher(theirs), out.data(), &len), SAR_OK);
    EXPECT_EQ(out, plain);
    AsCipher(theirs)->HASH[0] ^= 1;
    EXPECT_EQ(Keys().SKF_ExtECCDecrypt(m_dev, &pri, AsCipher(theirs), out.data(), &len), SAR_FAIL);
}

TEST_F(ExternalKeys, Sm2EncryptionBoundsItsBuffer)
{
    Pkey key = NewKey("SM2");
    ECCPUBLICKEYBLOB pub = EccBlobOf(key.get());
    Bytes plain = Random(928, 2);
    Bytes room(EccCipherBlobSize(928));
    EXPECT_EQ(Keys().SKF_ExtECCEncrypt(m_dev, &pub, plain.data(), 927, AsCipher(room)), SAR_OK);
    EXPECT_EQ(AsCipher(room)->CipherLen, 927u);
    EXPECT_EQ(Keys().SKF_ExtECCEncrypt(m_dev, &pub, plain.data(), 928, AsCipher(room)), SAR_FAIL);

    // A cipher length beyond the software's buffer is refused.
    ECCPRIVATEKEYBLOB pri = EccPrivateBlobOf(key.get());
    AsCipher(room)->CipherLen = 0x7FFFFFFF;
    Bytes out(64);
    ULONG len = 64;
    EXPECT_EQ(Keys().SKF_ExtECCDecrypt(m_dev, &pri, AsCipher(room), out.data(), &len), SAR_FAIL);
}

TEST_F(ExternalKeys, GeneratedRsaPairIsConsistent)
{
    RSAPRIVATEKEYBLOB blob = {};
    EXPECT_EQ(Keys().SKF_GenExtRSAKey(m_dev, 512, &blob), SAR_FAIL);
    EXPECT_EQ(Keys().SKF_GenExtRSAKey(m_dev, 1024, nullptr), SAR_INVALIDHANDLEERR);
    ASSERT_EQ(Keys().SKF_GenExtRSAKey(m_dev, 1024, &blob), SAR_OK);
    EXPECT_EQ(blob.AlgID, SGD_RSA);
    EXPECT_EQ(blob.BitLen, 1024u);

    Bn n(BN_bin2bn(blob.Modulus, 256, nullptr)), p(BN_bin2bn(blob.Prime1, 128, nullptr)),
        q(BN_bin2bn(blob.Prime2, 128, nullptr)), product(BN_new());
    BN_CTX* ctx = BN_CTX_new();
    BN_mul(product.get(), p.get(), q.get(), ctx);
    BN_CTX_free(ctx);
    EXPECT_EQ(BN_cmp(product.get(), n.get()), 0);
    EXPECT_EQ(BN_num_bits(n.get()), 1024);

    // The private operation undone by OpenSSL's public one.
    RSAPUBLICKEYBLOB pub = {};
    pub.AlgID = SGD_RSA;
    pub.BitLen = blob.BitLen;
    std::memcpy(pub.Modulus, blob.Modulus, sizeof pub.Modulus);
    std::memcpy(pub.PublicExponent, blob.PublicExponent, 4);
    Pkey key = RsaKeyOf(pub);
    Bytes block = Random(128, 1);
    block[0] = 0;
    Bytes out(128);
    ULONG len = 0;
    ASSERT_EQ(Keys().SKF_ExtRSAPriKeyOperation(m_dev, &blob, block.data(), 128, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 128u);
    ASSERT_EQ(Keys().SKF_ExtRSAPriKeyOperation(m_dev, &blob, block.data(), 128, out.data(), &len), SAR_OK);
    EXPECT_EQ(Encrypt(key.get(), out, RSA_NO_PADDING), block);
    EXPECT_EQ(Keys().SKF_ExtRSAPriKeyOperation(m_dev, &blob, block.data(), 127, out.data(), &len), SAR_FAIL);
}

TEST_F(ExternalKeys, RawRsaPublicOperationMatchesOpenSsl)
{
    Pkey key = NewKey("RSA", 2048);
    ASSERT_TRUE(key);
    RSAPUBLICKEYBLOB pub = RsaBlobOf(key.get());
    Bytes block = Random(256, 4);
    block[0] = 0;
    ULONG len = 0;
    ASSERT_EQ(Keys().SKF_ExtRSAPubKeyOperation(m_dev, &pub, block.data(), 256, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 256u);
    Bytes out(256);
    len = 255;
    EXPECT_EQ(Keys().SKF_ExtRSAPubKeyOperation(m_dev, &pub, block.data(), 256, out.data(), &len), SAR_FAIL);
    len = 256;
    ASSERT_EQ(Keys().SKF_ExtRSAPubKeyOperation(m_dev, &pub, block.data(), 256, out.data(), &len), SAR_OK);
    EXPECT_EQ(out, Encrypt(key.get(), block, RSA_NO_PADDING));
    EXPECT_EQ(Keys().SKF_ExtRSAPubKeyOperation(m_dev, &pub, block.data(), 128, out.data(), &len), SAR_FAIL);
    EXPECT_EQ(Keys().SKF_ExtRSAPubKeyOperation(m_dev, &pub, nullptr, 256, out.data(), &len), SAR_INVALIDHANDLEERR);
}

// Raw private-key operation of OpenSSL over a block we build.
Bytes RawSign(EVP_PKEY* key, const Bytes& block)
{
    return Decrypt(key, block, RSA_NO_PADDING);
}

Pkey RsaKeyWithExponent(unsigned bits, unsigned long exponent)
{
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    Bn e(BN_new());
    BN_set_word(e.get(), exponent);
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_keygen_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(bits)) <= 0 ||
        EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), e.get()) <= 0)
        return nullptr;
    EVP_PKEY_keygen(ctx.get(), &key);
    return Pkey(key);
}

TEST_F(ExternalKeys, RsaVerificationChecksTheWholeBlockWithTheKeysExponent)
{
    for (unsigned long exponent : {65537ul, 3ul}) {
        Pkey key = RsaKeyWithExponent(1024, exponent);
        ASSERT_TRUE(key);
        RSAPUBLICKEYBLOB pub = RsaBlobOf(key.get());
        Bytes data = Random(35, 8);
        Bytes sig = Sign(key.get(), data, RSA_PKCS1_PADDING);
        ASSERT_EQ(sig.size(), 128u);
        EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, data.data(), 35, sig.data(), 128), SAR_OK) << exponent;
        // A suffix or a prefix of the signed data is not what was signed.
        EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, data.data() + 5, 30, sig.data(), 128), SAR_FAIL) << exponent;
        EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, data.data(), 34, sig.data(), 128), SAR_FAIL) << exponent;
        EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, data.data(), 35, sig.data(), 127), SAR_FAIL) << exponent;
        Bytes longData = Random(200, 8);
        EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, longData.data(), 200, sig.data(), 128), SAR_FAIL) << exponent;

        // Blocks that are not 00 01, eight FF or more, 00, data.
        Bytes block(128, 0xFF);
        block[0] = 0x00;
        block[1] = 0x01;
        block[128 - 36] = 0x00;
        std::copy(data.begin(), data.end(), block.end() - 35);
        ASSERT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, data.data(), 35, RawSign(key.get(), block).data(), 128), SAR_OK);
        Bytes wrongType = block, badFill = block, shortFill(128, 0);
        wrongType[1] = 0x02;
        badFill[20] = 0xFE;
        shortFill[1] = 0x01;
        std::fill(shortFill.begin() + 2, shortFill.begin() + 9, 0xFF); // seven FF
        std::copy(data.begin(), data.end(), shortFill.end() - 35);
        for (const Bytes& forged : {wrongType, badFill})
            EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, data.data(), 35, RawSign(key.get(), forged).data(), 128),
                      SAR_FAIL)
                << exponent;
        Bytes tail(shortFill.begin() + 10, shortFill.end());
        EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, tail.data(), static_cast<ULONG>(tail.size()),
                                       RawSign(key.get(), shortFill).data(), 128),
                  SAR_FAIL)
            << exponent;
    }
}

TEST_F(ExternalKeys, RsaForgeriesAreRefused)
{
    Pkey key = NewKey("RSA", 1024);
    RSAPUBLICKEYBLOB pub = RsaBlobOf(key.get());
    Bytes zero(128, 0);
    BYTE one = 0x41;
    EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, zero.data(), 0, zero.data(), 128), SAR_FAIL);
    // A signature equal to the modulus works out to zero as well.
    Bytes n(pub.Modulus + 128, pub.Modulus + 256);
    EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, zero.data(), 0, n.data(), 128), SAR_FAIL);
    // Random signatures over one byte never pass.
    Bytes guess(128);
    for (int i = 0; i < 300; ++i) {
        guess = Random(128, static_cast<BYTE>(i));
        guess[0] = 0;
        ASSERT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, &one, 1, guess.data(), 128), SAR_FAIL) << i;
    }
    // The key's own exponent is used: a record naming another fails.
    Bytes data = Random(20, 1);
    Bytes sig = Sign(key.get(), data, RSA_PKCS1_PADDING);
    pub.PublicExponent[3] = 3;
    EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, data.data(), 20, sig.data(), 128), SAR_FAIL);
    pub.PublicExponent[0] = pub.PublicExponent[1] = pub.PublicExponent[2] = 0;
    pub.PublicExponent[3] = 1;
    EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, data.data(), 20, sig.data(), 128), SAR_FAIL);
}

} // namespace
