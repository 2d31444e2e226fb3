#include "CertificateDialogs.h"
#include "ShortSelectForm.h"
#include "TestCertificate.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class SelectCertificate : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *subject : {"CN=Dialog Test 1", "CN=Dialog Test 2"})
            ASSERT_NE(nullptr, m_certs.emplace_back(m_made.Add(subject)));
    }

    TestCertificates m_made;
    std::vector<PCCERT_CONTEXT> m_certs;
};

TEST_F(SelectCertificate, SingleCandidateComesBackAsOwnReferenceWithoutDialog)
{
    CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT st = ShortSelectForm(0);
    PCCERT_CONTEXT pSelected = nullptr;
    ASSERT_EQ(S_OK, CustomCryptUIDlgSelectCertificate(&st, &pSelected, {m_certs[0]}));
    ASSERT_NE(nullptr, pSelected);
    EXPECT_TRUE(CertCompareCertificate(X509_ASN_ENCODING, pSelected->pCertInfo, m_certs[0]->pCertInfo));
    // The caller's reference stays usable after the returned one is freed.
    EXPECT_TRUE(CertFreeCertificateContext(pSelected));
    EXPECT_EQ(1, m_certs[0]->pCertInfo->SerialNumber.pbData[0]);
}

TEST_F(SelectCertificate, UnknownFormIsInvalidParameter)
{
    CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT st = ShortSelectForm(0);
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

// The agent repeats its call with another owner on exactly this status.
TEST_F(SelectCertificate, DialogThatCannotBeMadeIs1406)
{
    CUSTOM_CRYPTUI_SELECTCERTIFICATE_STRUCT st = ShortSelectForm(1);
    st.u.shortForm.dwOwnerGiven = 1;
    st.u.shortForm.hWndOwner = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0xDEAD0));
    PCCERT_CONTEXT pSelected = nullptr;
    EXPECT_EQ(HRESULT_FROM_WIN32(CERTIFICATE_DIALOG_NOT_CREATED),
              CustomCryptUIDlgSelectCertificate(&st, &pSelected, m_certs));
    EXPECT_EQ(static_cast<HRESULT>(0x8007057E), HRESULT_FROM_WIN32(CERTIFICATE_DIALOG_NOT_CREATED));
    EXPECT_EQ(nullptr, pSelected);
}

} // namespace
