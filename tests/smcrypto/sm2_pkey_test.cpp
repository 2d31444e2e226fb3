#include "OsslPtr.h"
#include "Sm2Asn1.h"
#include "Sm2Pkey.h"
#include "TestDigest.h"

#include <gtest/gtest.h>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <string>

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY *p) const { EVP_PKEY_free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

PkeyPtr NewKey(const char *type, const char *curve)
{
    return PkeyPtr(curve ? EVP_PKEY_Q_keygen(nullptr, nullptr, type, curve)
                         : EVP_PKEY_Q_keygen(nullptr, nullptr, type));
}

std::vector<uint8_t> Sign(EVP_PKEY *k, const std::vector<uint8_t> &dgst)
{
    size_t len = 0;
    if (pkey_ec_sign(k, nullptr, &len, dgst.data(), dgst.size()) != 1) return {};
    std::vector<uint8_t> sig(len);
    if (pkey_ec_sign(k, sig.data(), &len, dgst.data(), dgst.size()) != 1) return {};
    sig.resize(len);
    return sig;
}

std::vector<uint8_t> LibrarySign(EVP_PKEY *k, const std::vector<uint8_t> &dgst)
{
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, k, nullptr));
    size_t len = 0;
    if (EVP_PKEY_sign_init(ctx.get()) <= 0 || EVP_PKEY_sign(ctx.get(), nullptr, &len, dgst.data(), dgst.size()) <= 0)
        return {};
    std::vector<uint8_t> sig(len);
    if (EVP_PKEY_sign(ctx.get(), sig.data(), &len, dgst.data(), dgst.size()) <= 0) return {};
    sig.resize(len);
    return sig;
}

bool LibraryVerify(EVP_PKEY *k, const std::vector<uint8_t> &sig, const std::vector<uint8_t> &dgst)
{
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, k, nullptr));
    return EVP_PKEY_verify_init(ctx.get()) > 0 &&
        EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), dgst.data(), dgst.size()) == 1;
}

using CryptFn = int (*)(EVP_PKEY *, unsigned char *, size_t *, const unsigned char *, size_t);

std::vector<uint8_t> Crypt(CryptFn fn, EVP_PKEY *k, const std::vector<uint8_t> &in)
{
    size_t len = 0;
    if (fn(k, nullptr, &len, in.data(), in.size()) != 1) return {0xEE};
    std::vector<uint8_t> out(len);
    if (fn(k, out.data(), &len, in.data(), in.size()) != 1) return {0xEE};
    out.resize(len);
    return out;
}

std::vector<uint8_t> LibraryCrypt(bool enc, EVP_PKEY *k, const std::vector<uint8_t> &in)
{
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, k, nullptr));
    size_t len = 0;
    auto op = enc ? EVP_PKEY_encrypt : EVP_PKEY_decrypt;
    if ((enc ? EVP_PKEY_encrypt_init(ctx.get()) : EVP_PKEY_decrypt_init(ctx.get())) <= 0 ||
        op(ctx.get(), nullptr, &len, in.data(), in.size()) <= 0)
        return {0xEE};
    std::vector<uint8_t> out(len);
    if (op(ctx.get(), out.data(), &len, in.data(), in.size()) <= 0) return {0xEE};
    out.resize(len);
    return out;
}

// The library's SM2 key type, an EC key on the SM2 curve, and SM2 keys
// read back from DER and PEM, to which the library gives no type id.
PkeyPtr MakeKey(const std::string &kind)
{
    if (kind == "EC") return NewKey("EC", "SM2");
    PkeyPtr key = NewKey("SM2", nullptr);
    if (kind == "DER") {
        unsigned char *der = nullptr;
        const int len = i2d_PrivateKey(key.get(), &der);
        const unsigned char *p = der;
        key.reset(d2i_AutoPrivateKey(nullptr, &p, len));
        OPENSSL_free(der);
    } else if (kind == "PEM") {
        BIO *bio = BIO_new(BIO_s_mem());
        PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
        key.reset(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr));
        BIO_free(bio);
    }
    return key;
}

class Sm2Keys : public ::testing::TestWithParam<const char *> {
protected:
    PkeyPtr key = MakeKey(GetParam());
};

TEST_P(Sm2Keys, SignaturesCrossCheckWithLibrary)
{
    ASSERT_TRUE(key);
    ASSERT_TRUE(SmPkeyIsSm2(key.get()));
    std::vector<uint8_t> dgst = Pattern(32, 9);
    PkeyPtr sm2 = NewKey("SM2", nullptr);
    std::vector<uint8_t> ours = Sign(key.get(), dgst);
    ASSERT_FALSE(ours.empty());
    EXPECT_EQ(pkey_ec_verify(key.get(), ours.data(), ours.size(), dgst.data(), dgst.size()), 1);
    dgst[31] ^= 1;
    EXPECT_LE(pkey_ec_verify(key.get(), ours.data(), ours.size(), dgst.data(), dgst.size()), 0);
    dgst[31] ^= 1;
    if (EVP_PKEY_is_a(key.get(), "SM2")) {
        EXPECT_TRUE(LibraryVerify(key.get(), ours, dgst));
        std::vector<uint8_t> theirs = LibrarySign(key.get(), dgst);
        EXPECT_EQ(pkey_ec_verify(key.get(), theirs.data(), theirs.size(), dgst.data(), dgst.size()), 1);
    }
}

TEST_P(Sm2Keys, CiphertextsCrossCheckWithLibrary)
{
    std::vector<uint8_t> msg = Pattern(10, 4);
    std::vector<uint8_t> ours = Crypt(pkey_sm2_encrypt, key.get(), msg);
    const unsigned char *p = ours.data();
    SM2Cipher *c = d2i_SM2Cipher(nullptr, &p, long(ours.size()));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(ASN1_STRING_length(c->cipherText), 10);
    EXPECT_EQ(ASN1_STRING_length(c->HASH), 32);
    SM2Cipher_free(c);
    EXPECT_EQ(Crypt(pkey_sm2_decrypt, key.get(), ours), msg);
    if (EVP_PKEY_is_a(key.get(), "SM2")) {
        EXPECT_EQ(LibraryCrypt(false, key.get(), ours), msg);
        EXPECT_EQ(Crypt(pkey_sm2_decrypt, key.get(), LibraryCrypt(true, key.get(), msg)), msg);
    }
}

TEST_P(Sm2Keys, DigestOtherThan32BytesIsRefused)
{
    for (size_t len : {20, 31, 33, 64}) {
        std::vector<uint8_t> dgst = Pattern(len, 1), sig(80);
        size_t siglen = sig.size();
        EXPECT_LE(pkey_ec_sign(key.get(), sig.data(), &siglen, dgst.data(), dgst.size()), 0) << len;
    }
    std::vector<uint8_t> dgst = Pattern(33, 2),
                         sig = Sign(key.get(), std::vector<uint8_t>(dgst.begin(), dgst.begin() + 32));
    EXPECT_LE(pkey_ec_verify(key.get(), sig.data(), sig.size(), dgst.data(), dgst.size()), 0);
}

TEST_P(Sm2Keys, SizeQueryAndShortBuffer)
{
    std::vector<uint8_t> dgst = Pattern(32, 3);
    size_t len = 0;
    ASSERT_EQ(pkey_ec_sign(key.get(), nullptr, &len, dgst.data(), dgst.size()), 1);
    EXPECT_EQ(len, size_t(EVP_PKEY_get_size(key.get())));
    std::vector<uint8_t> sig(len);
    --len;
    ERR_clear_error();
    EXPECT_EQ(pkey_ec_sign(key.get(), sig.data(), &len, dgst.data(), dgst.size()), 0);
    EXPECT_EQ(ERR_GET_REASON(ERR_peek_last_error()), EC_R_BUFFER_TOO_SMALL);
    ERR_clear_error();
}

// Long-form lengths of the SEQUENCE, of r or of s: BER that d2i reads but
// that is not the one DER encoding of the signature.
TEST_P(Sm2Keys, OnlyTheDerEncodingOfASignatureVerifies)
{
    std::vector<uint8_t> dgst = Pattern(32, 5), der = Sign(key.get(), dgst);
    ASSERT_GT(der.size(), 4u);
    ASSERT_LT(der[1], 0x80);
    EXPECT_EQ(pkey_ec_verify(key.get(), der.data(), der.size(), dgst.data(), dgst.size()), 1);
    const size_t sAt = 4 + der[3];
    for (size_t at : {size_t(0), size_t(2), sAt}) {
        std::vector<uint8_t> ber = der;
        ber.insert(ber.begin() + long(at) + 1, 0x81);
        if (at != 0) ++ber[1];
        EXPECT_LE(pkey_ec_verify(key.get(), ber.data(), ber.size(), dgst.data(), dgst.size()), 0) << at;
    }
}

INSTANTIATE_TEST_SUITE_P(Sm2Pkey, Sm2Keys, ::testing::Values("SM2", "EC", "DER", "PEM"));

// A ciphertext record built by hand, to feed malformed fields to decryption.
std::vector<uint8_t> CipherDer(size_t xLen, size_t hashLen, size_t textLen)
{
    SM2Cipher *c = SM2Cipher_new();
    std::vector<uint8_t> x(xLen, 0x7F), h(hashLen, 1), t(textLen, 2);
    BN_bin2bn(x.data(), int(x.size()), c->XCoordinate);
    BN_bin2bn(x.data(), int(x.size()), c->YCoordinate);
    ASN1_OCTET_STRING_set(c->HASH, h.data(), int(h.size()));
    ASN1_OCTET_STRING_set(c->cipherText, t.data(), int(t.size()));
    unsigned char *der = nullptr;
    int len = i2d_SM2Cipher(c, &der);
    std::vector<uint8_t> out(der, der + len);
    OPENSSL_free(der);
    SM2Cipher_free(c);
    return out;
}

TEST(Sm2Pkey, OversizedCipherFieldsAreRefused)
{
    PkeyPtr key = NewKey("SM2", nullptr);
    std::vector<uint8_t> out(64);
    for (auto der : {CipherDer(33, 32, 4), CipherDer(32, 33, 4), CipherDer(32, 31, 4)}) {
        size_t len = out.size();
        EXPECT_EQ(pkey_sm2_decrypt(key.get(), out.data(), &len, der.data(), der.size()), -1);
    }
}

TEST(Sm2Pkey, OtherCurvesSignWithEcdsaButCannotEncrypt)
{
    PkeyPtr key = NewKey("EC", "P-256");
    ASSERT_FALSE(SmPkeyIsSm2(key.get()));
    std::vector<uint8_t> dgst = Pattern(32, 6), sig = Sign(key.get(), dgst);
    ASSERT_FALSE(sig.empty());
    EXPECT_TRUE(LibraryVerify(key.get(), sig, dgst));
    EXPECT_EQ(pkey_ec_verify(key.get(), sig.data(), sig.size(), dgst.data(), dgst.size()), 1);
    size_t len = 0;
    EXPECT_EQ(pkey_sm2_encrypt(key.get(), nullptr, &len, dgst.data(), dgst.size()), -1);
}

struct X509Free {
    void operator()(X509 *x) const { X509_free(x); }
};

std::unique_ptr<X509, X509Free> SelfSignedSm2(EVP_PKEY *key, const char *id)
{
    std::unique_ptr<X509, X509Free> x(X509_new());
    X509_set_version(x.get(), X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(x.get()), 7);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x.get()), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("sm2 test"), -1, -1, 0);
    X509_set_issuer_name(x.get(), X509_get_subject_name(x.get()));
    X509_gmtime_adj(X509_getm_notBefore(x.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(x.get()), 3600);
    X509_set_pubkey(x.get(), key);
    MdCtxPtr md(EVP_MD_CTX_new());
    EVP_PKEY_CTX *pctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    EVP_PKEY_CTX_set1_id(pctx, id, strlen(id));
    EVP_MD_CTX_set_pkey_ctx(md.get(), pctx);
    if (EVP_DigestSignInit(md.get(), nullptr, EVP_sm3(), nullptr, key) <= 0 || X509_sign_ctx(x.get(), md.get()) <= 0)
        x.reset();
    EVP_PKEY_CTX_free(pctx);
    return x;
}

TEST(Sm2Pkey, CertificateVerifiesOverZOfDefaultIdentity)
{
    PkeyPtr key = NewKey("SM2", nullptr);
    auto cert = SelfSignedSm2(key.get(), "1234567812345678");
    ASSERT_TRUE(cert);
    EXPECT_EQ(SmX509Verify(cert.get(), key.get()), 1);
    auto other = SelfSignedSm2(key.get(), "ALICE123@YAHOO.COM");
    ASSERT_TRUE(other);
    EXPECT_EQ(SmX509Verify(other.get(), key.get()), 0);
    // Read back from DER, the certificate's key has no type id in the
    // library, which verifies the certificate when told the default identity.
    unsigned char *der = nullptr;
    const int len = i2d_X509(cert.get(), &der);
    const unsigned char *p = der;
    std::unique_ptr<X509, X509Free> read(d2i_X509(nullptr, &p, len));
    OPENSSL_free(der);
    ASSERT_TRUE(read);
    EVP_PKEY *fromCert = X509_get0_pubkey(read.get());
    ASSERT_NE(fromCert, nullptr);
    ASN1_OCTET_STRING *id = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(id, reinterpret_cast<const unsigned char *>("1234567812345678"), 16);
    X509_set0_distinguishing_id(read.get(), id);
    EXPECT_EQ(X509_verify(read.get(), fromCert), 1);
    EXPECT_EQ(SmX509Verify(read.get(), fromCert), 1);
}

TEST(Sm2Pkey, CertificateSignedWithoutZDoesNotVerify)
{
    PkeyPtr key = NewKey("SM2", nullptr);
    auto cert = SelfSignedSm2(key.get(), "1234567812345678");
    ASSERT_TRUE(cert);
    unsigned char *tbs = nullptr;
    int tbsLen = i2d_re_X509_tbs(cert.get(), &tbs);
    std::vector<uint8_t> dgst = EvpDigest(EVP_sm3(), std::vector<uint8_t>(tbs, tbs + tbsLen), size_t(tbsLen));
    OPENSSL_free(tbs);
    std::vector<uint8_t> sig = Sign(key.get(), dgst);
    const ASN1_BIT_STRING *bits = nullptr;
    X509_get0_signature(&bits, nullptr, cert.get());
    ASN1_BIT_STRING_set(const_cast<ASN1_BIT_STRING *>(bits), sig.data(), int(sig.size()));
    EXPECT_EQ(SmX509Verify(cert.get(), key.get()), 0);
}

} // namespace
