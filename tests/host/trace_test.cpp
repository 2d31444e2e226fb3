#include "TraceHelper.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Wine's event tracing accepts registrations and delivers nothing, so the
// events are read back through the file sink.
class TraceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szDir[MAX_PATH];
        GetTempPathA(sizeof(szDir), szDir);
        m_path = std::string(szDir) + "sigwell_trace_test.log";
        remove(m_path.c_str());
        _putenv_s("SIGWELL_TRACE_SINK", m_path.c_str());
    }

    void TearDown() override
    {
        TraceUnregisterProvider();
        _putenv_s("SIGWELL_TRACE_SINK", "");
        _putenv_s("SIGWELL_TRACE_FLAGS", "");
        remove(m_path.c_str());
    }

    void Start(const char *pszFlags)
    {
        _putenv_s("SIGWELL_TRACE_FLAGS", pszFlags);
        TraceRegisterProvider();
    }

    // Each event as its tab-separated fields: flag, number, set, args...
    std::vector<std::vector<std::string>> Events()
    {
        TraceUnregisterProvider();
        std::vector<std::vector<std::string>> events;
        std::ifstream in(m_path, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            std::vector<std::string> fields;
            std::stringstream ss(line);
            std::string field;
            while (std::getline(ss, field, '\t')) fields.push_back(field);
            events.push_back(fields);
        }
        return events;
    }

    std::string m_path;
};

TEST_F(TraceTest, ScopeSendsEntryAndExitAndKeepsLastError)
{
    Start("0x08");
    {
        TraceHelper helper(L"CCryptoAgent::GetKeyID");
        SetLastError(0x20001102);
    }
    EXPECT_EQ(GetLastError(), 0x20001102u);

    auto events = Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0][1], "10");
    EXPECT_EQ(events[0][3], "CCryptoAgent::GetKeyID");
    EXPECT_EQ(events[1][1], "11");
}

TEST_F(TraceTest, EveryTracePointKeepsLastError)
{
    Start("0xFF");
    SetLastError(ERROR_ACCESS_DENIED);
    TraceStepOK(L"f", L"s");
    TraceStepFailed(__FILE__, __LINE__, L"f", L"s", L"TRUE", E_FAIL);
    TraceStatus(L"CryptSignHash", E_OUTOFMEMORY);
    TraceNarrowOK(__FILE__, __LINE__, "f", "s");
    TraceNarrowFailed(__FILE__, __LINE__, "f", "s", -1, "reason");
    TraceErrorReport(L"f", L"empty length");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(TraceTest, NullAndEmptyNamesTravelAsTexts)
{
    Start("0x08");
    {
        TraceHelper helper(nullptr);
    }
    {
        TraceHelper helper(L"");
    }
    auto events = Events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0][3], "NULL");
    EXPECT_EQ(events[2][3], "<NULL>");
}

TEST_F(TraceTest, StatusSignChoosesEventAndFlag)
{
    Start("0x06");
    TraceStatus(L"New Memory", static_cast<LONG>(0x8007000E));
    TraceStatus(L"CryptAcquireContext", 13);
    auto events = Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0][0], "2");
    EXPECT_EQ(events[0][1], "13");
    EXPECT_EQ(events[0][4], "0x8007000e");
    EXPECT_EQ(events[1][0], "4");
    EXPECT_EQ(events[1][1], "14");
}

TEST_F(TraceTest, FlagsNotSetSendNothing)
{
    Start("0x01");
    TraceStatus(L"x", E_FAIL);
    TraceStepOK(L"f", L"s");
    {
        TraceHelper helper(L"f");
    }
    EXPECT_TRUE(Events().empty());
}

TEST_F(TraceTest, LinesHaveTheirFormats)
{
    Start("0xFF");
    TraceStepOK(L"CCryptoAgent::SelectCertificate", L"Check certificate count");
    TraceStepFailed("Sigwell/CryptoAgent.cpp", 42, L"CCryptoAgent::SignMsgPKCS1", L"CryptSignHash", L"FALSE == bResult",
                    E_FAIL);
    TraceNarrowOK("host\\IOStream.cpp", 7, "ReadFromNativeMessaging", "_read(body)");
    TraceNarrowFailed("host/IOStream.cpp", 9, "WriteToNativeMessaging", "write", -1, "nWriteSize != nWriteBufSize");
    auto events = Events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0][3], "CCryptoAgent::SelectCertificate - Check certificate count");
    EXPECT_EQ(events[1][3],
              "[CryptoAgent(42):] CCryptoAgent::SignMsgPKCS1 - CryptSignHash "
              "[Reason:FALSE == bResult]");
    EXPECT_EQ(events[1][4], "0x80004005");
    EXPECT_EQ(events[2][2], "IOStream");
    EXPECT_EQ(events[2][3], "[IOStream(7)]:(ReadFromNativeMessaging -- _read(body))\\t\\t--OK\\n");
    EXPECT_EQ(events[3][3],
              "[IOStream(9):](WriteToNativeMessaging -- write)\\t\\t--Failed:"
              "(0xffffffff) [Reason:nWriteSize != nWriteBufSize]\\n");
}

TEST_F(TraceTest, LongCallerTextIsTruncatedToTheLine)
{
    Start("0xFF");
    std::wstring longStep(5000, L'x');
    std::string longNarrow(5000, 'y');
    TraceStepOK(L"f", longStep.c_str());
    TraceNarrowFailed(__FILE__, 1, "f", longNarrow.c_str(), -1, "r");
    auto events = Events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0][3].size(), TRACE_LINE_CCH - 1);
    EXPECT_EQ(events[1][3].size(), TRACE_LINE_CCH - 1);
}

} // namespace
