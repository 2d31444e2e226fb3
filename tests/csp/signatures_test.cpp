// Signatures over a scripted token table: what the provider hands back
// when the token answers with more or fewer bytes than the key promises,
// and the check of the data a token signs itself.
#include "CryptOperations.h"
#include "HashObject.h"
#include "ObjectLists.h"
#include "ProviderContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kRsaBytes = 128;

struct ScriptedToken {
    std::uint32_t signatureLen = kRsaBytes;
    std::vector<std::uint8_t> signedBlock;
    int finals = 0;
    int logins = 0;
} g_script;

std::uint32_t UKAPI Login(devicelib::UK_HANDLE, std::uint32_t, std::uint32_t, const std::uint8_t*, std::uint32_t)
{
    ++g_script.logins;
    return devicelib::UK_OK;
}

std::uint32_t UKAPI AsymKeyInit(devicelib::UK_HANDLE, const devicelib::UK_ASYM_KEY_SPEC*,
                                devicelib::UK_HANDLE* operation)
{
    *operation = 77;
    return devicelib::UK_OK;
}

std::uint32_t UKAPI AsymKeyFinal(devicelib::UK_HANDLE)
{
    ++g_script.finals;
    return devicelib::UK_OK;
}

// Signature bytes 1, 2, 3, ... big-endian, as many as scripted.
std::uint32_t UKAPI PrikeySign(devicelib::UK_HANDLE, std::uint32_t, std::uint32_t, const std::uint8_t* data,
                               std::uint32_t dataLen, std::uint8_t* out, std::uint32_t* outLen)
{
    g_script.signedBlock.assign(data, data + dataLen);
    if (*outLen < g_script.signatureLen) return devicelib::UK_ERR_BUFFER_TOO_SMALL;
    for (std::uint32_t i = 0; i < g_script.signatureLen; ++i) out[i] = static_cast<std::uint8_t>(i + 1);
    *outLen = g_script.signatureLen;
    return devicelib::UK_OK;
}

devicelib::UK_FUNCTION_LIST MakeTable()
{
    devicelib::UK_FUNCTION_LIST table = {};
    table.Login = Login;
    table.AsymKeyInit = AsymKeyInit;
    table.AsymKeyFinal = AsymKeyFinal;
    table.PrikeySign = PrikeySign;
    return table;
}

devicelib::UK_FUNCTION_LIST g_table = MakeTable();

// A context with an RSA signature key on the scripted token, logged in
// with a cached PIN, and an SSL3 SHAMD5 hash whose value is set.
class ScriptedSignature : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_script = ScriptedToken();
        m_context = static_cast<ProviderContext*>(AllocObject(sizeof(ProviderContext)));
        m_context->magic = kProviderMagic;
        m_context->session.funcs = &g_table;
        m_context->session.device = 1;
        std::memcpy(m_context->session.pin, "12345678", 8);
        m_context->session.pinLength = 8;
        KeyObject& key = m_context->signatureKey;
        key.magic = kKeyMagic;
        key.algId = CALG_RSA_SIGN;
        key.keyLen = key.blockLen = kRsaBytes;
        g_ProviderContexts.Add(m_context);

        m_hash = static_cast<HashObject*>(AllocObject(sizeof(HashObject)));
        m_hash->magic = kHashMagic;
        m_hash->algId = CALG_SSL3_SHAMD5;
        m_hash->state = kHashStateFinished;
        m_hash->hashLen = 36;
        for (int i = 0; i < 36; ++i) m_hash->value[i] = static_cast<std::uint8_t>(0xA0 + i);
        g_HashObjects.Add(m_hash);
    }
    void TearDown() override
    {
        g_HashObjects.Remove(m_hash);
        FreeObject(m_hash->keptData);
        FreeObject(m_hash);
        g_ProviderContexts.Remove(m_context);
        FreeObject(m_context);
    }
    DWORD Sign(std::vector<BYTE>& signature)
    {
        DWORD length = static_cast<DWORD>(signature.size());
        return SignHashImpl(reinterpret_cast<HCRYPTPROV>(m_context), reinterpret_cast<HCRYPTHASH>(m_hash), AT_SIGNATURE,
                            0, signature.data(), &length);
    }
    ProviderContext* m_context = nullptr;
    HashObject* m_hash = nullptr;
};

TEST_F(ScriptedSignature, RsaSignatureComesBackLittleEndian)
{
    std::vector<BYTE> signature(kRsaBytes, 0xEE);
    ASSERT_EQ(Sign(signature), 0u);
    for (std::uint32_t i = 0; i < kRsaBytes; ++i) ASSERT_EQ(signature[i], kRsaBytes - i) << i;
    // SSL3 SHAMD5 has no DigestInfo: the token signs the bare value.
    EXPECT_EQ(g_script.signedBlock, std::vector<std::uint8_t>(m_hash->value, m_hash->value + 36));
    EXPECT_EQ(g_script.finals, 1);
}

TEST_F(ScriptedSignature, TokenLengthOtherThanTheKeySizeIsRefused)
{
    for (std::uint32_t tokenLen : {kRsaBytes - 1, kRsaBytes + 1, 256u}) {
        g_script.signatureLen = tokenLen;
        std::vector<BYTE> signature(kRsaBytes, 0xEE);
        EXPECT_EQ(Sign(signature), DWORD(NTE_FAIL)) << tokenLen;
        EXPECT_EQ(std::count(signature.begin(), signature.end(), 0xEE), long(kRsaBytes)) << tokenLen;
    }
}

struct XmlCase {
    const char* name;
    std::string xml;
    DWORD result;
};

std::vector<XmlCase> XmlCases()
{
    std::string field255(255, 'x'), field256(256, 'x');
    return {
        {"FieldsWithText", "<T><D><A>1</A><B>two</B></D></T>", kSignedXmlPassed},
        {"PrefixesAndCaseIgnored", "<p:t xmlns:p=\"urn:x\"><p:d><A>1</A></p:d></p:t>", kSignedXmlPassed},
        {"Field255", "<T><D><A>" + field255 + "</A></D></T>", kSignedXmlPassed},
        {"Field256", "<T><D><A>1</A><B>" + field256 + "</B></D></T>", kSignedXmlFieldTooLong},
        {"EmptyField", "<T><D><A></A><B>" + field256 + "</B></D></T>", kSignedXmlEmptyField},
        {"NoD", "<T><E><A>1</A></E></T>", kSignedXmlUnreadable},
        {"NotXml", "T=1;D=2", kSignedXmlUnreadable},
        {"Empty", "", kSignedXmlUnreadable},
    };
}

class SignedXml : public ::testing::TestWithParam<XmlCase> { };

TEST_P(SignedXml, Check)
{
    const std::string& xml = GetParam().xml;
    EXPECT_EQ(ParseSignedXml(reinterpret_cast<const std::uint8_t*>(xml.data()), static_cast<std::uint32_t>(xml.size())),
              GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Data, SignedXml, ::testing::ValuesIn(XmlCases()),
                         [](const ::testing::TestParamInfo<XmlCase>& info) { return std::string(info.param.name); });

TEST_F(ScriptedSignature, TooLongFieldInKeptDataStopsTheSignature)
{
    std::string xml = "<T><D><A>" + std::string(256, 'y') + "</A></D></T>";
    m_hash->keptData = static_cast<std::uint8_t*>(AllocObject(kKeptDataRoom));
    std::memcpy(m_hash->keptData, xml.data(), xml.size());
    m_hash->keptLen = static_cast<std::uint32_t>(xml.size());
    std::vector<BYTE> signature(kRsaBytes);
    EXPECT_EQ(Sign(signature), DWORD(NTE_FAIL));
    EXPECT_EQ(g_script.logins, 0) << "the PIN was asked for a signature the token refuses";
    EXPECT_TRUE(g_script.signedBlock.empty()) << "the token was asked to sign";
}

} // namespace
