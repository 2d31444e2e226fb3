// Requests through ParseAndRespondRequest to an agent that records what it
// was given and answers what the test sets.
#include "CryptoAgent.h"
#include "ErrorCode.h"
#include "nmMessageSigning.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The host's process-wide values, which the handlers read.
HINSTANCE g_hInstance = nullptr;
CCryptoAgent *g_pobjCryptoAgent = nullptr;

namespace {

class FakeAgent : public CCryptoAgent {
public:
    HRESULT SelectCertificate(LPCWSTR pwszSubject, LPCWSTR pwszIssuer, LPCWSTR pwszSN, LPCWSTR pwszCSP,
                              VARIANT_BOOL *pbSelected) override
    {
        Record(L"SelectCertificate");
        m_args = {pwszSubject, pwszIssuer, pwszSN, pwszCSP};
        *pbSelected = m_bSelected;
        return m_hrResult;
    }
    HRESULT GetSignCertInfo(LPCWSTR pwszInfoType, BSTR *pbstrInfo) override
    {
        Record(L"GetSignCertInfo");
        m_args = {pwszInfoType};
        return Answer(pbstrInfo);
    }
    HRESULT SignMsgPKCS7(LPCWSTR pwszSource, LPCWSTR pwszHashAlg, VARIANT_BOOL bWithSrc, BSTR *pbstrSignature) override
    {
        Record(L"SignMsgPKCS7");
        m_args = {pwszSource, pwszHashAlg};
        m_bWithSrc = bWithSrc;
        return Answer(pbstrSignature);
    }
    HRESULT SignMsgPKCS1(LPCWSTR pwszSource, LPCWSTR pwszHashAlg, BSTR *pbstrSignature) override
    {
        Record(L"SignMsgPKCS1");
        m_args = {pwszSource, pwszHashAlg};
        return Answer(pbstrSignature);
    }
    HRESULT GetKeyID(LPCWSTR pwszCSPName, BSTR *pbstrKeyID) override
    {
        Record(L"GetKeyID");
        m_args = {pwszCSPName};
        return Answer(pbstrKeyID);
    }
    HRESULT GetMACAddress(BSTR *pbstrMACAddress) override
    {
        Record(L"GetMACAddress");
        return Answer(pbstrMACAddress);
    }
    HRESULT GetVersion(BSTR *pbstrVersion) override
    {
        Record(L"GetVersion");
        return Answer(pbstrVersion);
    }
    HRESULT GetLastErrorDesc(BSTR *pbstrErrorDesc) override
    {
        Record(L"GetLastErrorDesc");
        return Answer(pbstrErrorDesc);
    }

    std::wstring m_calls;
    std::vector<std::wstring> m_args;
    VARIANT_BOOL m_bWithSrc = 0x1234;

    HRESULT m_hrResult = S_OK;
    VARIANT_BOOL m_bSelected = VARIANT_TRUE;
    const wchar_t *m_pwszResult = L"result";

private:
    void Record(const wchar_t *pwszName)
    {
        m_calls += m_calls.empty() ? std::wstring(pwszName) : std::wstring(L",") + pwszName;
    }
    HRESULT Answer(BSTR *pbstr)
    {
        *pbstr = m_pwszResult != nullptr ? SysAllocString(m_pwszResult) : nullptr;
        return m_hrResult;
    }
};

class RequestHandlers : public ::testing::Test {
protected:
    void SetUp() override { g_pobjCryptoAgent = &m_agent; }
    void TearDown() override { g_pobjCryptoAgent = nullptr; }

    static std::string Respond(const std::string &request)
    {
        char *pszAnswer = nullptr;
        EXPECT_EQ(0, ParseAndRespondRequest(request.c_str(), &pszAnswer));
        std::string answer = pszAnswer != nullptr ? pszAnswer : "(none)";
        delete[] pszAnswer;
        return answer;
    }

    FakeAgent m_agent;
};

TEST_F(RequestHandlers, NamesMatchWithoutRegardToCaseAndAnswerTheirOwnSpelling)
{
    EXPECT_EQ(R"({"function":"SelectCertificate","errorcode":0,"result":true})",
              Respond(R"({"function":"selectcertificate","params":["a","b","c","d"]})"));
    EXPECT_EQ(R"({"function":"GetKeyID","errorcode":0,"result":"result"})",
              Respond(R"({"function":"GETKEYID","params":["csp"]})"));
    EXPECT_EQ(L"SelectCertificate,GetKeyID", m_agent.m_calls);
}

TEST_F(RequestHandlers, CheckHostAnswersZeroWithAnyParameters)
{
    const char kAnswer[] = R"({"function":"CheckHost","errorcode":0,"result":0})";
    EXPECT_EQ(kAnswer, Respond(R"({"function":"checkHost","params":[]})"));
    EXPECT_EQ(kAnswer, Respond(R"({"function":"CheckHost","params":[1,2,3]})"));
    EXPECT_EQ(kAnswer, Respond(R"({"function":"CHECKHOST","params":"x"})"));
    EXPECT_EQ(L"", m_agent.m_calls);
}

TEST_F(RequestHandlers, UnknownOrEmptyNamesGetTheFallback)
{
    EXPECT_EQ(R"({"function":"Sign", "errorcode":-2146893779, "result":false, "randomId":"7"})",
              Respond(R"({"function":"Sign","params":[],"randomId":"7"})"));
    EXPECT_EQ(R"({"function":"", "errorcode":-2146893779, "result":false})", Respond(R"({"function":"","params":[]})"));
    EXPECT_EQ(R"({"function":"", "errorcode":-2146893779, "result":false})", Respond(R"({"function":"GetVersion"})"));
}

TEST_F(RequestHandlers, RandomIdIsEchoedLast)
{
    EXPECT_EQ(R"({"function":"GetVersion","errorcode":0,"result":"3.4.0.6","randomId":"r-1"})",
              Respond(R"({"function":"GetVersion","params":[],"randomId":"r-1"})"));
    EXPECT_EQ(R"({"function":"GetVersion","errorcode":-1,"result":false,"randomId":"r-2"})",
              Respond(R"({"function":"GetVersion","params":[1],"randomId":"r-2"})"));
    EXPECT_EQ(R"({"function":"GetVersion","errorcode":0,"result":"3.4.0.6","randomId":"ab\u0000cd"})",
              Respond(R"({"function":"GetVersion","params":[],"randomId":"ab\u0000cd"})"));
}

TEST_F(RequestHandlers, WrongParameterCountsAreRefusedWithoutCallingTheAgent)
{
    const struct {
        const char *pszRequest;
        const char *pszAnswer;
    } kCases[] = {
        {R"({"function":"SelectCertificate","params":["a","b","c"]})",
         R"({"function":"SelectCertificate","errorcode":-1,"result":false})"},
        {R"({"function":"GetSignCertInfo","params":[]})",
         R"({"function":"GetSignCertInfo","errorcode":-1,"result":false})"},
        {R"({"function":"SignMsgPKCS1","params":["a"]})",
         R"({"function":"SignMsgPKCS1","errorcode":-1,"result":false})"},
        {R"({"function":"SignMsgPKCS7","params":["a","b",true,1]})",
         R"({"function":"SignMsgPKCS7","errorcode":-1,"result":false})"},
        {R"({"function":"GetKeyID","params":{"a":"x","b":"y"}})",
         R"({"function":"GetKeyID","errorcode":-1,"result":false})"},
        {R"({"function":"GetLastErrorDesc","params":[1]})",
         R"({"function":"GetLastErrorDesc","errorcode":-1,"result":false})"},
        {R"({"function":"GetMACAddress","params":["x"]})",
         R"({"function":"GetMACAddress","errorcode":-2147024809,"result":false})"},
        {R"({"function":"GetVersion","params":[null]})", R"({"function":"GetVersion","errorcode":-1,"result":false})"},
    };
    for (const auto &c : kCases) EXPECT_EQ(c.pszAnswer, Respond(c.pszRequest)) << c.pszRequest;
    EXPECT_EQ(L"", m_agent.m_calls);
}

TEST_F(RequestHandlers, ScalarParamsCountAsNoParameters)
{
    EXPECT_EQ(R"({"function":"GetVersion","errorcode":0,"result":"3.4.0.6"})",
              Respond(R"({"function":"GetVersion","params":5})"));
    EXPECT_EQ(R"({"function":"GetSignCertInfo","errorcode":-1,"result":false})",
              Respond(R"({"function":"GetSignCertInfo","params":"CertType"})"));
}

TEST_F(RequestHandlers, ParametersOfTheWrongTypeGiveTheReadersCode)
{
    EXPECT_EQ(R"({"function":"SignMsgPKCS7","errorcode":-1610141180,"result":false})",
              Respond(R"({"function":"SignMsgPKCS7","params":["a","SHA-256","true"]})"));
    EXPECT_EQ(R"({"function":"GetSignCertInfo","errorcode":-1610141180,"result":false})",
              Respond(R"({"function":"GetSignCertInfo","params":[7]})"));
    EXPECT_EQ(R"({"function":"SelectCertificate","errorcode":-1610141180,"result":false})",
              Respond(R"({"function":"SelectCertificate","params":["a","b",{"param":1},"d"]})"));
    EXPECT_EQ(L"", m_agent.m_calls);
}

TEST_F(RequestHandlers, AttachFlagReachesTheAgentAsAutomationBoolean)
{
    Respond(R"({"function":"SignMsgPKCS7","params":["a","SHA-1",{"param":false}]})");
    EXPECT_EQ(VARIANT_FALSE, m_agent.m_bWithSrc);
    Respond(R"({"function":"SignMsgPKCS7","params":["a","SHA-1",true]})");
    EXPECT_EQ(VARIANT_TRUE, m_agent.m_bWithSrc);
    Respond(R"({"function":"SignMsgPKCS7","params":["a","SHA-1",{"param":true}]})");
    EXPECT_EQ(VARIANT_TRUE, m_agent.m_bWithSrc);
}

TEST_F(RequestHandlers, TextsCrossAsUTF16AndBack)
{
    m_agent.m_pwszResult = L"CN=\x5f20\x4e09, O=\x00c9t\x00e9";
    EXPECT_EQ("{\"function\":\"SignMsgPKCS1\",\"errorcode\":0,"
              "\"result\":\"CN=\xe5\xbc\xa0\xe4\xb8\x89, O=\xc3\x89t\xc3\xa9\"}",
              Respond("{\"function\":\"SignMsgPKCS1\",\"params\":[\"\xe4\xbd\xa0\xe5\xa5\xbd\","
                      "{\"param\":\"SHA-256\"}]}"));
    ASSERT_EQ(2u, m_agent.m_args.size());
    EXPECT_EQ(L"\x4f60\x597d", m_agent.m_args[0]);
    EXPECT_EQ(L"SHA-256", m_agent.m_args[1]);

    Respond(R"({"function":"SelectCertificate","params":["s","i",{"param":"0a"},""]})");
    EXPECT_EQ((std::vector<std::wstring> {L"s", L"i", L"0a", L""}), m_agent.m_args);
}

TEST_F(RequestHandlers, AgentFailuresBecomeTheErrorCode)
{
    m_agent.m_hrResult = VESK_E_CERT_NOT_READY;
    EXPECT_EQ(R"({"function":"GetSignCertInfo","errorcode":-1610145791,"result":false})",
              Respond(R"({"function":"GetSignCertInfo","params":["SubjectDN"]})"));
    m_agent.m_bSelected = VARIANT_FALSE;
    m_agent.m_hrResult = VESK_E_TOO_MANY_CERTIFICATES;
    EXPECT_EQ(R"({"function":"SelectCertificate","errorcode":-1610149616,"result":false})",
              Respond(R"({"function":"SelectCertificate","params":["","","",""]})"));
    m_agent.m_hrResult = E_FAIL;
    EXPECT_EQ(R"({"function":"GetLastErrorDesc","errorcode":-1,"result":false})",
              Respond(R"({"function":"GetLastErrorDesc","params":[]})"));
}

TEST_F(RequestHandlers, NonNegativeAgentStatusesCountAsSuccess)
{
    m_agent.m_hrResult = S_FALSE;
    EXPECT_EQ(R"({"function":"GetMACAddress","errorcode":0,"result":"result"})",
              Respond(R"({"function":"GetMACAddress","params":[]})"));
    m_agent.m_bSelected = 1; // anything but VARIANT_TRUE is no selection
    EXPECT_EQ(R"({"function":"SelectCertificate","errorcode":0,"result":false})",
              Respond(R"({"function":"SelectCertificate","params":["","","",""]})"));
}

TEST_F(RequestHandlers, MissingResultStringIsAFailure)
{
    m_agent.m_pwszResult = nullptr;
    EXPECT_EQ(R"({"function":"GetKeyID","errorcode":-2147467261,"result":false})",
              Respond(R"({"function":"GetKeyID","params":["csp"]})"));
    EXPECT_EQ(R"({"function":"GetLastErrorDesc","errorcode":-1,"result":false})",
              Respond(R"({"function":"GetLastErrorDesc","params":[]})"));
}

TEST_F(RequestHandlers, VersionIsAnsweredWithoutTheAgent)
{
    EXPECT_EQ(R"({"function":"GetVersion","errorcode":0,"result":"3.4.0.6"})",
              Respond(R"({"function":"getversion","params":[]})"));
    EXPECT_EQ(L"", m_agent.m_calls);
}

TEST_F(RequestHandlers, AbsentAgentIsRefusedByEveryHandler)
{
    g_pobjCryptoAgent = nullptr;
    EXPECT_EQ(R"({"function":"GetMACAddress","errorcode":-2147024809,"result":false})",
              Respond(R"({"function":"GetMACAddress","params":[]})"));
    EXPECT_EQ(R"({"function":"GetSignCertInfo","errorcode":-1,"result":false})",
              Respond(R"({"function":"GetSignCertInfo","params":["CertType"]})"));
    EXPECT_EQ(R"({"function":"GetVersion","errorcode":-1,"result":false})",
              Respond(R"({"function":"GetVersion","params":[]})"));
}

TEST(Invoke, UnknownNameMakesNoAnswerObject)
{
    cJSON *pResponse = nullptr;
    EXPECT_EQ(-1, Invoke(&pResponse, "NoSuchFunction", nullptr));
    EXPECT_EQ(-1, Invoke(&pResponse, nullptr, nullptr));
    EXPECT_EQ(nullptr, pResponse);
}

} // namespace
