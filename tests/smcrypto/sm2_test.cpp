#include "FixedRandom.h"
#include "OsslPtr.h"
#include "Sm2.h"
#include "Sm3.h"
#include "SmCurves.h"
#include "SmObjects.h"
#include "VectorFile.h"

#include <gtest/gtest.h>

#include <openssl/err.h>

namespace {

using namespace test_vectors;

BnPtr Bn(const std::string &hex)
{
    BIGNUM *b = nullptr;
    BN_hex2bn(&b, hex.c_str());
    return BnPtr(b);
}

Stanza VectorOfKind(const std::string &kind)
{
    for (const Stanza &s : ReadVectorFile("sm2.txt"))
        if (s.at("Kind") == kind) return s;
    return {};
}

struct CurveParams {
    BnPtr a = BnPtr(BN_new()), b = BnPtr(BN_new()), gx = BnPtr(BN_new()), gy = BnPtr(BN_new());
    explicit CurveParams(int nid)
    {
        EcGroupPtr g(SmCurveGroupNew(nid));
        EC_GROUP_get_curve(g.get(), nullptr, a.get(), b.get(), nullptr);
        EC_POINT_get_affine_coordinates(g.get(), EC_GROUP_get0_generator(g.get()), gx.get(), gy.get(), nullptr);
    }
};

// A random key pair on the SM2 curve: d and (x, y).
struct KeyPair {
    BnPtr d = BnPtr(BN_new()), x = BnPtr(BN_new()), y = BnPtr(BN_new());
    KeyPair()
    {
        EcGroupPtr g(SmCurveGroupNew(SM_NID_SM2_CURVE));
        EcPointPtr p(EC_POINT_new(g.get()));
        BN_rand_range(d.get(), EC_GROUP_get0_order(g.get()));
        EC_POINT_mul(g.get(), p.get(), d.get(), nullptr, nullptr, nullptr);
        EC_POINT_get_affine_coordinates(g.get(), p.get(), x.get(), y.get(), nullptr);
    }
};

TEST(Sm2Example, ZValueAndDigestArePublished)
{
    Stanza s = VectorOfKind("sign");
    CurveParams c(SmNidSm2TestCurve());
    std::vector<uint8_t> id = Hex(s.at("ID")), msg = Hex(s.at("Message"));
    uint8_t z[32];
    ASSERT_EQ(sm2_compute_z(id.data(), id.size(), c.a.get(), c.b.get(), c.gx.get(), c.gy.get(), Bn(s.at("Px")).get(),
                            Bn(s.at("Py")).get(), z),
              1);
    EXPECT_EQ(std::vector<uint8_t>(z, z + 32), Hex(s.at("Z")));
    std::vector<uint8_t> zm(z, z + 32);
    zm.insert(zm.end(), msg.begin(), msg.end());
    uint8_t e[32];
    Sm3Digest(zm.data(), zm.size(), e);
    EXPECT_EQ(std::vector<uint8_t>(e, e + 32), Hex(s.at("E")));
}

TEST(Sm2Example, PublishedSignatureVerifiesOnExampleCurve)
{
    Stanza s = VectorOfKind("sign");
    EcdsaSigPtr sig(ECDSA_SIG_new());
    ECDSA_SIG_set0(sig.get(), Bn(s.at("R")).release(), Bn(s.at("S")).release());
    EXPECT_EQ(
        sm2_do_verify(sig.get(), Bn(s.at("Px")).get(), Bn(s.at("Py")).get(), Bn(s.at("E")).get(), SmNidSm2TestCurve()),
        1);
    // The same signature means nothing on the recommended curve.
    EXPECT_EQ(
        sm2_do_verify(sig.get(), Bn(s.at("Px")).get(), Bn(s.at("Py")).get(), Bn(s.at("E")).get(), SM_NID_SM2_CURVE), 0);
}

TEST(Sm2Example, SigningWithPublishedKGivesPublishedSignature)
{
    Stanza s = VectorOfKind("sign");
    FixedRandom k(Hex(s.at("K")));
    EcdsaSigPtr sig(sm2_do_sign(Bn(s.at("E")).get(), Bn(s.at("D")).get(), SmNidSm2TestCurve()));
    ASSERT_TRUE(sig);
    EXPECT_EQ(BN_cmp(ECDSA_SIG_get0_r(sig.get()), Bn(s.at("R")).get()), 0);
    EXPECT_EQ(BN_cmp(ECDSA_SIG_get0_s(sig.get()), Bn(s.at("S")).get()), 0);
}

TEST(Sm2Example, EncryptionWithPublishedKGivesPublishedCiphertext)
{
    Stanza s = VectorOfKind("encrypt");
    std::vector<uint8_t> msg = Hex(s.at("Message"));
    std::vector<uint8_t> out(msg.size() + SM2_CIPHER_OVERHEAD);
    {
        FixedRandom k(Hex(s.at("K")));
        ASSERT_EQ(sm2_do_encrypt(SmNidSm2TestCurve(), msg.data(), msg.size(), Bn(s.at("Px")).get(),
                                 Bn(s.at("Py")).get(), out.data()),
                  1);
    }
    std::vector<uint8_t> expect {0x04};
    for (const char *part : {"C1x", "C1y", "C2", "C3"}) {
        std::vector<uint8_t> p = Hex(s.at(part));
        expect.insert(expect.end(), p.begin(), p.end());
    }
    EXPECT_EQ(ToHex(out), ToHex(expect));
    std::vector<uint8_t> plain(msg.size());
    ASSERT_EQ(sm2_do_decrypt(SmNidSm2TestCurve(), out.data(), out.size(), Bn(s.at("D")).get(), plain.data()), 1);
    EXPECT_EQ(plain, msg);
}

TEST(Sm2, SignatureVerifiesAndOneBitOfDigestBreaksIt)
{
    KeyPair key;
    BnPtr e = Bn("B524F552CD82B8B028476E005C377FB19A87E6FC682D48BB5D42E3D9B9EFFE76");
    EcdsaSigPtr sig(sm2_do_sign(e.get(), key.d.get(), SM_NID_SM2_CURVE));
    ASSERT_TRUE(sig);
    EXPECT_EQ(sm2_do_verify(sig.get(), key.x.get(), key.y.get(), e.get(), SM_NID_SM2_CURVE), 1);
    BN_set_bit(e.get(), 0); // the digest ends in 0x76
    EXPECT_EQ(sm2_do_verify(sig.get(), key.x.get(), key.y.get(), e.get(), SM_NID_SM2_CURVE), 0);
}

TEST(Sm2, OutOfRangeRAndSAreRejected)
{
    KeyPair key;
    EcGroupPtr g(SmCurveGroupNew(SM_NID_SM2_CURVE));
    const BIGNUM *n = EC_GROUP_get0_order(g.get());
    BnPtr e = Bn("01");
    for (int which = 0; which < 4; ++which) {
        EcdsaSigPtr sig(ECDSA_SIG_new());
        BnPtr zero = Bn("0"), one = Bn("1"), order(BN_dup(n));
        BIGNUM *bad = which < 2 ? zero.release() : order.release();
        if (which % 2 == 0)
            ECDSA_SIG_set0(sig.get(), bad, one.release());
        else
            ECDSA_SIG_set0(sig.get(), one.release(), bad);
        EXPECT_EQ(sm2_do_verify(sig.get(), key.x.get(), key.y.get(), e.get(), SM_NID_SM2_CURVE), 0) << which;
    }
    EXPECT_EQ(sm2_do_sign(e.get(), key.d.get(), NID_X9_62_prime256v1), nullptr);
    EXPECT_EQ(ERR_GET_REASON(ERR_peek_last_error()), SM2_R_BAD_ARGUMENT);
    ERR_clear_error();
}

TEST(Sm2, OneByteMessageRoundTripsAndTamperingFailsWithClearedOutput)
{
    KeyPair key;
    const uint8_t msg[1] = {0x5A};
    std::vector<uint8_t> c(1 + SM2_CIPHER_OVERHEAD);
    ASSERT_EQ(sm2_do_encrypt(SM_NID_SM2_CURVE, msg, 1, key.x.get(), key.y.get(), c.data()), 1);
    EXPECT_EQ(c.size(), 98u);
    EXPECT_EQ(c[0], 0x04);
    uint8_t out = 0;
    ASSERT_EQ(sm2_do_decrypt(SM_NID_SM2_CURVE, c.data(), c.size(), key.d.get(), &out), 1);
    EXPECT_EQ(out, 0x5A);
    for (size_t at : {size_t(65), c.size() - 1}) { // C2, then C3
        std::vector<uint8_t> bad = c;
        bad[at] ^= 1;
        out = 0x77;
        EXPECT_EQ(sm2_do_decrypt(SM_NID_SM2_CURVE, bad.data(), bad.size(), key.d.get(), &out), 0) << at;
        EXPECT_EQ(out, 0) << "plaintext left behind, byte " << at;
    }
    std::vector<uint8_t> bad = c;
    bad[0] = 0x02;
    EXPECT_EQ(sm2_do_decrypt(SM_NID_SM2_CURVE, bad.data(), bad.size(), key.d.get(), &out), 0);
    bad = c;
    bad[40] ^= 1; // C1 off the curve
    EXPECT_EQ(sm2_do_decrypt(SM_NID_SM2_CURVE, bad.data(), bad.size(), key.d.get(), &out), 0);
    EXPECT_EQ(sm2_do_decrypt(SM_NID_SM2_CURVE, c.data(), 96, key.d.get(), &out), 0);
}

TEST(Sm2, EmptyMessageEncryptsAndDecrypts)
{
    KeyPair key;
    std::vector<uint8_t> c(SM2_CIPHER_OVERHEAD);
    ASSERT_EQ(sm2_do_encrypt(SM_NID_SM2_CURVE, nullptr, 0, key.x.get(), key.y.get(), c.data()), 1);
    EXPECT_EQ(sm2_do_decrypt(SM_NID_SM2_CURVE, c.data(), c.size(), key.d.get(), nullptr), 1);
}

TEST(Sm2, KdfIsPrefixStableAndBn2Bin32Bounds)
{
    const uint8_t z[5] = {1, 2, 3, 4, 5};
    uint8_t short16[16], long40[40];
    ASSERT_EQ(sm2_kdf(z, sizeof z, 8 * 16, short16), 1);
    ASSERT_EQ(sm2_kdf(z, sizeof z, 8 * 40, long40), 1);
    EXPECT_EQ(ToHex(short16, 16), ToHex(long40, 16));

    uint8_t out[32];
    BnPtr big = Bn(std::string(66, 'F'));
    EXPECT_EQ(sm2_bn2bin32(big.get(), out), 0);
    ASSERT_EQ(sm2_bn2bin32(Bn("1").get(), out), 1);
    EXPECT_EQ(ToHex(out, 32), std::string(62, '0') + "01");
    EXPECT_EQ(sm2_is_zero(out, 31), 1);
    EXPECT_EQ(sm2_is_zero(out, 32), 0);
}

TEST(Sm2Curves, RecommendedCurveOrder)
{
    EcGroupPtr g(SmCurveGroupNew(SM_NID_SM2_CURVE));
    ASSERT_TRUE(g);
    char *hex = BN_bn2hex(EC_GROUP_get0_order(g.get()));
    EXPECT_STREQ(hex, "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123");
    OPENSSL_free(hex);
    EXPECT_EQ(SmCurveGroupNew(NID_X9_62_prime256v1), nullptr);
}

} // namespace
