#include "SelectCertificateDlg.h"
#include "TestCertificate.h"
#include "WineQuirks.h"

#include <gtest/gtest.h>

namespace {

CERTIFICATE_LIST_ITEM BuildRow(PCCERT_CONTEXT cert)
{
    CERTIFICATE_LIST_ITEM item;
    EXPECT_EQ(S_OK, BuildCertificateListItem(GetModuleHandleW(nullptr), cert, item));
    return item;
}

TEST(CertificateRows, LinesShowNameIssuerOrganisationSerialAndUtcDates)
{
    TestCertificates certs;
    TestCertificateFields fields;
    fields.subject = "CN=Zhang San/O=Subject Org";
    fields.issuer = "C=CN/O=Kelto CA Org/CN=Kelto Root";
    fields.serial = 0x1234AB;
    // 2020-01-01 03:00 at UTC+8: the row shows the UTC day.
    fields.notBefore = "20191231190000Z";
    fields.notAfter = "20501231235959Z";
    PCCERT_CONTEXT cert = certs.Add(fields);
    ASSERT_NE(nullptr, cert);

    CERTIFICATE_LIST_ITEM item = BuildRow(cert);
    EXPECT_EQ(cert, item.pCertContext);
    EXPECT_EQ(L"Zhang San", item.strCommonName);
    EXPECT_EQ(L"Issuer: Kelto CA Org", item.strIssuer);
    EXPECT_EQ(L"SN: 1234ab", item.strSerialNumber);
    EXPECT_EQ(L"Valid From: 2019/12/31 to 2050/12/31", item.strValidity);
    // A context made from bytes has no private key to look at.
    EXPECT_FALSE(item.bHardwareKey);
}

TEST(CertificateRows, MissingNamesFallBack)
{
    TestCertificates certs;
    TestCertificateFields noCn;
    noCn.subject = "O=Only Org";
    noCn.issuer = "CN=Root Without Org";
    CERTIFICATE_LIST_ITEM item = BuildRow(certs.Add(noCn));
    EXPECT_EQ(L"", item.strCommonName);
    EXPECT_EQ(L"Issuer: Root Without Org", item.strIssuer);
}

TEST(CertificateRows, CommonNameEndsAtComma)
{
    TestCertificates certs;
    CERTIFICATE_LIST_ITEM item = BuildRow(certs.Add("CN=Wang, Wu/O=Org"));
    // Wine quotes the value that holds the comma; the quote stays in front.
    EXPECT_EQ(NameQuotedDespiteNoQuotingFlag() ? L"\"Wang" : L"Wang", item.strCommonName);
}

TEST(CertificateRows, LongNamesKeepAtMost127Characters)
{
    TestCertificates certs;
    TestCertificateFields fields;
    fields.subject = "O=Org/CN=" + std::string(300, 'n');
    fields.issuer = "O=" + std::string(300, 'o');
    CERTIFICATE_LIST_ITEM item = BuildRow(certs.Add(fields));
    EXPECT_EQ(std::wstring(127, L'n'), item.strCommonName);
    EXPECT_EQ(L"Issuer: " + std::wstring(127, L'o'), item.strIssuer);
}

TEST(CertificateRows, HardwareKeysFirstThenNamesIgnoringCase)
{
    auto row = [](const wchar_t *name, BOOL hardware) {
        CERTIFICATE_LIST_ITEM item;
        item.strCommonName = name;
        item.bHardwareKey = hardware;
        return item;
    };
    std::vector<CERTIFICATE_LIST_ITEM> rows = {row(L"beta", FALSE), row(L"Alpha", FALSE), row(L"zeta", TRUE),
                                               row(L"Omega", TRUE)};
    SortCertificateListItems(rows);
    std::vector<std::wstring> names;
    for (const CERTIFICATE_LIST_ITEM &item : rows) names.push_back(item.strCommonName);
    EXPECT_EQ((std::vector<std::wstring> {L"Omega", L"zeta", L"Alpha", L"beta"}), names);
}

} // namespace
