// Operations on keys the caller hands in, run in software and checked
// against OpenSSL both ways.
#include "SkfKeyFixture.h"

namespace {

using namespace skftest;

class ExternalKeys : public KeyTest {};

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
    // Shorter data than a digest is refused, not read past.
    EXPECT_EQ(Keys().SKF_ECCVerify(m_dev, &pub, digest.data(), 16, &ours), SAR_FAIL);
    EXPECT_EQ(Keys().SKF_ECCVerify(m_dev, &pub, nullptr, 32, &ours), SAR_INVALIDPARAMERR);
}

TEST_F(ExternalKeys, Sm2CiphertextsCrossCheckWithOpenSsl)
{
    Pkey key = NewKey("SM2");
    ECCPUBLICKEYBLOB pub = EccBlobOf(key.get());
    ECCPRIVATEKEYBLOB pri = EccPrivateBlobOf(key.get());

    Bytes plain = Random(100, 11);
    Bytes room(EccCipherBlobSize(100));
    ASSERT_EQ(Keys().SKF_ExtECCEncrypt(m_dev, &pub, plain.data(), 100, AsCipher(room)), SAR_OK);
    EXPECT_EQ(AsCipher(room)->CipherLen, 100u);
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

TEST_F(ExternalKeys, RsaVerificationComparesTheTrailingBytes)
{
    Pkey key = NewKey("RSA", 1024);
    RSAPUBLICKEYBLOB pub = RsaBlobOf(key.get());
    Bytes data = Random(35, 8);
    Bytes sig = Sign(key.get(), data, RSA_PKCS1_PADDING);
    ASSERT_EQ(sig.size(), 128u);
    EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, data.data(), 35, sig.data(), 128), SAR_OK);
    // The record's exponent is not read: 65537 always.
    pub.PublicExponent[3] = 3;
    EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, data.data(), 35, sig.data(), 128), SAR_OK);
    // Only the trailing bytes are compared.
    EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, data.data() + 5, 30, sig.data(), 128), SAR_OK);
    EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, data.data(), 34, sig.data(), 128), SAR_FAIL);
    EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, data.data(), 35, sig.data(), 127), SAR_FAIL);
    Bytes longData = Random(200, 8);
    EXPECT_EQ(Keys().SKF_RSAVerify(m_dev, &pub, longData.data(), 200, sig.data(), 128), SAR_FAIL);
}

}  // namespace
