// Token access over the simulated token: enumeration, container opening
// and creation, error mapping, the PIN cache and the log forms.
#include "../tokensim/TokenFixture.h"
#include "DebugLog.h"
#include "PinCache.h"
#include "TokenAccess.h"

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

using tokentest::AddToken;
using tokentest::EditStore;

DWORD g_choice = 0; // 0: the chooser takes the second token; else its error

} // namespace

DWORD ChooseTokenDevice(char* deviceName)
{
    if (g_choice) return g_choice;
    std::strcpy(deviceName, tokensim::DeviceNameFor("B").c_str());
    return 0;
}

namespace {

void AddContainers(const std::string& serial, int count, const char* prefix = "c")
{
    EditStore([&](tokensim::State& s) {
        for (int i = 0; i < count; ++i)
            ASSERT_NE(s.FindBySerial(serial)->AddContainer(prefix + std::to_string(i)), nullptr);
    });
}

class TokenAccess : public tokentest::StoreFixture {
protected:
    static void SetUpTestSuite()
    {
        InitializeCriticalSection(&PinCacheLock);
        LoadDeviceLibrary();
    }
    void SetUp() override
    {
        StoreFixture::SetUp();
        ASSERT_NE(g_FuncList, nullptr);
        std::memset(PinCache, 0, sizeof PinCache);
        LogFilePath[0] = '\0';
        g_choice = 0;
    }
    void TearDown() override
    {
        if (m_session.device) g_FuncList->CloseToken(m_session.device);
        StoreFixture::TearDown();
    }
    TokenSession m_session = {};
    std::uint8_t m_record[devicelib::UK_CONTAINER_RECORD_LEN] = {};
};

TEST_F(TokenAccess, NoTokenIsError55UnlessVerifyContext)
{
    EXPECT_EQ(Token_OpenContainer(nullptr, 0, &m_session, m_record), 55u);
    EXPECT_EQ(Token_OpenContainer(nullptr, kCryptVerifyContext, &m_session, m_record), 0u);
    EXPECT_EQ(m_session.device, 0u);
    EXPECT_EQ(Token_CreateContainer(nullptr, 0, &m_session, m_record), 55u);
}

TEST_F(TokenAccess, ContainerOnlyTheSecondTokenHoldsIsFound)
{
    AddToken("A");
    AddToken("B");
    AddContainers("A", 1, "a");
    AddContainers("B", 1, "b");
    ASSERT_EQ(Token_OpenContainer("b0", 0, &m_session, m_record), 0u);
    EXPECT_STREQ(m_session.deviceName, tokensim::DeviceNameFor("B").c_str());
    EXPECT_STREQ(reinterpret_cast<char*>(m_record + devicelib::container::kName), "b0");
    EXPECT_EQ(m_session.funcs, g_FuncList);
    EXPECT_EQ(m_session.deviceKind, 1u);
}

TEST_F(TokenAccess, EveryListedContainerCanBeOpened)
{
    AddToken("A");
    AddContainers("A", 16);
    EXPECT_EQ(Token_OpenContainer("c15", 0, &m_session, m_record), 0u);
}

TEST_F(TokenAccess, UnknownNameIsBadKeysetAndLongNameIsBadData)
{
    AddToken("A");
    EXPECT_EQ(Token_OpenContainer("nothing", 0, &m_session, m_record), 0x80090016u);
    std::string longName(129, 'x');
    EXPECT_EQ(Token_OpenContainer(longName.c_str(), 0, &m_session, m_record), 0x80090005u);
    EXPECT_EQ(Token_CreateContainer(longName.c_str(), 0, &m_session, m_record), 0x80090005u);
}

TEST_F(TokenAccess, CreateKeepsTheHeaderTheTokenAssigned)
{
    AddToken("A");
    ASSERT_EQ(Token_CreateContainer("", 0, &m_session, m_record), 0u);
    EXPECT_NE(m_record[devicelib::container::kNumber], 0);
    EXPECT_STREQ(reinterpret_cast<char*>(m_record + devicelib::container::kName), kDefaultContainerName);
}

TEST_F(TokenAccess, SeveralTokensAskTheChooser)
{
    AddToken("A");
    AddToken("B");
    ASSERT_EQ(Token_CreateContainer("n", 0, &m_session, m_record), 0u);
    EXPECT_STREQ(m_session.deviceName, tokensim::DeviceNameFor("B").c_str());
    g_FuncList->CloseToken(m_session.device);
    m_session = {};
    g_choice = 1223;
    EXPECT_EQ(Token_CreateContainer("n", 0, &m_session, m_record), 1223u);
}

struct EnumCase {
    const char* name;
    int tokens;
    int containersEach;
};

class Enumeration : public TokenAccess, public ::testing::WithParamInterface<EnumCase> { };

TEST_P(Enumeration, ListsEveryContainerOfEveryToken)
{
    const EnumCase& c = GetParam();
    for (int t = 0; t < c.tokens; ++t) {
        std::string serial = "S" + std::to_string(t);
        AddToken(serial);
        AddContainers(serial, c.containersEach);
    }
    std::vector<ListedContainer> list;
    ASSERT_EQ(Token_ListContainers(list), 0u);
    EXPECT_EQ(list.size(), static_cast<std::size_t>(c.tokens * c.containersEach));
}

INSTANTIATE_TEST_SUITE_P(TokenCounts, Enumeration,
                         ::testing::Values(EnumCase {"none", 0, 0}, EnumCase {"one", 1, 3}, EnumCase {"several", 3, 2},
                                           EnumCase {"moreThanSixteen", 1, 20}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TokenAccess, EnumerationFailuresMapToTheirCodes)
{
    AddToken("A");
    EditStore([](tokensim::State& s) { s.faults.push_back({3, 0x80006F00, 1}); });
    std::vector<ListedContainer> list;
    EXPECT_EQ(Token_ListContainers(list), 648u);
    EditStore([](tokensim::State& s) { s.faults.push_back({63, 0x80006F00, 1}); });
    EXPECT_EQ(Token_ListContainers(list), 1207u);
}

TEST_F(TokenAccess, LoginPassesWrongPinStatusThrough)
{
    AddToken("A");
    ASSERT_EQ(Token_OpenContainer(nullptr, 0, &m_session, m_record), 0u);
    EXPECT_EQ(Token_Login(&m_session, reinterpret_cast<const std::uint8_t*>("99999999"), 8), 0x800063C5u);
    EXPECT_EQ(Token_Login(&m_session, reinterpret_cast<const std::uint8_t*>("12345678"), 8), 0u);
}

TEST_F(TokenAccess, RandomOverTheLimitNeverReachesTheToken)
{
    AddToken("A");
    ASSERT_EQ(Token_OpenContainer(nullptr, 0, &m_session, m_record), 0u);
    std::uint8_t buf[1025];
    EXPECT_EQ(Token_GenRandom(&m_session, 1025, buf), 0x80090004u);
    EXPECT_EQ(Token_GenRandom(&m_session, 1024, buf), 0u);
}

TEST_F(TokenAccess, LabelAndSerialOfAToken)
{
    AddToken("A");
    char label[kLabelRoom], serial[kLabelRoom];
    ASSERT_EQ(Token_GetLabelAndSerial(tokensim::DeviceNameFor("A").c_str(), label, serial), 0u);
    EXPECT_STREQ(label, "VESK UKey A");
    EXPECT_STREQ(serial, "A");
    EXPECT_EQ(Token_GetLabelAndSerial("no such token", label, serial), 4319u);
}

TEST_F(TokenAccess, CachedPinFollowsTheTokenNameUntilCleared)
{
    AddToken("A");
    ASSERT_EQ(Token_OpenContainer(nullptr, 0, &m_session, m_record), 0u);
    std::memcpy(m_session.pin, "12345678", 8);
    m_session.pinLength = 8;
    PinCache_Store(&m_session);
    TokenSession later = {};
    std::uint8_t record[devicelib::UK_CONTAINER_RECORD_LEN];
    ASSERT_EQ(Token_OpenContainer(nullptr, 0, &later, record), 0u);
    EXPECT_EQ(later.pinLength, 8);
    g_FuncList->CloseToken(later.device);
    std::wstring upper;
    for (char ch : tokensim::DeviceNameFor("A")) upper += static_cast<wchar_t>(toupper(static_cast<unsigned char>(ch)));
    PinCache_ClearByName(upper.c_str());
    later = {};
    ASSERT_EQ(Token_OpenContainer(nullptr, 0, &later, record), 0u);
    EXPECT_EQ(later.pinLength, 0);
    g_FuncList->CloseToken(later.device);
}

TEST_F(TokenAccess, RemovedTokenLosesItsCacheEntry)
{
    AddToken("A");
    AddToken("B");
    ASSERT_EQ(Token_OpenContainer(nullptr, 0, &m_session, m_record), 0u);
    m_session.pinLength = 3;
    PinCache_Store(&m_session);
    EditStore([](tokensim::State& s) { tokensim::SetPresent(s, "A", false); });
    std::uint8_t record[devicelib::UK_CONTAINER_RECORD_LEN];
    TokenSession other = {};
    ASSERT_EQ(Token_OpenContainer(nullptr, 0, &other, record), 0u);
    g_FuncList->CloseToken(other.device);
    EditStore([](tokensim::State& s) { tokensim::SetPresent(s, "A", true); });
    TokenSession back = {};
    ASSERT_EQ(Token_OpenContainer(nullptr, 0, &back, record), 0u);
    EXPECT_STREQ(back.deviceName, tokensim::DeviceNameFor("A").c_str());
    EXPECT_EQ(back.pinLength, 0);
    g_FuncList->CloseToken(back.device);
}

TEST(DebugLog, CodeAndHexDumpForms)
{
    std::string path = tokentest::TempPath("csp-log");
    DeleteFileA(path.c_str());
    std::strcpy(LogFilePath, path.c_str());
    LogCode(0x80090020);
    std::uint8_t bytes[17];
    for (int i = 0; i < 17; ++i) bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
    char work[kLogHexWorkSize] = {};
    LogHex(bytes, 17, work);
    LogFilePath[0] = '\0';
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(),
              "0x80090020 \r\n"
              "A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF \r\n              B0 \r\n");
    DeleteFileA(path.c_str());
}

} // namespace
