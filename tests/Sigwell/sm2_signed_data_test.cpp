#include "SM2RawSignature.h"
#include "SM2SignedData.h"
#include "TestCertificateMaker.h"

#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const char kSM2DefaultId[] = "1234567812345678";

// One DER element: its tag, its value and the bytes that follow it.
struct Tlv {
    BYTE bTag = 0;
    std::vector<BYTE> value;
    std::vector<BYTE> whole; // tag, length and value
};

bool ReadTlv(const BYTE *&p, const BYTE *pEnd, Tlv &tlv)
{
    if (pEnd - p < 2) return false;
    const BYTE *pStart = p;
    tlv.bTag = *p++;
    size_t cb = *p++;
    if (cb & 0x80) {
        size_t n = cb & 0x7F;
        cb = 0;
        while (n-- > 0 && p < pEnd) cb = (cb << 8) | *p++;
    }
    if (static_cast<size_t>(pEnd - p) < cb) return false;
    tlv.value.assign(p, p + cb);
    p += cb;
    tlv.whole.assign(pStart, p);
    return true;
}

std::vector<Tlv> Children(const std::vector<BYTE> &value)
{
    std::vector<Tlv> children;
    const BYTE *p = value.data();
    Tlv tlv;
    while (p < value.data() + value.size() && ReadTlv(p, value.data() + value.size(), tlv)) children.push_back(tlv);
    return children;
}

std::string OidText(const Tlv &tlv)
{
    std::vector<BYTE> der = {0x06, static_cast<BYTE>(tlv.value.size())};
    der.insert(der.end(), tlv.value.begin(), tlv.value.end());
    const unsigned char *p = der.data();
    ASN1_OBJECT *pObj = d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(der.size()));
    char szText[128] = {};
    OBJ_obj2txt(szText, sizeof(szText), pObj, 1);
    ASN1_OBJECT_free(pObj);
    return szText;
}

// AlgorithmIdentifier { OID, NULL }.
void ExpectAlgorithm(const Tlv &tlv, const char *pszOid)
{
    ASSERT_EQ(0x30, tlv.bTag);
    std::vector<Tlv> parts = Children(tlv.value);
    ASSERT_EQ(2u, parts.size());
    EXPECT_EQ(pszOid, OidText(parts[0]));
    EXPECT_EQ(0x05, parts[1].bTag);
    EXPECT_TRUE(parts[1].value.empty());
}

class SM2SignedData : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        m_pKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
        ASSERT_NE(nullptr, m_pKey);
        testcsp::CertificateSpec spec;
        spec.pKey = m_pKey;
        spec.pDigest = EVP_sm3();
        spec.subject = {{"CN", "SM2 Signer"}};
        // A serial whose top bit is set: its encoding carries a leading 00.
        spec.serialHex = "9F0102030405";
        const std::vector<unsigned char> der = testcsp::MakeCertificateDer(spec);
        ASSERT_FALSE(der.empty());
        m_pCert = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                               static_cast<DWORD>(der.size()));
        ASSERT_NE(nullptr, m_pCert);
    }

    void TearDown() override
    {
        CertFreeCertificateContext(m_pCert);
        EVP_PKEY_free(m_pKey);
    }

    // SM2 over SM3 with the Z value of the default identifier, as r || s.
    std::vector<BYTE> SignRaw(const std::string &data)
    {
        EVP_MD_CTX *pCtx = EVP_MD_CTX_new();
        EVP_PKEY_CTX *pPkeyCtx = EVP_PKEY_CTX_new(m_pKey, nullptr);
        EVP_PKEY_CTX_set1_id(pPkeyCtx, kSM2DefaultId, strlen(kSM2DefaultId));
        EVP_MD_CTX_set_pkey_ctx(pCtx, pPkeyCtx);
        EVP_DigestSignInit(pCtx, nullptr, EVP_sm3(), nullptr, m_pKey);
        unsigned char abSig[128];
        size_t cbSig = sizeof(abSig);
        EVP_DigestSign(pCtx, abSig, &cbSig, reinterpret_cast<const unsigned char *>(data.data()), data.size());
        EVP_MD_CTX_free(pCtx);
        EVP_PKEY_CTX_free(pPkeyCtx);
        const unsigned char *p = abSig;
        ECDSA_SIG *pSig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(cbSig));
        std::vector<BYTE> raw(64);
        BN_bn2binpad(ECDSA_SIG_get0_r(pSig), raw.data(), 32);
        BN_bn2binpad(ECDSA_SIG_get0_s(pSig), raw.data() + 32, 32);
        ECDSA_SIG_free(pSig);
        return raw;
    }

    bool Verify(const std::string &data, const std::vector<BYTE> &derSignature)
    {
        EVP_MD_CTX *pCtx = EVP_MD_CTX_new();
        EVP_PKEY_CTX *pPkeyCtx = EVP_PKEY_CTX_new(m_pKey, nullptr);
        EVP_PKEY_CTX_set1_id(pPkeyCtx, kSM2DefaultId, strlen(kSM2DefaultId));
        EVP_MD_CTX_set_pkey_ctx(pCtx, pPkeyCtx);
        EVP_DigestVerifyInit(pCtx, nullptr, EVP_sm3(), nullptr, m_pKey);
        int nOK = EVP_DigestVerify(pCtx, derSignature.data(), derSignature.size(),
                                   reinterpret_cast<const unsigned char *>(data.data()), data.size());
        EVP_MD_CTX_free(pCtx);
        EVP_PKEY_CTX_free(pPkeyCtx);
        return nOK == 1;
    }

    std::vector<BYTE> Encapsulate(const std::string &data, BOOL bAttached)
    {
        std::vector<BYTE> raw = SignRaw(data);
        BYTE *pbEncoded = nullptr;
        DWORD cbEncoded = 0;
        EXPECT_EQ(S_OK, SM2EncodeRawSignature(&cbEncoded, raw.data(), 64, &pbEncoded, SM2_SIGNATURE_DER_OCTET_STRING));
        std::unique_ptr<BYTE[]> encoded(pbEncoded);
        BSTR bstrText = nullptr;
        DWORD cchText = 0;
        EXPECT_EQ(S_OK,
                  SM2EncapsulatePKCS7(m_pCert, SM2_OID_SM3, SM2_OID_SM2_SIGNATURE,
                                      reinterpret_cast<const BYTE *>(data.data()), static_cast<DWORD>(data.size()),
                                      pbEncoded, cbEncoded, bAttached, 0x2, &bstrText, &cchText));
        EXPECT_EQ(SysStringLen(bstrText), cchText);
        std::string base64(bstrText, bstrText + cchText);
        SysFreeString(bstrText);
        EXPECT_EQ(std::string::npos, base64.find_first_of("\r\n"));
        std::vector<BYTE> der(base64.size());
        int cb = EVP_DecodeBlock(der.data(), reinterpret_cast<const unsigned char *>(base64.data()),
                                 static_cast<int>(base64.size()));
        der.resize(cb - std::count(base64.begin(), base64.end(), '='));
        return der;
    }

    EVP_PKEY *m_pKey = nullptr;
    PCCERT_CONTEXT m_pCert = nullptr;
};

TEST_P(SM2SignedData, CarriesGmtIdentifiersCertificateAndVerifiableSignature)
{
    const bool bAttached = GetParam();
    const std::string data = "Sign me: \xe4\xb8\xad\xe6\x96\x87";
    std::vector<BYTE> der = Encapsulate(data, bAttached);

    const BYTE *p = der.data();
    Tlv contentInfo;
    ASSERT_TRUE(ReadTlv(p, der.data() + der.size(), contentInfo));
    EXPECT_EQ(der.data() + der.size(), p) << "trailing bytes";
    std::vector<Tlv> outer = Children(contentInfo.value);
    ASSERT_EQ(2u, outer.size());
    EXPECT_EQ("1.2.156.10197.6.1.4.2.2", OidText(outer[0]));
    ASSERT_EQ(0xA0, outer[1].bTag);

    std::vector<Tlv> signedData = Children(Children(outer[1].value).at(0).value);
    ASSERT_EQ(5u, signedData.size());
    EXPECT_EQ(std::vector<BYTE> {0x01}, signedData[0].value);
    ASSERT_EQ(0x31, signedData[1].bTag);
    ExpectAlgorithm(Children(signedData[1].value).at(0), "1.2.156.10197.1.401");

    std::vector<Tlv> content = Children(signedData[2].value);
    EXPECT_EQ("1.2.156.10197.6.1.4.2.1", OidText(content.at(0)));
    if (bAttached) {
        ASSERT_EQ(2u, content.size());
        Tlv octets = Children(content[1].value).at(0);
        EXPECT_EQ(0x04, octets.bTag);
        EXPECT_EQ(std::vector<BYTE>(data.begin(), data.end()), octets.value);
    } else {
        EXPECT_EQ(1u, content.size());
    }

    ASSERT_EQ(0xA0, signedData[3].bTag);
    EXPECT_EQ(std::vector<BYTE>(m_pCert->pbCertEncoded, m_pCert->pbCertEncoded + m_pCert->cbCertEncoded),
              std::vector<BYTE>(signedData[3].value));

    std::vector<Tlv> signerInfo = Children(Children(signedData[4].value).at(0).value);
    ASSERT_EQ(5u, signerInfo.size());
    std::vector<Tlv> issuerAndSerial = Children(signerInfo[1].value);
    const CERT_NAME_BLOB &issuer = m_pCert->pCertInfo->Issuer;
    EXPECT_EQ(std::vector<BYTE>(issuer.pbData, issuer.pbData + issuer.cbData), issuerAndSerial.at(0).whole);
    EXPECT_EQ((std::vector<BYTE> {0x00, 0x9F, 0x01, 0x02, 0x03, 0x04, 0x05}), issuerAndSerial.at(1).value);
    ExpectAlgorithm(signerInfo[2], "1.2.156.10197.1.401");
    ExpectAlgorithm(signerInfo[3], "1.2.156.10197.1.301.1");
    ASSERT_EQ(0x04, signerInfo[4].bTag);
    EXPECT_TRUE(Verify(data, signerInfo[4].value));
}

INSTANTIATE_TEST_SUITE_P(Content, SM2SignedData, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Attached" : "Detached"; });

TEST(SM2EncodeOID, GivesAlgorithmIdentifierWithNullParameters)
{
    BYTE *pbEncoded = nullptr;
    DWORD cbEncoded = 0;
    ASSERT_EQ(S_OK, SM2EncodeOID("1.2.156.10197.1.401", &pbEncoded, &cbEncoded));
    std::unique_ptr<BYTE[]> encoded(pbEncoded);
    const std::vector<BYTE> expected = {0x30, 0x0C, 0x06, 0x08, 0x2A, 0x81, 0x1C,
                                        0xCF, 0x55, 0x01, 0x83, 0x11, 0x05, 0x00};
    EXPECT_EQ(expected, std::vector<BYTE>(pbEncoded, pbEncoded + cbEncoded));
}

} // namespace
