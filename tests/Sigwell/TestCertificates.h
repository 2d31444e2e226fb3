// The certificates that make_test_certs.sh writes beside the test program,
// loaded as certificate contexts.
#pragma once

#include "TestCspSetup.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

struct CertFree {
    void operator()(PCCERT_CONTEXT p) const { CertFreeCertificateContext(p); }
};
using CertPtr = std::unique_ptr<const CERT_CONTEXT, CertFree>;

inline std::vector<BYTE> ReadTestFile(const std::string &relativePath)
{
    std::ifstream in(testcsp::BesideProgram(relativePath), std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A context made from the encoded bytes alone, with no key properties.
inline CertPtr LoadTestCertificate(const std::string &fileName)
{
    std::vector<BYTE> der = ReadTestFile("testcerts\\" + fileName);
    if (der.empty()) return nullptr;
    return CertPtr(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                                static_cast<DWORD>(der.size())));
}

// The extension's value as the certificate carries it.
inline std::vector<BYTE> ExtensionValue(PCCERT_CONTEXT pCert, LPCSTR pszObjId)
{
    PCERT_EXTENSION pExt = CertFindExtension(pszObjId, pCert->pCertInfo->cExtension, pCert->pCertInfo->rgExtension);
    if (pExt == nullptr) return {};
    return std::vector<BYTE>(pExt->Value.pbData, pExt->Value.pbData + pExt->Value.cbData);
}

// The test certificates of the query and filter tests, loaded for each test.
class TestCertificateSet : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_sm2 = LoadTestCertificate("sm2.der");
        m_rsaSign = LoadTestCertificate("rsa_sign.der");
        m_rsaKeyEnc = LoadTestCertificate("rsa_keyenc.der");
        m_rsaNoExt = LoadTestCertificate("rsa_noext.der");
        m_rsaEmptyUsage = LoadTestCertificate("rsa_emptyku.der");
        ASSERT_TRUE(m_sm2 && m_rsaSign && m_rsaKeyEnc && m_rsaNoExt && m_rsaEmptyUsage);
    }

    CertPtr m_sm2, m_rsaSign, m_rsaKeyEnc, m_rsaNoExt, m_rsaEmptyUsage;
};
