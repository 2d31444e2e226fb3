// The trust-chain installer on the machine's stores and root-store key:
// removal of discarded CA certificates and import of chain documents.
#include "CertificateChainDelete.h"
#include "CertificateChainImport.h"
#include "ErrorCode.h"
#include "TestCA.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <vector>

using namespace testca;

namespace {

const DWORD LM = CERT_SYSTEM_STORE_LOCAL_MACHINE;
const DWORD CU = CERT_SYSTEM_STORE_CURRENT_USER;

std::string Narrow(const std::wstring &text)
{
    return std::string(text.begin(), text.end());
}

class ChainStores : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_TRUE(MakeRootCertificatesKey());
    }

    void TearDown() override
    {
        for (const auto &der : m_made) {
            RemoveFromStore(LM, der);
            RemoveFromStore(CU, der);
            DeleteRootKey(Thumbprint(der));
        }
        CoUninitialize();
    }

    std::vector<BYTE> Make(const std::string &subject, const std::string &issuer, const std::string &serial,
                           int nNotAfterDays = 365)
    {
        m_made.push_back(MakeCertificate(subject, issuer, serial, nNotAfterDays));
        return m_made.back();
    }

    std::vector<std::vector<BYTE>> m_made;
};

using DiscardedCertificates = ChainStores;

TEST_F(DiscardedCertificates, IntermediateLeavesBothStores)
{
    auto ca = Make("CN=Old CA, O=Sigwell Test, C=CN", "CN=Old Root, O=Sigwell Test, C=CN", "5A3C");
    auto sibling = Make("CN=Old CA, O=Sigwell Test, C=CN", "CN=Old Root, O=Sigwell Test, C=CN", "5A3C09");
    ASSERT_TRUE(AddToStore(LM, ca));
    ASSERT_TRUE(AddToStore(CU, ca));
    ASSERT_TRUE(AddToStore(LM, sibling));
    EXPECT_EQ(
        S_OK,
        DeleteIntermediateCert(L"5a3c", L"CN=Old CA, O=Sigwell Test, C=CN", L"CN=Old Root, O=Sigwell Test, C=CN"));
    EXPECT_FALSE(StoreHolds(LM, ca));
    EXPECT_FALSE(StoreHolds(CU, ca));
    EXPECT_TRUE(StoreHolds(LM, sibling));
}

TEST_F(DiscardedCertificates, SameSerialAndSubjectUnderTwoIssuers)
{
    auto first = Make("CN=Twin CA, O=Sigwell Test, C=CN", "CN=Root A, O=Sigwell Test, C=CN", "7302AF1B");
    auto second = Make("CN=Twin CA, O=Sigwell Test, C=CN", "CN=Root B, O=Sigwell Test, C=CN", "7302AF1B");
    ASSERT_TRUE(AddToStore(LM, first));
    ASSERT_TRUE(AddToStore(LM, second));
    EXPECT_EQ(
        S_OK,
        DeleteIntermediateCert(L"7302af1b", L"CN=Twin CA, O=Sigwell Test, C=CN", L"CN=Root A, O=Sigwell Test, C=CN"));
    EXPECT_FALSE(StoreHolds(LM, first));
    EXPECT_TRUE(StoreHolds(LM, second));
    EXPECT_EQ(
        S_OK,
        DeleteIntermediateCert(L"7302AF1B", L"CN=Twin CA, O=Sigwell Test, C=CN", L"CN=Root B, O=Sigwell Test, C=CN"));
    EXPECT_FALSE(StoreHolds(LM, second));
}

TEST_F(DiscardedCertificates, RootRowRemovesTheRegistryKeyAndSparesTheUser)
{
    auto root = Make("CN=Old Root, O=Sigwell Test, C=CN", "CN=Old Root, O=Sigwell Test, C=CN", "1D44");
    const std::wstring thumbprint = Thumbprint(root);
    ASSERT_TRUE(AddToStore(LM, root));
    ASSERT_TRUE(AddToStore(CU, root));
    WriteRootBlob(thumbprint, {1, 2, 3});
    EXPECT_EQ(S_OK,
              DeleteTrustedRootCert(thumbprint.c_str(), L"1D44", L"CN=Old Root, O=Sigwell Test, C=CN",
                                    L"CN=Old Root, O=Sigwell Test, C=CN"));
    EXPECT_FALSE(StoreHolds(LM, root));
    EXPECT_TRUE(StoreHolds(CU, root));
    EXPECT_FALSE(RootKeyExists(thumbprint));
    // Nothing left: the stores pass, the missing key is reported.
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
              DeleteTrustedRootCert(thumbprint.c_str(), L"1D44", L"CN=Old Root", L"CN=Old Root"));
}

TEST_F(DiscardedCertificates, StoreLocationIsChecked)
{
    EXPECT_EQ(E_INVALIDARG, DeleteCertificateFromStore(CERT_SYSTEM_STORE_LOCAL_MACHINE_GROUP_POLICY, nullptr));
}

// Each list removes the certificates of its own rows and no other.
TEST_F(DiscardedCertificates, EachListRemovesItsRows)
{
    auto rsa = Make("CN=Sigwell RSA Device CA, O=Sigwell Lorvin, C=CN",
                    "CN=Sigwell RSA Root CA 2008, O=Sigwell Lorvin, C=CN", "6E0B7713");
    auto sm2 = Make("CN=Sigwell SM2 Device CA, O=Sigwell Lorvin, C=CN",
                    "CN=Sigwell SM2 Root CA, O=Sigwell Lorvin, C=CN", "5B07E4C1");
    ASSERT_TRUE(AddToStore(CU, rsa));
    ASSERT_TRUE(AddToStore(LM, sm2));
    EXPECT_EQ(S_OK, DeleteRSADiscardCert());
    EXPECT_FALSE(StoreHolds(CU, rsa));
    EXPECT_TRUE(StoreHolds(LM, sm2));
    EXPECT_EQ(S_OK, DeleteSM2DiscardCert());
    EXPECT_FALSE(StoreHolds(LM, sm2));
}

// Chain documents built from the test's own certificates.
class ChainDocument : public ChainStores {
protected:
    static std::string Entry(const std::vector<BYTE> &der, const std::string &extra = std::string())
    {
        std::vector<BYTE> element = StoreElement({{92, {0, 1, 0, 0}}, {3, std::vector<BYTE>(20, 1)}, {32, der}});
        return "<Certificate SerialNum =\"\xe2\x80\x8e"
               "01\" SubjectDN=\"x\">\r\n"
               "<ImportPath>SOFTWARE\\Microsoft\\SystemCertificates\\ROOT\\Certificates</ImportPath>\r\n"
               "<EntryPoint>" +
            Narrow(Thumbprint(der)) +
            "</EntryPoint>\r\n"
            "<Content>\r\n" +
            Base64Lines(element) + "</Content>\r\n" + extra + "</Certificate>\r\n";
    }

    static std::string Document(const std::string &entries, const std::vector<std::vector<BYTE>> &bundle,
                                const std::string &rootName = "RootCACertificate",
                                const std::string &tail = std::string())
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- title -->\r\n<!-- origin -->\r\n"
               "<root>\r\n<" +
            rootName + ">\r\n" + entries + "</" + rootName +
            ">\r\n"
            "<P7bContent>\r\n" +
            Base64Lines(Bundle(bundle)) + "</P7bContent>\r\n</root>\r\n" + tail;
    }

    static HRESULT Import(const std::string &xml)
    {
        return ImportCertificateChainfromBlobData(reinterpret_cast<const BYTE *>(xml.data()),
                                                  static_cast<DWORD>(xml.size()));
    }
};

TEST_F(ChainDocument, RootsToTheRegistryIntermediatesToTheCAStore)
{
    auto root = Make("CN=New Root, O=Sigwell Test, C=CN", "CN=New Root, O=Sigwell Test, C=CN", "51A1", 3650);
    auto expiredRoot = Make("CN=Gone Root, O=Sigwell Test, C=CN", "CN=Gone Root, O=Sigwell Test, C=CN", "51A2", -1);
    auto present = Make("CN=Present CA, O=Sigwell Test, C=CN", "CN=New Root, O=Sigwell Test, C=CN", "7C11");
    auto fresh = Make("CN=Fresh CA, O=Sigwell Test, C=CN", "CN=New Root, O=Sigwell Test, C=CN", "7C12");
    auto expired = Make("CN=Expired CA, O=Sigwell Test, C=CN", "CN=New Root, O=Sigwell Test, C=CN", "7C13", -1);
    ASSERT_TRUE(AddToStore(LM, present));
    WriteRootBlob(Thumbprint(root), {9, 9, 9});

    const std::string xml = Document(Entry(root) + Entry(expiredRoot), {root, present, expired, fresh});
    EXPECT_EQ(S_OK, Import(xml));

    std::vector<BYTE> blob = RootBlob(Thumbprint(root));
    EXPECT_EQ(StoreElement({{92, {0, 1, 0, 0}}, {3, std::vector<BYTE>(20, 1)}, {32, root}}), blob);
    EXPECT_FALSE(RootKeyExists(Thumbprint(expiredRoot)));
    EXPECT_TRUE(StoreHolds(LM, present));
    EXPECT_TRUE(StoreHolds(LM, fresh));
    EXPECT_FALSE(StoreHolds(LM, expired));
    EXPECT_FALSE(StoreHolds(LM, root));
}

TEST_F(ChainDocument, EntriesAreTakenByPositionAndFailAlone)
{
    auto first = Make("CN=First Root", "CN=First Root", "01");
    auto second = Make("CN=Second Root", "CN=Second Root", "02");
    auto ca = Make("CN=Some CA", "CN=First Root", "03");
    const std::string twoChildren =
        "<Certificate><ImportPath>SOFTWARE</ImportPath><EntryPoint>AB</EntryPoint></Certificate>\r\n";
    const std::string badBase64Element = "<Certificate><a>x</a><b>y</b><c>!!!!</c></Certificate>\r\n";
    const std::string xml = Document(twoChildren + badBase64Element + Entry(first, "<Extra>z</Extra>") + Entry(second),
                                     {ca}, "xxrootcacertificateYY");
    EXPECT_EQ(S_OK, Import(xml));
    EXPECT_TRUE(RootKeyExists(Thumbprint(first)));
    EXPECT_TRUE(RootKeyExists(Thumbprint(second)));
    EXPECT_TRUE(StoreHolds(LM, ca));
}

TEST_F(ChainDocument, DocumentsThatCannotBeImported)
{
    auto root = Make("CN=Late Root", "CN=Late Root", "04");
    auto ca = Make("CN=Late CA", "CN=Late Root", "05");
    // A comment after the root element becomes the last node.
    EXPECT_EQ(E_INVALIDARG, Import(Document(Entry(root), {ca}, "RootCACertificate", "<!-- end -->\r\n")));
    EXPECT_FALSE(RootKeyExists(Thumbprint(root)));
    EXPECT_FALSE(StoreHolds(LM, ca));
    // Without the root entries the bundle is not looked at.
    EXPECT_EQ(E_INVALIDARG, Import(Document(Entry(root), {ca}, "Roots")));
    EXPECT_FALSE(StoreHolds(LM, ca));
    EXPECT_TRUE(FAILED(Import("<root><RootCACertificate>")));
    EXPECT_TRUE(FAILED(Import("not xml at all")));
    EXPECT_EQ(E_INVALIDARG, ImportCertificateChainfromBlobData(nullptr, 0));
}

} // namespace
