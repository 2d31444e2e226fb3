#include "tokencrypto/Sm2.h"

#include <cstring>
#include <random>

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include "DeadStack.h"
#include "OpenSslSm2.h"
#include "VectorFile.h"
#include "tokencrypto/Sm2Scheme.h"
#include "tokencrypto/Sm3.h"

namespace {

using namespace tokencrypto;
using test_vectors::Bytes;
using test_vectors::Hex;
using tokencrypto_test::OpenSslKey;

const std::string kDefaultId = "1234567812345678";

std::vector<uint8_t> Sm3Of(std::initializer_list<std::vector<uint8_t>> parts)
{
    Sm3Context context;
    SM3_Init(&context);
    for (const auto& part : parts) SM3_Update(&context, part.data(), uint32_t(part.size()));
    std::vector<uint8_t> digest(32);
    SM3_Final(&context, digest.data());
    return digest;
}

sm2::ScalarSource FixedScalar(const std::vector<uint8_t>& k)
{
    return [k](uint8_t out[32]) {
        std::memcpy(out, k.data(), 32);
        return true;
    };
}

// The standard's examples run on its own 256-bit example curve.
class Sm2ExampleCurve : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        vectors_ = new std::vector<test_vectors::Stanza>(test_vectors::ReadVectorFile("sm2_gmt0003_example.txt"));
        const auto stanza = test_vectors::FindStanza(*vectors_, "curve");
        sm2::CurveParameters params;
        std::memcpy(params.p, Hex(stanza.at("P")).data(), 32);
        std::memcpy(params.a, Hex(stanza.at("A")).data(), 32);
        std::memcpy(params.b, Hex(stanza.at("B")).data(), 32);
        std::memcpy(params.n, Hex(stanza.at("N")).data(), 32);
        std::memcpy(params.gx, Hex(stanza.at("Gx")).data(), 32);
        std::memcpy(params.gy, Hex(stanza.at("Gy")).data(), 32);
        curve_ = new sm2::Curve;
        sm2::Curve_Init(curve_, params);
    }
    static void TearDownTestSuite()
    {
        delete curve_;
        delete vectors_;
    }
    static test_vectors::Stanza Vector(const std::string& name) { return test_vectors::FindStanza(*vectors_, name); }
    static sm2::Curve* curve_;
    static std::vector<test_vectors::Stanza>* vectors_;
};
sm2::Curve* Sm2ExampleCurve::curve_ = nullptr;
std::vector<test_vectors::Stanza>* Sm2ExampleCurve::vectors_ = nullptr;

TEST_F(Sm2ExampleCurve, SignatureMatchesPublishedExample)
{
    const auto v = Vector("signature");
    const auto id = Bytes(v.at("Id"));
    uint8_t z[32];
    sm2::Scheme_GetZ(*curve_, Hex(v.at("Px")).data(), Hex(v.at("Py")).data(), id.data(), uint32_t(id.size()), z);
    ASSERT_EQ(Hex(v.at("Z")), std::vector<uint8_t>(z, z + 32));
    const auto e = Sm3Of({std::vector<uint8_t>(z, z + 32), Bytes(v.at("Message"))});
    ASSERT_EQ(Hex(v.at("E")), e);

    uint8_t signature[64];
    ASSERT_EQ(SM2_OK,
              sm2::Scheme_Sign(*curve_, Hex(v.at("D")).data(), e.data(), FixedScalar(Hex(v.at("K"))), signature));
    EXPECT_EQ(Hex(v.at("R")), std::vector<uint8_t>(signature, signature + 32));
    EXPECT_EQ(Hex(v.at("S")), std::vector<uint8_t>(signature + 32, signature + 64));
    EXPECT_EQ(SM2_OK, sm2::Scheme_Verify(*curve_, Hex(v.at("Px")).data(), Hex(v.at("Py")).data(), e.data(), signature));
}

TEST_F(Sm2ExampleCurve, EncryptionMatchesPublishedExample)
{
    const auto v = Vector("encryption");
    const auto message = Bytes(v.at("Message"));
    std::vector<uint8_t> cipher(message.size() + SM2_CIPHER_OVERHEAD);
    ASSERT_EQ(SM2_OK,
              sm2::Scheme_Encrypt(*curve_, Hex(v.at("Px")).data(), Hex(v.at("Py")).data(), message.data(),
                                  uint32_t(message.size()), FixedScalar(Hex(v.at("K"))), cipher.data()));
    std::vector<uint8_t> expected {0x04};
    for (const char* key : {"C1x", "C1y", "C2", "C3"}) {
        const auto part = Hex(v.at(key));
        expected.insert(expected.end(), part.begin(), part.end());
    }
    EXPECT_EQ(expected, cipher);

    std::vector<uint8_t> plain(message.size());
    ASSERT_EQ(SM2_OK,
              sm2::Scheme_Decrypt(*curve_, Hex(v.at("D")).data(), cipher.data(), uint32_t(cipher.size()), plain.data(),
                                  uint32_t(plain.size())));
    EXPECT_EQ(message, plain);
}

// Digest e = SM3(Z || M) with our Z, the way the SKF layer prepares it.
std::vector<uint8_t> OurDigest(const OpenSslKey& key, const std::vector<uint8_t>& message)
{
    Sm2PublicKey publicKey {256, {}, {}};
    std::memcpy(publicKey.x, key.x, 32);
    std::memcpy(publicKey.y, key.y, 32);
    uint8_t z[32];
    SM2_GetZ(&publicKey, reinterpret_cast<const uint8_t*>(kDefaultId.data()), uint32_t(kDefaultId.size()), z);
    return Sm3Of({std::vector<uint8_t>(z, z + 32), message});
}

Sm2PublicKey PublicOf(const OpenSslKey& key)
{
    Sm2PublicKey k {256, {}, {}};
    std::memcpy(k.x, key.x, 32);
    std::memcpy(k.y, key.y, 32);
    return k;
}

Sm2PrivateKey PrivateOf(const OpenSslKey& key)
{
    Sm2PrivateKey k {256, {}};
    std::memcpy(k.d, key.d, 32);
    return k;
}

TEST(Sm2, OurSignatureVerifiesInOpenSsl)
{
    OpenSslKey key;
    const auto message = Bytes("message to be signed");
    const auto privateKey = PrivateOf(key);
    for (int round = 0; round < 8; ++round) {
        std::vector<uint8_t> signature(64);
        uint32_t length = 0;
        ASSERT_EQ(SM2_OK, SM2_Sign(&privateKey, OurDigest(key, message).data(), signature.data(), &length));
        EXPECT_EQ(64u, length);
        EXPECT_TRUE(tokencrypto_test::OpenSslVerify(key, kDefaultId, message, signature));
    }
}

TEST(Sm2, OpenSslSignatureVerifiesInOurs)
{
    OpenSslKey key;
    const auto publicKey = PublicOf(key);
    for (int round = 0; round < 8; ++round) {
        const auto message = Bytes("message number " + std::to_string(round));
        const auto signature = tokencrypto_test::OpenSslSign(key, kDefaultId, message);
        EXPECT_EQ(SM2_OK, SM2_Verify(&publicKey, OurDigest(key, message).data(), signature.data()));
    }
}

const auto kOrder = Hex("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123");

// (a - b) mod n as 32 bytes.
std::vector<uint8_t> SubModN(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM* x = BN_bin2bn(a.data(), int(a.size()), nullptr);
    BIGNUM* y = BN_bin2bn(b.data(), int(b.size()), nullptr);
    BIGNUM* n = BN_bin2bn(kOrder.data(), 32, nullptr);
    BN_mod_sub(x, x, y, n, ctx);
    std::vector<uint8_t> out(32);
    BN_bn2binpad(x, out.data(), 32);
    BN_free(n);
    BN_free(y);
    BN_free(x);
    BN_CTX_free(ctx);
    return out;
}

// u1 G + u2 Q as verification sums it, as x || y; false for infinity.
bool OurSumOfMultiples(const std::vector<uint8_t>& u1, const std::vector<uint8_t>& u2, const OpenSslKey& q,
                       uint8_t xy[64])
{
    const sm2::Curve& c = sm2::RecommendedCurve();
    sm2::Fe k1, k2, x, y;
    sm2::Fe_FromBytes(&k1, u1.data());
    sm2::Fe_FromBytes(&k2, u2.data());
    sm2::Fe_FromBytes(&x, q.x);
    sm2::Fe_FromBytes(&y, q.y);
    sm2::JacobianPoint point, sum;
    sm2::Point_FromAffine(&point, x, y, c);
    sm2::Point_MulSumPublic(&sum, k1, k2, point, c);
    if (!sm2::Point_ToAffine(&x, &y, sum, c)) return false;
    sm2::Fe_ToBytes(xy, x);
    sm2::Fe_ToBytes(xy + 32, y);
    return true;
}

// Over the scalars and points where a shortcut goes wrong: 0, 1, n - 1 and
// values above n; equal scalars with Q = G, where the sum doubles at the
// first digit, and with Q = -G, where every partial sum cancels.
TEST(Sm2, SumOfMultiplesMatchesOpenSsl)
{
    std::mt19937 random(24);
    const auto randomScalar = [&random] {
        std::vector<uint8_t> k(32);
        for (auto& byte : k) byte = uint8_t(random());
        return k;
    };
    const auto check = [](const std::vector<uint8_t>& u1, const std::vector<uint8_t>& u2, const OpenSslKey& q) {
        uint8_t ours[64] = {}, theirs[64] = {};
        const bool finite = tokencrypto_test::OpenSslSumOfMultiples(u1, u2, q, theirs);
        ASSERT_EQ(finite, OurSumOfMultiples(u1, u2, q, ours));
        EXPECT_EQ(0, std::memcmp(ours, theirs, 64));
    };
    const std::vector<uint8_t> zero(32, 0), one = SubModN(Hex("01"), zero), nMinus1 = SubModN(zero, one);
    const std::vector<std::vector<uint8_t>> scalars = {zero, one, nMinus1, randomScalar(), randomScalar()};
    const OpenSslKey randomPoint, g(one.data()), minusG(nMinus1.data());
    for (const OpenSslKey* q : {&randomPoint, &g, &minusG}) {
        for (const auto& u1 : scalars) {
            for (const auto& u2 : scalars) check(u1, u2, *q);
        }
    }
    for (int round = 0; round < 8; ++round) check(randomScalar(), randomScalar(), OpenSslKey());
}

// Signatures built so that s and t = r + s take the edge values: e is
// chosen to match (s G + t Q).x. Both verifiers accept them and refuse
// them with e changed; with Q = G and t = n - s the sum is infinity.
TEST(Sm2, VerificationMatchesOpenSslOnEdgeScalars)
{
    std::mt19937 random(5);
    const auto randomScalar = [&random] {
        std::vector<uint8_t> k(32);
        for (auto& byte : k) byte = uint8_t(random());
        return SubModN(k, {0});
    };
    const OpenSslKey key;
    const auto verdicts = [](const OpenSslKey& q, const std::vector<uint8_t>& e, const std::vector<uint8_t>& rs) {
        const auto ours = PublicOf(q);
        return std::make_pair(SM2_Verify(&ours, e.data(), rs.data()),
                              tokencrypto_test::OpenSslVerifyDigest(q, e.data(), rs));
    };
    const std::vector<uint8_t> zero(32, 0), one = SubModN(Hex("01"), zero), two = SubModN(Hex("02"), zero),
                                            nMinus1 = SubModN(zero, one), s1 = randomScalar(), s2 = randomScalar();
    const std::pair<std::vector<uint8_t>, std::vector<uint8_t>> cases[] = {
        {one, two},    {one, nMinus1}, {nMinus1, one}, {nMinus1, two}, {s1, one},
        {s1, nMinus1}, {one, s2},      {nMinus1, s2},  {s1, s2},
    };
    for (const auto& [s, t] : cases) {
        std::vector<uint8_t> rs = SubModN(t, s);
        uint8_t xy[64];
        ASSERT_TRUE(tokencrypto_test::OpenSslSumOfMultiples(s, t, key, xy));
        auto e = SubModN(rs, std::vector<uint8_t>(xy, xy + 32));
        rs.insert(rs.end(), s.begin(), s.end());
        EXPECT_EQ(std::make_pair(SM2_OK, true), verdicts(key, e, rs));
        e[31] ^= 1;
        EXPECT_EQ(std::make_pair(SM2_ERR_VERIFY, false), verdicts(key, e, rs));
    }
    const OpenSslKey g(one.data());
    std::vector<uint8_t> rs = SubModN(SubModN(zero, s1), s1);
    rs.insert(rs.end(), s1.begin(), s1.end());
    EXPECT_EQ(std::make_pair(SM2_ERR_VERIFY, false), verdicts(g, randomScalar(), rs));
}

// b is a square modulo p: (0, sqrt(b)) is a curve point, not infinity, as
// a key to verify and encrypt with and as C1 (whose C3 then fails).
TEST(Sm2, PointWithZeroXIsACurvePoint)
{
    OpenSslKey key; // its point replaced: OpenSSL sums with the point alone
    std::memset(key.x, 0, 32);
    std::memcpy(key.y, Hex("FD4511E81736A60F07E88A83D6CF5A167FAE6D1A9C9330E76E232E00F5CDC154").data(), 32);
    const auto s = SubModN(Hex("05"), {0}), t = SubModN(Hex("07"), {0});
    uint8_t xy[64], cipher[98], plain[1] = {1};
    ASSERT_TRUE(tokencrypto_test::OpenSslSumOfMultiples(s, t, key, xy));
    auto rs = SubModN(t, s);
    const auto e = SubModN(rs, std::vector<uint8_t>(xy, xy + 32));
    rs.insert(rs.end(), s.begin(), s.end());
    const auto publicKey = PublicOf(key);
    const auto privateKey = PrivateOf(key);
    EXPECT_EQ(SM2_OK, SM2_Verify(&publicKey, e.data(), rs.data()));
    uint32_t length = 0;
    EXPECT_EQ(SM2_OK, SM2_Enc(&publicKey, plain, 1, cipher, &length, 98));
    std::memcpy(cipher + 1, key.x, 32);
    std::memcpy(cipher + 33, key.y, 32);
    EXPECT_EQ(SM2_ERR_DECRYPT, SM2_Dec(&privateKey, cipher, 98, plain, &length, 1));
}

TEST(Sm2, EncryptionInteroperatesWithOpenSsl)
{
    OpenSslKey key;
    const auto publicKey = PublicOf(key);
    const auto privateKey = PrivateOf(key);
    for (size_t length : {1, 2, 3, 31, 32, 33, 100}) {
        std::vector<uint8_t> message(length);
        for (size_t i = 0; i < length; ++i) message[i] = uint8_t(i * 37 + 1);
        std::vector<uint8_t> ours(length + SM2_CIPHER_OVERHEAD);
        uint32_t outLength = 0;
        ASSERT_EQ(
            SM2_OK,
            SM2_Enc(&publicKey, message.data(), uint32_t(length), ours.data(), &outLength, uint32_t(ours.size())));
        std::vector<uint8_t> decrypted;
        EXPECT_TRUE(tokencrypto_test::OpenSslDecrypt(key, ours, &decrypted)) << length;
        EXPECT_EQ(message, decrypted) << length;

        const auto theirs = tokencrypto_test::OpenSslEncrypt(key, message);
        std::vector<uint8_t> plain(length);
        EXPECT_EQ(
            SM2_OK,
            SM2_Dec(&privateKey, theirs.data(), uint32_t(theirs.size()), plain.data(), &outLength, uint32_t(length)))
            << length;
        EXPECT_EQ(message, plain) << length;
    }
}

// Round-trip and tamper cases on one key pair.
class Sm2Key : public ::testing::Test {
protected:
    Sm2Key() : publicKey_(PublicOf(key_)), privateKey_(PrivateOf(key_)) { }

    std::vector<uint8_t> Encrypt(const std::vector<uint8_t>& message)
    {
        std::vector<uint8_t> cipher(message.size() + SM2_CIPHER_OVERHEAD);
        uint32_t length = 0;
        EXPECT_EQ(SM2_OK,
                  SM2_Enc(&publicKey_, message.data(), uint32_t(message.size()), cipher.data(), &length,
                          uint32_t(cipher.size())));
        EXPECT_EQ(cipher.size(), length);
        return cipher;
    }

    uint32_t Decrypt(const std::vector<uint8_t>& cipher, std::vector<uint8_t>* plain)
    {
        plain->assign(cipher.size() - SM2_CIPHER_OVERHEAD, 0xEE);
        uint32_t length = 0;
        return SM2_Dec(&privateKey_, cipher.data(), uint32_t(cipher.size()), plain->data(), &length,
                       uint32_t(plain->size()));
    }

    OpenSslKey key_;
    Sm2PublicKey publicKey_;
    Sm2PrivateKey privateKey_;
};

TEST_F(Sm2Key, FlippedBitsOfDigestOrSignatureAreRefused)
{
    std::vector<uint8_t> e = Sm3Of({Bytes("digest input")});
    std::vector<uint8_t> signature(64);
    uint32_t length = 0;
    ASSERT_EQ(SM2_OK, SM2_Sign(&privateKey_, e.data(), signature.data(), &length));
    ASSERT_EQ(SM2_OK, SM2_Verify(&publicKey_, e.data(), signature.data()));
    for (size_t bit = 0; bit < 256; bit += 7) {
        auto badE = e;
        badE[bit / 8] ^= uint8_t(1 << (bit % 8));
        EXPECT_EQ(SM2_ERR_VERIFY, SM2_Verify(&publicKey_, badE.data(), signature.data())) << "e bit " << bit;
    }
    for (size_t bit = 0; bit < 512; bit += 5) {
        auto bad = signature;
        bad[bit / 8] ^= uint8_t(1 << (bit % 8));
        const uint32_t result = SM2_Verify(&publicKey_, e.data(), bad.data());
        EXPECT_TRUE(result == SM2_ERR_VERIFY || result == SM2_ERR_INVALID) << "signature bit " << bit;
    }
}

TEST_F(Sm2Key, SignatureValuesOutOfRangeAreInvalid)
{
    const std::vector<uint8_t> e(32, 0x11);
    const auto n = Hex("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123");
    const std::vector<uint8_t> zero(32, 0),
        one = Hex("0000000000000000000000000000000000000000000000000000000000000001");
    const struct {
        const char* label;
        std::vector<uint8_t> r, s;
    } cases[] = {{"r = 0", zero, one}, {"s = 0", one, zero}, {"r = n", n, one}, {"s = n", one, n}};
    for (const auto& c : cases) {
        std::vector<uint8_t> signature(c.r);
        signature.insert(signature.end(), c.s.begin(), c.s.end());
        EXPECT_EQ(SM2_ERR_INVALID, SM2_Verify(&publicKey_, e.data(), signature.data())) << c.label;
    }
}

TEST_F(Sm2Key, EmptyMessageEncryptsTo97BytesAndBack)
{
    const auto cipher = Encrypt({});
    ASSERT_EQ(97u, cipher.size());
    std::vector<uint8_t> plain;
    EXPECT_EQ(SM2_OK, Decrypt(cipher, &plain));
    EXPECT_TRUE(plain.empty());
}

TEST_F(Sm2Key, ChangedCheckValueFailsAndClearsOutput)
{
    auto cipher = Encrypt(Bytes("secret"));
    cipher.back() ^= 1;
    std::vector<uint8_t> plain;
    EXPECT_EQ(SM2_ERR_DECRYPT, Decrypt(cipher, &plain));
    EXPECT_EQ(std::vector<uint8_t>(6, 0), plain);
}

// C1 must be an uncompressed point of the curve, else an attacker's point
// of small order would reveal d through the answers.
TEST_F(Sm2Key, MalformedC1IsRefusedBeforeUse)
{
    const auto good = Encrypt(Bytes("abc"));
    const auto p = Hex("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF");
    const struct {
        const char* label;
        size_t offset;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"compressed form", 0, {0x02}},
        {"off the curve", 64, {uint8_t(good[64] ^ 1)}},
        {"x not below p", 1, p},
        {"zero point", 1, std::vector<uint8_t>(64, 0)},
    };
    for (const auto& c : cases) {
        auto cipher = good;
        std::copy(c.bytes.begin(), c.bytes.end(), cipher.begin() + long(c.offset));
        std::vector<uint8_t> plain;
        EXPECT_EQ(SM2_ERR_INVALID, Decrypt(cipher, &plain)) << c.label;
        EXPECT_EQ(std::vector<uint8_t>(3, 0xEE), plain) << c.label << ": output untouched";
    }
}

TEST_F(Sm2Key, InconsistentLengthsAreRefused)
{
    const auto message = Bytes("abc");
    std::vector<uint8_t> cipher(200);
    uint32_t length = 0;
    EXPECT_EQ(SM2_ERR_INVALID, SM2_Enc(&publicKey_, message.data(), 3, cipher.data(), &length, 99));
    EXPECT_EQ(99u, length);
    const auto good = Encrypt(message);
    std::vector<uint8_t> plain(8);
    EXPECT_EQ(SM2_ERR_INVALID, SM2_Dec(&privateKey_, good.data(), uint32_t(good.size()), plain.data(), &length, 4));
    EXPECT_EQ(SM2_ERR_INVALID, SM2_Dec(&privateKey_, good.data(), 96, plain.data(), &length, 0));
    // An output shorter than C2 is refused, not written past.
    EXPECT_EQ(SM2_ERR_INVALID, SM2_Dec(&privateKey_, good.data(), uint32_t(good.size()), plain.data(), &length, 2));
    EXPECT_EQ(SM2_ERR_INVALID, SM2_Enc(&publicKey_, message.data(), 3, cipher.data(), &length, 3));
}

// d and the forms signing holds it in: d R, (1 + d) R and (1 + d)^-1 R
// modulo n, with R = 2^256.
std::vector<std::vector<uint8_t>> PrivateScalarForms(const uint8_t d[32])
{
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM *n = nullptr, *r = BN_new(), *t = BN_new();
    BN_hex2bn(&n, "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123");
    BIGNUM* plain = BN_bin2bn(d, 32, nullptr);
    BIGNUM* onePlusD = BN_dup(plain);
    BN_add_word(onePlusD, 1);
    BIGNUM* inverse = BN_mod_inverse(nullptr, onePlusD, n, ctx);
    BN_set_bit(r, 256);
    std::vector<std::vector<uint8_t>> forms = {std::vector<uint8_t>(d, d + 32)};
    for (BIGNUM* x : {plain, onePlusD, inverse}) {
        BN_mod_mul(t, x, r, n, ctx);
        forms.emplace_back(32);
        BN_bn2binpad(t, forms.back().data(), 32);
    }
    for (BIGNUM* x : {n, r, t, plain, onePlusD, inverse}) BN_free(x);
    BN_CTX_free(ctx);
    return forms;
}

TEST_F(Sm2Key, PrivateOperationsLeaveNoSecretOnTheStack)
{
    const auto e = Sm3Of({Bytes("digest input")});
    const auto cipher = Encrypt(Bytes("secret"));
    std::vector<uint8_t> signature(64), plain(6);
    uint32_t length = 0;
    tokencrypto_test::ClearDeadStack();
    const uint32_t signResult = SM2_Sign(&privateKey_, e.data(), signature.data(), &length);
    const auto afterSigning = tokencrypto_test::DeadStack();
    tokencrypto_test::ClearDeadStack();
    const uint32_t decryptResult =
        SM2_Dec(&privateKey_, cipher.data(), uint32_t(cipher.size()), plain.data(), &length, 6);
    const auto afterDecrypting = tokencrypto_test::DeadStack();
    EXPECT_EQ(SM2_OK, signResult);
    EXPECT_EQ(SM2_OK, decryptResult);
    const auto forms = PrivateScalarForms(key_.d);
    for (size_t i = 0; i < forms.size(); ++i) {
        EXPECT_FALSE(tokencrypto_test::Holds(afterSigning, forms[i])) << "signing, form " << i;
        EXPECT_FALSE(tokencrypto_test::Holds(afterDecrypting, forms[i])) << "decrypting, form " << i;
    }
}

TEST(Sm2, AllZeroPublicKeyIsInvalid)
{
    const Sm2PublicKey zero {256, {}, {}};
    uint8_t cipher[98];
    uint32_t length = 0;
    const uint8_t message[1] = {1};
    EXPECT_EQ(SM2_ERR_INVALID, SM2_Enc(&zero, message, 1, cipher, &length, 98));
    const uint8_t e[32] = {}, signature[64] = {1, 0};
    EXPECT_EQ(SM2_ERR_INVALID, SM2_Verify(&zero, e, signature));
}

// d = n - 1 has no (1 + d)^-1: signing must refuse it instead of looping.
TEST(Sm2, PrivateScalarsOutsideTheGroupAreRefused)
{
    const auto nMinus1 = Hex("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54122");
    for (const auto& d : {nMinus1, std::vector<uint8_t>(32, 0), std::vector<uint8_t>(32, 0xFF)}) {
        Sm2PrivateKey key {256, {}};
        std::memcpy(key.d, d.data(), 32);
        uint8_t e[32] = {}, signature[64];
        uint32_t length = 0;
        EXPECT_EQ(SM2_ERR_INVALID, SM2_Sign(&key, e, signature, &length));
    }
}

TEST(Sm2, PointRoutinesAgreeWithOpenSslKeys)
{
    OpenSslKey key;
    Sm2Point g {}, product {};
    const auto gx = Hex("32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7");
    const auto gy = Hex("BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0");
    for (int i = 0; i < 8; ++i) {
        g.x[i] = uint32_t(gx[31 - 4 * i]) | uint32_t(gx[30 - 4 * i]) << 8 | uint32_t(gx[29 - 4 * i]) << 16 |
            uint32_t(gx[28 - 4 * i]) << 24;
        g.y[i] = uint32_t(gy[31 - 4 * i]) | uint32_t(gy[30 - 4 * i]) << 8 | uint32_t(gy[29 - 4 * i]) << 16 |
            uint32_t(gy[28 - 4 * i]) << 24;
    }
    uint32_t d[8];
    for (int i = 0; i < 8; ++i) {
        d[i] = uint32_t(key.d[31 - 4 * i]) | uint32_t(key.d[30 - 4 * i]) << 8 | uint32_t(key.d[29 - 4 * i]) << 16 |
            uint32_t(key.d[28 - 4 * i]) << 24;
    }
    SM2_PointMul(&product, d, &g);
    EXPECT_EQ(product.x[0],
              uint32_t(key.x[31]) | uint32_t(key.x[30]) << 8 | uint32_t(key.x[29]) << 16 | uint32_t(key.x[28]) << 24);
    EXPECT_EQ(product.y[7],
              uint32_t(key.y[3]) | uint32_t(key.y[2]) << 8 | uint32_t(key.y[1]) << 16 | uint32_t(key.y[0]) << 24);

    // G + G is 2 G, and (n - 1) G + G is the point at infinity.
    Sm2Point sum {}, doubled {};
    const uint32_t two[8] = {2};
    SM2_PointAdd(&sum, &g, &g);
    SM2_PointMul(&doubled, two, &g);
    EXPECT_EQ(0, std::memcmp(&sum, &doubled, sizeof sum));
    const uint32_t nMinus1[8] = {0x39D54122, 0x53BBF409, 0x21C6052B, 0x7203DF6B,
                                 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFE};
    Sm2Point minusG {};
    SM2_PointMul(&minusG, nMinus1, &g);
    SM2_PointAdd(&sum, &minusG, &g);
    const Sm2Point infinity {};
    EXPECT_EQ(0, std::memcmp(&sum, &infinity, sizeof sum));
}

TEST(Sm2, FieldRoutinesWrapAroundTheModulus)
{
    const uint32_t one[8] = {1}, two[8] = {2};
    uint32_t r[8];
    SM2_ModSubP(r, one, two); // p - 1
    const uint32_t pMinus1[8] = {0xFFFFFFFE, 0xFFFFFFFF, 0x00000000, 0xFFFFFFFF,
                                 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFE};
    EXPECT_EQ(0, std::memcmp(r, pMinus1, sizeof r));
    uint32_t square[8];
    SM2_ModMulP(square, pMinus1, pMinus1); // (-1)^2 = 1
    EXPECT_EQ(0, std::memcmp(square, one, sizeof square));
    SM2_ModSubN(r, one, two);
    EXPECT_EQ(0x39D54122u, r[0]);
    EXPECT_EQ(0xFFFFFFFEu, r[7]);
}

// Candidates 0, n and above n are drawn again; the first one in [1, n - 1]
// is kept.
TEST(Sm2, ScalarsOutsideTheGroupAreDrawnAgain)
{
    const auto n = Hex("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123");
    auto nPlus1 = n;
    nPlus1[31] += 1;
    std::vector<uint8_t> good(32, 0);
    good[31] = 7;
    const std::vector<std::vector<uint8_t>> candidates = {std::vector<uint8_t>(32, 0), n, nPlus1, good};
    size_t drawn = 0;
    const sm2::ScalarSource source = [&](uint8_t k[32]) {
        std::memcpy(k, candidates.at(drawn++).data(), 32);
        return true;
    };
    sm2::Fe k;
    ASSERT_TRUE(sm2::Scheme_DrawScalar(sm2::RecommendedCurve(), source, &k));
    EXPECT_EQ(4u, drawn);
    uint8_t bytes[32];
    sm2::Fe_ToBytes(bytes, k);
    EXPECT_EQ(good, std::vector<uint8_t>(bytes, bytes + 32));

    // A source that never gives one is taken for broken.
    const sm2::ScalarSource stuck = [](uint8_t out[32]) {
        std::memset(out, 0xFF, 32);
        return true;
    };
    EXPECT_FALSE(sm2::Scheme_DrawScalar(sm2::RecommendedCurve(), stuck, &k));

    uint32_t words[8];
    ASSERT_EQ(SM2_OK, SM2_RandomK(words));
    sm2::Fe drawnK;
    mont::FromDigits(drawnK.v, sm2::kLimbs, words, 8);
    EXPECT_FALSE(sm2::Fe_IsZero(drawnK));
    EXPECT_TRUE(sm2::Fe_Below(drawnK, sm2::RecommendedCurve().n));
}

} // namespace
