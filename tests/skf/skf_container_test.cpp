// Containers and certificates through the library's exports.
#include "SkfFixture.h"

#include <cstring>

namespace {

using namespace skftest;

class Containers : public SkfTest {
protected:
    void SetUp() override
    {
        SkfTest::SetUp();
        m_dev = Connect(Serial(1));
        ASSERT_NE(m_dev, nullptr);
    }
    void AddOnToken(const std::string& name, std::uint8_t algorithm = 0)
    {
        tokentest::EditStore([&](tokensim::State& s) {
            tokensim::Container* c = s.FindBySerial(Serial(1))->AddContainer(name);
            ASSERT_NE(c, nullptr);
            c->header[devicelib::container::kAlgorithm] = algorithm;
        });
    }
    std::vector<std::string> List()
    {
        ULONG size = 0;
        EXPECT_EQ(Skf().SKF_EnumContainer(m_dev, nullptr, &size), SAR_OK);
        std::vector<char> buffer(size);
        EXPECT_EQ(Skf().SKF_EnumContainer(m_dev, buffer.data(), &size), SAR_OK);
        std::vector<std::string> names;
        for (ULONG at = 0; at < size && buffer[at]; at += static_cast<ULONG>(std::strlen(&buffer[at])) + 1)
            names.push_back(&buffer[at]);
        return names;
    }
    HCONTAINER Open(const std::string& name)
    {
        HCONTAINER con = nullptr;
        EXPECT_EQ(Skf().SKF_OpenContainer(m_dev, Text(name), &con), SAR_OK) << name;
        return Keep(con);
    }
    ULONG TypeOf(HCONTAINER con)
    {
        ULONG type = 99;
        EXPECT_EQ(Skf().SKF_GetContainerType(con, &type), SAR_OK);
        return type;
    }
    DEVHANDLE m_dev = nullptr;
};

// A DER-shaped certificate of the given total size: 30 82 hi lo, filler.
std::vector<BYTE> FakeCertificate(std::size_t total, BYTE fill)
{
    std::vector<BYTE> cert(total, fill);
    cert[0] = 0x30;
    cert[1] = 0x82;
    cert[2] = static_cast<BYTE>((total - 4) >> 8);
    cert[3] = static_cast<BYTE>(total - 4);
    return cert;
}

TEST_F(Containers, CreatedContainerIsListedOpenedAndDeleted)
{
    HCONTAINER con = nullptr;
    ASSERT_EQ(Skf().SKF_CreateContainer(m_dev, Text("first"), &con), SAR_OK);
    Keep(con);
    EXPECT_EQ(TypeOf(con), CONTAINER_TYPE_NONE);
    EXPECT_EQ(List(), std::vector<std::string> {"first"});
    EXPECT_EQ(TypeOf(Open("first")), CONTAINER_TYPE_NONE);
    ASSERT_EQ(Skf().SKF_DeleteContainer(m_dev, Text("first")), SAR_OK);
    EXPECT_EQ(Skf().SKF_DeleteContainer(m_dev, Text("first")), SAR_FAIL);
    char empty[4] = {'x', 'x', 'x', 'x'};
    ULONG size = sizeof empty;
    ASSERT_EQ(Skf().SKF_EnumContainer(m_dev, empty, &size), SAR_OK);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(std::string(empty, 3), std::string("\0\0x", 3));
}

TEST_F(Containers, NamesUpTo128CharactersAndNeverEmpty)
{
    HCONTAINER con = nullptr;
    ASSERT_EQ(Skf().SKF_CreateContainer(m_dev, Text(std::string(128, 'n')), &con), SAR_OK);
    Keep(con);
    EXPECT_EQ(Skf().SKF_CreateContainer(m_dev, Text(std::string(129, 'n')), &con), SAR_FAIL);
    EXPECT_EQ(Skf().SKF_CreateContainer(m_dev, Text(""), &con), SAR_INVALIDPARAMERR);
    EXPECT_EQ(Skf().SKF_CreateContainer(m_dev, nullptr, &con), SAR_INVALIDPARAMERR);
    EXPECT_EQ(Skf().SKF_CreateContainer(m_dev, Text("x"), nullptr), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(Skf().SKF_OpenContainer(m_dev, Text("x"), nullptr), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(Skf().SKF_DeleteContainer(m_dev, nullptr), SAR_INVALIDPARAMERR);
    EXPECT_EQ(List(), std::vector<std::string> {std::string(128, 'n')});
}

TEST_F(Containers, NewerNamedContainerReplacesTheOlderOfItsKind)
{
    AddOnToken("sm2_container");
    AddOnToken("rsa_container");
    AddOnToken("keep");
    HCONTAINER con = nullptr;
    ASSERT_EQ(Skf().SKF_CreateContainer(m_dev, Text("sm2_container256x"), &con), SAR_OK);
    Keep(con);
    EXPECT_EQ(List(), (std::vector<std::string> {"sm2_container", "rsa_container", "keep", "sm2_container256x"}));
    ASSERT_EQ(Skf().SKF_CreateContainer(m_dev, Text("sm2_container256"), &con), SAR_OK);
    Keep(con);
    ASSERT_EQ(Skf().SKF_CreateContainer(m_dev, Text("rsa_container2048"), &con), SAR_OK);
    Keep(con);
    EXPECT_EQ(List(),
              (std::vector<std::string> {"keep", "sm2_container256x", "sm2_container256", "rsa_container2048"}));

    // A creation that fails loses nothing.
    AddOnToken("rsa_container");
    Fault(64, devicelib::UK_SW_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(Skf().SKF_CreateContainer(m_dev, Text("rsa_container1024"), &con), SAR_FAIL);
    EXPECT_EQ(List().back(), "rsa_container");
}

TEST_F(Containers, OpenMatchesCaseAndTakesTheFirstOfTwoNames)
{
    AddOnToken("abc");
    AddOnToken("twin", devicelib::UK_ALG_SM2);
    AddOnToken("twin", 0);
    HCONTAINER con = nullptr;
    EXPECT_EQ(Skf().SKF_OpenContainer(m_dev, Text("ABC"), &con), SAR_FAIL);
    EXPECT_EQ(con, nullptr);
    EXPECT_EQ(TypeOf(Open("twin")), CONTAINER_TYPE_SM2);
}

TEST_F(Containers, EveryContainerMadeIsListedOpenedAndDeleted)
{
    for (int i = 0; i < 20; ++i) {
        HCONTAINER con = nullptr;
        ASSERT_EQ(Skf().SKF_CreateContainer(m_dev, Text("c" + std::to_string(i)), &con), SAR_OK);
        Keep(con);
    }
    std::vector<std::string> names = List();
    ASSERT_EQ(names.size(), 20u);
    EXPECT_EQ(names.back(), "c19");
    ULONG size = 0;
    ASSERT_EQ(Skf().SKF_EnumContainer(m_dev, nullptr, &size), SAR_OK);
    EXPECT_EQ(size, 20u * 129 + 2);
    EXPECT_EQ(TypeOf(Open("c19")), CONTAINER_TYPE_NONE);
    EXPECT_EQ(Skf().SKF_DeleteContainer(m_dev, Text("c19")), SAR_OK);
}

TEST_F(Containers, ListSizeCoversNamesLongerThanThisLibraryMakes)
{
    std::string longName(200, 'q');
    AddOnToken(longName);
    ULONG size = 0;
    ASSERT_EQ(Skf().SKF_EnumContainer(m_dev, nullptr, &size), SAR_OK);
    ASSERT_EQ(size, longName.size() + 2);
    std::vector<char> buffer(size + 1, 'x');
    ULONG shortSize = size - 1;
    EXPECT_EQ(Skf().SKF_EnumContainer(m_dev, buffer.data(), &shortSize), SAR_FAIL);
    ASSERT_EQ(Skf().SKF_EnumContainer(m_dev, buffer.data(), &size), SAR_OK);
    EXPECT_EQ(std::string(buffer.data()), longName);
    EXPECT_EQ(buffer[size], 'x');
    EXPECT_EQ(Skf().SKF_EnumContainer(m_dev, buffer.data(), nullptr), SAR_INVALIDPARAMERR);
}

TEST_F(Containers, TypeFollowsTheRecordsAlgorithmAndKeySizes)
{
    AddOnToken("none", 0);
    AddOnToken("rsa-without-keys", devicelib::UK_ALG_RSA);
    AddOnToken("sm2", devicelib::UK_ALG_SM2);
    AddOnToken("odd", 7);
    tokentest::EditStore([](tokensim::State& s) {
        tokensim::Container* c = s.FindBySerial(Serial(1))->AddContainer("rsa");
        c->header[devicelib::container::kAlgorithm] = devicelib::UK_ALG_RSA;
        c->header[devicelib::container::kSignatureSize] = 2;
    });
    EXPECT_EQ(TypeOf(Open("none")), CONTAINER_TYPE_NONE);
    EXPECT_EQ(TypeOf(Open("rsa-without-keys")), CONTAINER_TYPE_NONE);
    EXPECT_EQ(TypeOf(Open("rsa")), CONTAINER_TYPE_RSA);
    EXPECT_EQ(TypeOf(Open("sm2")), CONTAINER_TYPE_SM2);
    ULONG type = 99;
    EXPECT_EQ(Skf().SKF_GetContainerType(Open("odd"), &type), SAR_FAIL);
    EXPECT_EQ(Skf().SKF_GetContainerType(Open("sm2"), nullptr), SAR_INVALIDPARAMERR);
}

TEST_F(Containers, ImportWritesTheLengthTheCertificateStates)
{
    AddOnToken("sm2", devicelib::UK_ALG_SM2);
    HCONTAINER con = Open("sm2");
    std::vector<BYTE> cert = FakeCertificate(504, 0x5A);
    cert.resize(600, 0xEE);
    ASSERT_EQ(Skf().SKF_ImportCertificate(con, TRUE, cert.data(), 600), SAR_OK);
    ULONG len = 0;
    ASSERT_EQ(Skf().SKF_ExportCertificate(con, TRUE, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 504u);
    std::vector<BYTE> out(len);
    ASSERT_EQ(Skf().SKF_ExportCertificate(con, TRUE, out.data(), &len), SAR_OK);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), cert.begin()));
    len = 503;
    EXPECT_EQ(Skf().SKF_ExportCertificate(con, TRUE, out.data(), &len), SAR_FAIL);
}

TEST_F(Containers, ImportRefusesCertificatesLongerThanTheirBuffer)
{
    AddOnToken("sm2", devicelib::UK_ALG_SM2);
    HCONTAINER con = Open("sm2");
    std::vector<BYTE> cert = FakeCertificate(504, 0x5A);
    EXPECT_EQ(Skf().SKF_ImportCertificate(con, TRUE, cert.data(), 503), SAR_FAIL);
    cert[1] = 0x81;
    EXPECT_EQ(Skf().SKF_ImportCertificate(con, TRUE, cert.data(), 504), SAR_FAIL);
    EXPECT_EQ(Skf().SKF_ImportCertificate(con, TRUE, nullptr, 504), SAR_FAIL);
    ULONG len = 0;
    EXPECT_EQ(Skf().SKF_ExportCertificate(con, TRUE, nullptr, &len), SAR_CERTNOTFOUNTERR);
}

// The certificate asked for or none: an absent signature certificate is
// not answered with the encryption one.
TEST_F(Containers, RsaExportGivesTheAskedCertificateWithTwoNuls)
{
    AddOnToken("rsa", devicelib::UK_ALG_RSA);
    HCONTAINER con = Open("rsa");
    std::vector<BYTE> cert = FakeCertificate(900, 0x33);
    ASSERT_EQ(Skf().SKF_ImportCertificate(con, FALSE, cert.data(), 900), SAR_OK);
    ULONG len = 0;
    EXPECT_EQ(Skf().SKF_ExportCertificate(con, TRUE, nullptr, &len), SAR_CERTNOTFOUNTERR);
    ASSERT_EQ(Skf().SKF_ExportCertificate(con, FALSE, nullptr, &len), SAR_OK);
    EXPECT_EQ(len, 902u);
    std::vector<BYTE> out(903, 0xFF);
    len = 902;
    ASSERT_EQ(Skf().SKF_ExportCertificate(con, FALSE, out.data(), &len), SAR_OK);
    EXPECT_EQ(len, 902u);
    EXPECT_TRUE(std::equal(cert.begin(), cert.end(), out.begin()));
    EXPECT_EQ(out[900], 0);
    EXPECT_EQ(out[901], 0);
    EXPECT_EQ(out[902], 0xFF);
    len = 901;
    EXPECT_EQ(Skf().SKF_ExportCertificate(con, FALSE, out.data(), &len), SAR_FAIL);
    EXPECT_EQ(Skf().SKF_ExportCertificate(con, FALSE, out.data(), nullptr), SAR_FAIL);
}

TEST_F(Containers, ClosedContainerHandleIsRefused)
{
    HCONTAINER con = nullptr;
    ASSERT_EQ(Skf().SKF_CreateContainer(m_dev, Text("c"), &con), SAR_OK);
    ASSERT_EQ(Skf().SKF_CloseContainer(con), SAR_OK);
    ULONG type = 0;
    EXPECT_EQ(Skf().SKF_GetContainerType(con, &type), SAR_INVALIDHANDLEERR);
    BYTE cert[8] = {};
    EXPECT_EQ(Skf().SKF_ImportCertificate(con, TRUE, cert, sizeof cert), SAR_INVALIDHANDLEERR);
    ULONG len = 0;
    EXPECT_EQ(Skf().SKF_ExportCertificate(con, TRUE, nullptr, &len), SAR_INVALIDHANDLEERR);
    EXPECT_EQ(Skf().SKF_CloseContainer(nullptr), SAR_INVALIDHANDLEERR);
}

} // namespace
