#include "CertificateDialogs.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <vector>

namespace {

// A throw-away self-signed certificate: the selection functions only pass
// contexts along, so any valid encoding will do.
std::vector<BYTE> MakeCertificate(long nSerial)
{
    EVP_PKEY *pKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    X509 *pX509 = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(pX509), nSerial);
    X509_NAME *pName = X509_get_subject_name(pX509);
    X509_NAME_add_entry_by_txt(pName, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("Dialog Test"), -1, -1, 0);
    X509_set_issuer_name(pX509, pName);
    X509_gmtime_adj(X509_getm_notBefore(pX509), 0);
    X509_gmtime_adj(X509_getm_notAfter(pX509), 3600);
    X509_set_pubkey(pX509, pKey);
    X509_sign(pX509, pKey, EVP_sha256());
    unsigned char *pbDer = nullptr;
    int cbDer = i2d_X509(pX509, &pbDer);
    std::vector<BYTE> der(pbDer, pbDer + cbDer);
    OPENSSL_free(pbDer);
    X509_free(pX509);
    EVP_PKEY_free(pKey);
    return der;
}

class SelectCertificate : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (long nSerial : {1, 2}) {
            std::vector<BYTE> der = MakeCertificate(nSerial);
            m_certs.push_back(CertCreateCertificateContext(
                X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
            ASSERT_NE(nullptr, m_certs.back());
        }
    }
    void TearDown() override
    {
        for (PCCERT_CONTEXT p : m_certs)
            CertFreeCertificateContext(p);
    }

    static CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT ShortForm(DWORD dwShowAlways)
    {
        CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT st = {};
        st.dwForm = CUSTOM_CRYPTUI_FORM_SHORT;
        st.hInstance = GetModuleHandleW(nullptr);
        st.u.shortForm.dwShowAlways = dwShowAlways;
        return st;
    }

    std::vector<PCCERT_CONTEXT> m_certs;
};

TEST_F(SelectCertificate, SingleCandidateComesBackAsOwnReferenceWithoutDialog)
{
    CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT st = ShortForm(0);
    PCCERT_CONTEXT pSelected = nullptr;
    ASSERT_EQ(S_OK, CustomCryptUIDlgSelectCertificate(&st, &pSelected, {m_certs[0]}));
    ASSERT_NE(nullptr, pSelected);
    EXPECT_TRUE(CertCompareCertificate(X509_ASN_ENCODING, pSelected->pCertInfo,
                                       m_certs[0]->pCertInfo));
    // The caller's reference stays usable after the returned one is freed.
    EXPECT_TRUE(CertFreeCertificateContext(pSelected));
    EXPECT_EQ(1, m_certs[0]->pCertInfo->SerialNumber.pbData[0]);
}

TEST_F(SelectCertificate, LongFormTitleMeansShowAlways)
{
    CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT st = {};
    st.dwForm = CUSTOM_CRYPTUI_FORM_LONG;
    st.u.longForm.pwszTitle = L"Choose";
    PCCERT_CONTEXT pSelected = nullptr;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CALL_NOT_IMPLEMENTED),
              CustomCryptUIDlgSelectCertificate(&st, &pSelected, {m_certs[0]}));
    EXPECT_EQ(nullptr, pSelected);
}

// Every road that would open the dialog ends in the same failure until the
// dialog is built; none of them may hand out a certificate.
struct DialogRoad {
    const char *pszName;
    DWORD dwShowAlways;
    std::vector<int> candidates;
};

class SelectCertificateDialogRoad : public SelectCertificate,
                                    public ::testing::WithParamInterface<DialogRoad> {};

TEST_P(SelectCertificateDialogRoad, FailsWithoutCertificate)
{
    CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT st = ShortForm(GetParam().dwShowAlways);
    std::vector<PCCERT_CONTEXT> candidates;
    for (int i : GetParam().candidates)
        candidates.push_back(m_certs[i]);
    PCCERT_CONTEXT pSelected = nullptr;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CALL_NOT_IMPLEMENTED),
              CustomCryptUIDlgSelectCertificate(&st, &pSelected, candidates));
    EXPECT_EQ(nullptr, pSelected);
}

INSTANTIATE_TEST_SUITE_P(Roads, SelectCertificateDialogRoad,
                         ::testing::Values(DialogRoad{"ShowAlwaysOne", 1, {0}},
                                           DialogRoad{"Two", 0, {0, 1}},
                                           DialogRoad{"SameTwice", 0, {0, 0}},
                                           DialogRoad{"None", 0, {}}),
                         [](const auto &info) { return std::string(info.param.pszName); });

TEST_F(SelectCertificate, UnknownFormIsInvalidParameter)
{
    CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT st = ShortForm(0);
    st.dwForm = 2;
    HCERTSTORE hStore = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    SetLastError(0);
    EXPECT_EQ(nullptr, CustomCryptUIDlgSelectCertificateFromStore(&st, hStore));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    CertCloseStore(hStore, 0);

    PCCERT_CONTEXT pSelected = nullptr;
    EXPECT_EQ(E_INVALIDARG, CustomCryptUIDlgSelectCertificate(&st, &pSelected, {m_certs[0]}));
    EXPECT_EQ(E_INVALIDARG, CustomCryptUIDlgSelectCertificate(nullptr, &pSelected, {m_certs[0]}));
    EXPECT_EQ(nullptr, pSelected);
}

} // namespace
