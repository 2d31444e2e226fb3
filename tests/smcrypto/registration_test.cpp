#include "SmAlgorithms.h"
#include "SmEvp.h"
#include "SmObjects.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/objects.h>

#include <thread>
#include <vector>

namespace {

// As the agent's constructor does it.
class Registration : public ::testing::Test {
protected:
    void SetUp() override
    {
        OpenSSL_add_all_algorithms();
        ASSERT_EQ(RegisterSmAlgorithms(), 1);
    }
};

const EVP_MD *DigestByOid(const char *oid)
{
    ASN1_OBJECT *o = OBJ_txt2obj(oid, 1);
    const EVP_MD *md = EVP_get_digestbyobj(o);
    ASN1_OBJECT_free(o);
    return md;
}

const EVP_CIPHER *CipherByOid(const char *oid)
{
    ASN1_OBJECT *o = OBJ_txt2obj(oid, 1);
    const EVP_CIPHER *c = EVP_get_cipherbyobj(o);
    ASN1_OBJECT_free(o);
    return c;
}

TEST_F(Registration, DigestFoundByEveryNameNidAndOid)
{
    for (const char *name : {"sm3", "SM3", "ChinaSM3", "tls1-sm3", "sm2-sm3", "ChinaSM2withSM3"})
        EXPECT_EQ(EVP_get_digestbyname(name), EVP_smcrypto_sm3()) << name;
    EXPECT_EQ(EVP_get_digestbynid(SM_NID_SM3), EVP_smcrypto_sm3());
    EXPECT_EQ(DigestByOid("1.2.156.10197.1.401"), EVP_smcrypto_sm3());
}

TEST_F(Registration, CiphersFoundByEveryNameAndOid)
{
    for (const char *name : {"sm4-cbc", "SM4-CBC", "ChinaSM4-CBC"})
        EXPECT_EQ(EVP_get_cipherbyname(name), EVP_smcrypto_sm4_cbc()) << name;
    EXPECT_EQ(CipherByOid("1.2.156.10197.1.104"), EVP_smcrypto_sm4_cbc());
    for (const char *name : {"zuc", "ChinaZUC"}) EXPECT_EQ(EVP_get_cipherbyname(name), EVP_zuc()) << name;
    EXPECT_EQ(CipherByOid("1.2.156.10197.1.105"), EVP_zuc());
    EXPECT_EQ(EVP_CIPHER_get_nid(EVP_zuc()), SmNidZuc());
}

TEST_F(Registration, ObjectsResolveByNameAndOid)
{
    struct Row {
        int nid;
        const char *sn, *ln, *oid;
    };
    const Row rows[] = {
        {SmNidSm2TestCurve(), "ChinaSM2TEST256", "prime256v1SM2TEST", "1.2.156.10197.1.888"},
        {SmNidSm1Cbc(), "sm1-cbc", "ChinaSM1-CBC", "1.2.156.10197.1.102"},
        {SmNidZuc(), "zuc", "ChinaZUC", "1.2.156.10197.1.105"},
        {SmNidSm2Sm3Pkcs7(), "sm2-sm3-pkcs7", "ChinaSM2withSM3PKCS7", "1.2.156.10197.1.301.1"},
        {SmNidPkcs7Data(), "sm-pkcs7-data", "SM-pkcs7-data", "1.2.156.10197.6.1.4.2.1"},
        {SmNidPkcs7SignedData(), "sm-pkcs7-signedData", "SM-pkcs7-signed", "1.2.156.10197.6.1.4.2.2"},
        // The library numbers these itself; this system's names are aliases.
        {SM_NID_SM3, "sm3", "ChinaSM3", "1.2.156.10197.1.401"},
        {SM_NID_SM2_CURVE, "ChinaSM2256", "prime256v1SM2", "1.2.156.10197.1.301"},
        {SM_NID_SM2_WITH_SM3, "sm2-sm3", "ChinaSM2withSM3", "1.2.156.10197.1.501"},
    };
    for (const Row &r : rows) {
        ASSERT_NE(r.nid, NID_undef) << r.oid;
        EXPECT_EQ(OBJ_txt2nid(r.sn), r.nid) << r.sn;
        EXPECT_EQ(OBJ_txt2nid(r.ln), r.nid) << r.ln;
        EXPECT_EQ(OBJ_txt2nid(r.oid), r.nid) << r.oid;
    }
}

TEST_F(Registration, SignatureAlgorithmResolvesToSm3AndBack)
{
    int md = 0, pk = 0, sig = 0;
    ASSERT_TRUE(OBJ_find_sigid_algs(OBJ_txt2nid("1.2.156.10197.1.501"), &md, &pk));
    EXPECT_EQ(md, SM_NID_SM3);
    // The library types the key as SM2, not as a generic EC key.
    EXPECT_EQ(pk, SM_NID_SM2_CURVE);
    ASSERT_TRUE(OBJ_find_sigid_by_algs(&sig, SM_NID_SM3, SM_NID_SM2_CURVE));
    EXPECT_EQ(sig, SM_NID_SM2_WITH_SM3);
}

TEST_F(Registration, RepeatedAndConcurrentCallsAreHarmless)
{
    std::vector<std::thread> threads;
    std::vector<int> results(8, 0);
    for (int &r : results) threads.emplace_back([&r] { r = RegisterSmAlgorithms(); });
    for (std::thread &t : threads) t.join();
    for (int r : results) EXPECT_EQ(r, 1);
    EXPECT_EQ(EVP_get_digestbyname("sm3"), EVP_smcrypto_sm3());
}

// EVP_cleanup does nothing in this library version: names registered once
// stay for the life of the process, so a second agent still finds them.
TEST_F(Registration, NamesOutliveCleanup)
{
    EVP_cleanup();
    EXPECT_EQ(EVP_get_digestbyname("tls1-sm3"), EVP_smcrypto_sm3());
    EXPECT_EQ(EVP_get_cipherbyname("zuc"), EVP_zuc());
}

} // namespace
